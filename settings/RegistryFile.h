#pragma once
// The per-user registry: a text file in the format of a Windows .reg export (UTF-8), which an
// operator can edit and scripts can write. Values keep their type; keys and values we do not
// know are carried through our writes untouched. Every read looks at the file afresh, every
// write is read-modify-write under an inter-process lock and lands by atomic rename, so two
// programs writing at once never lose each other's values and a crash never leaves half a file.
//
// A line that cannot be understood (a hand edit gone wrong) is skipped and reported once, and
// our writes carry it through verbatim; every other value still reads. Only a file that is no
// registry export at all is never overwritten in place: reads see no values, and the next
// write first moves it aside as "<file>.damaged-<UTC time>".

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TRegistryDocument;

class TRegistryFile {
public:
    explicit TRegistryFile(std::string path);

    const std::string& Path() const { return path_; }

    // Keys are written "\Software\Quillon\orvanta" (HKEY_CURRENT_USER implied); key and value
    // names compare without regard to letter case, as they do in the .reg files of other programs.
    bool KeyExists(std::string_view key) const;
    bool ValueExists(std::string_view key, std::string_view name) const;
    // nullopt when the key or value is missing or the value has another type.
    std::optional<std::int32_t> ReadInteger(std::string_view key, std::string_view name) const;
    std::optional<std::string> ReadString(std::string_view key, std::string_view name) const;

    // False when the value could not be stored (no directory, a full disk, a string with line
    // breaks, which the format cannot carry).
    bool WriteInteger(std::string_view key, std::string_view name, std::int32_t value);
    bool WriteString(std::string_view key, std::string_view name, std::string_view value);
    bool CreateKey(std::string_view key);

    // True when the file exists but cannot be understood.
    bool IsDamaged() const;

private:
    struct Update;
    bool Modify(std::string_view key, const Update& update);
    std::optional<TRegistryDocument> Load() const;

    std::string path_;
};

// Where reports on the settings file go besides standard error (the process log, once it is
// open). Reports made before a receiver is set are handed to it when it is set; each report is
// made once per process. An empty function stops delivery.
void SetSettingsReportReceiver(std::function<void(const std::string&)> receiver);

// The text form; exposed for the tests and for tools that produce registry files.
std::optional<TRegistryDocument> ParseRegistryText(std::string_view text);
std::string RegistryStringLiteral(std::string_view value);

struct TRegistryValue {
    enum class Kind { String, Dword, Other };
    std::string Name;            // unescaped; "@" for a key's default value
    Kind Type = Kind::Other;
    std::string Text;            // String: the unescaped text
    std::uint32_t Dword = 0;
    std::vector<std::string> Raw;  // Other: the lines as they stood, kept verbatim
};

struct TRegistryItem {
    bool IsComment = false;  // a comment, or a line that could not be read: kept verbatim
    std::string Comment;  // the whole line, when IsComment
    TRegistryValue Value;
};

struct TRegistryKey {
    std::string Header;  // between the brackets, as written; the whole line when Unreadable
    std::vector<TRegistryItem> Items;
    // A header line that could not be read: kept verbatim, and the values under it belong to
    // no key we would guess at.
    bool Unreadable = false;
};

struct TRegistryUnreadableLine {
    int Number;  // from 1
    std::string Text;
};

struct TRegistryDocument {
    std::string Signature = "Windows Registry Editor Version 5.00";
    std::vector<std::string> Preamble;  // comments before the first key
    std::vector<TRegistryKey> Keys;
    std::vector<TRegistryUnreadableLine> Unreadable;

    std::string ToText() const;
    const TRegistryValue* Find(std::string_view key, std::string_view name) const;
    bool HasKey(std::string_view key) const;
};
