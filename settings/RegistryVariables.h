#pragma once
// Settings objects bound to one named value under the program's registry key: they read the
// value (or keep their default) when created and write it back on Save and when destroyed.

#include <cstdint>
#include <string>

class TRegistryVariable {
public:
    explicit TRegistryVariable(std::string name);
    virtual ~TRegistryVariable() = default;
    TRegistryVariable(const TRegistryVariable&) = delete;
    TRegistryVariable& operator=(const TRegistryVariable&) = delete;

    virtual void Save() = 0;

    std::string Name;
    std::string Key;      // "\Software\Quillon\" + program name, fixed at creation
    std::string RootKey;  // the registry file of the current user, fixed at creation
};

class TRegistryBoolean : public TRegistryVariable {
public:
    TRegistryBoolean(std::string name, bool defaultValue);
    ~TRegistryBoolean() override;
    void Save() override;
    bool Value;
};

class TRegistryInteger : public TRegistryVariable {
public:
    TRegistryInteger(std::string name, std::int32_t defaultValue);
    ~TRegistryInteger() override;
    void Save() override;
    std::int32_t Value;
};

class TRegistryString : public TRegistryVariable {
public:
    TRegistryString(std::string name, std::string defaultValue);
    ~TRegistryString() override;
    void Save() override;
    // Save, telling whether the value reached the settings file (errno says why not).
    bool SaveChecked();
    std::string Value;
};

// A path that a companion program of ours stored under "\Software\Quillon\App Paths";
// empty when there is none.
std::string ReadAppPath(const std::string& valueName);
