#include "settings/RegistryVariables.h"

#include "settings/ProgramPaths.h"
#include "settings/RegistryFile.h"

TRegistryVariable::TRegistryVariable(std::string name)
    : Name(std::move(name)), Key(ProgramKey()), RootKey(RegistryFilePath())
{
}

// Reading never creates the key; a value of another type leaves the default.
TRegistryBoolean::TRegistryBoolean(std::string name, bool defaultValue)
    : TRegistryVariable(std::move(name)), Value(defaultValue)
{
    if (auto v = TRegistryFile(RootKey).ReadInteger(Key, Name)) Value = *v != 0;
}

TRegistryBoolean::~TRegistryBoolean() { TRegistryBoolean::Save(); }

void TRegistryBoolean::Save()
{
    TRegistryFile(RootKey).WriteInteger(Key, Name, Value ? 1 : 0);
}

TRegistryInteger::TRegistryInteger(std::string name, std::int32_t defaultValue)
    : TRegistryVariable(std::move(name)), Value(defaultValue)
{
    if (auto v = TRegistryFile(RootKey).ReadInteger(Key, Name)) Value = *v;
}

TRegistryInteger::~TRegistryInteger() { TRegistryInteger::Save(); }

void TRegistryInteger::Save()
{
    TRegistryFile(RootKey).WriteInteger(Key, Name, Value);
}

TRegistryString::TRegistryString(std::string name, std::string defaultValue)
    : TRegistryVariable(std::move(name)), Value(std::move(defaultValue))
{
    if (auto v = TRegistryFile(RootKey).ReadString(Key, Name)) Value = std::move(*v);
}

TRegistryString::~TRegistryString() { TRegistryString::Save(); }

void TRegistryString::Save() { SaveChecked(); }

bool TRegistryString::SaveChecked() { return TRegistryFile(RootKey).WriteString(Key, Name, Value); }

std::string ReadAppPath(const std::string& valueName)
{
    return TRegistryFile(RegistryFilePath()).ReadString(AppPathsKey(), valueName).value_or(std::string());
}
