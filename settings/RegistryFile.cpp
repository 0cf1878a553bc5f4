#include "settings/RegistryFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <set>

#include "base/Files.h"
#include "base/PartialFile.h"
#include "settings/ProgramPaths.h"

namespace {

constexpr std::string_view kHive = "HKEY_CURRENT_USER\\";
// Far beyond any settings file; anything larger is not ours to parse.
constexpr std::uintmax_t kMaxFileSize = 16u << 20;

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

// "\Software\X", "Software\X" and "HKEY_CURRENT_USER\Software\X" name the same key; a key of
// another hive gets no common form and so never matches ours.
std::string NormalKey(std::string_view key)
{
    while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
    while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
    return std::string(key);
}

std::optional<std::string> HeaderKey(const TRegistryKey& key)
{
    const std::string_view header = key.Header;
    if (key.Unreadable || header.size() < kHive.size() || !SameText(header.substr(0, kHive.size()), kHive))
        return std::nullopt;
    return NormalKey(header.substr(kHive.size()));
}

std::string_view TrimRight(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string_view TrimLeft(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

// Reads a quoted string at the start of s; returns the text and how much of s it used.
std::optional<std::pair<std::string, std::size_t>> ReadQuoted(std::string_view s)
{
    if (s.empty() || s[0] != '"') return std::nullopt;
    std::string out;
    for (std::size_t i = 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') return std::make_pair(out, i + 1);
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out += s[++i];
            continue;
        }
        out += c;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> ParseDword(std::string_view hex)
{
    if (hex.empty() || hex.size() > 8) return std::nullopt;
    std::uint32_t v = 0;
    for (char c : hex) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return std::nullopt;
        v = v * 16 + static_cast<std::uint32_t>(d);
    }
    return v;
}

void AppendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) out += static_cast<char>(cp);
    else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// regedit itself exports UTF-16LE; an operator may copy such a file straight in.
std::string Utf16LeToUtf8(std::string_view bytes)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        std::uint32_t u = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
            const std::uint32_t lo = static_cast<unsigned char>(bytes[i + 2]) | (static_cast<unsigned char>(bytes[i + 3]) << 8);
            if (lo >= 0xDC00 && lo < 0xE000) {
                u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                i += 2;
            }
        }
        AppendUtf8(out, u);
    }
    return out;
}

bool HasLineBreakOrControl(std::string_view s)
{
    for (unsigned char c : s)
        if (c < 0x20 && c != '\t') return true;
    return false;
}

struct TReports {
    std::mutex mutex;
    std::set<std::string> made;
    std::vector<std::string> pending;
    std::function<void(const std::string&)> receiver;
};

TReports& Reports()
{
    static TReports reports;
    return reports;
}

// Said once per process, however often the file is read: on standard error at once, and in
// the process log as soon as it is open. `once` tells reports apart where the text alone would
// not: a bad line that our own write moved down is the same line.
void Report(std::string text, const std::string& once = {})
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    std::function<void(const std::string&)> receiver;
    {
        std::lock_guard lock(Reports().mutex);
        if (!Reports().made.insert(once.empty() ? text : once).second) return;
        receiver = Reports().receiver;
        if (!receiver) Reports().pending.push_back(text);
    }
    std::fprintf(stderr, "%s: %s\n", ProgramName().c_str(), text.c_str());
    if (receiver) receiver(text);
}

// Holds an flock on the registry's lock file for as long as it lives.
class TRegistryLock {
public:
    TRegistryLock(const std::string& registryPath, bool exclusive)
    {
        const std::string lockPath = registryPath + ".lock";
        const TOpenFile file = OpenRegularFile(lockPath, O_RDWR | O_CREAT);
        // Reads go on without it; a write without it could lose another program's values.
        if (file.NotRegular())
            Report("Settings lock file " + lockPath + " is " + file.Problem + "; no setting is saved");
        fd_ = file.Fd;
        if (fd_ < 0) return;
        while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno != EINTR) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~TRegistryLock()
    {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    TRegistryLock(const TRegistryLock&) = delete;
    TRegistryLock& operator=(const TRegistryLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// NotRegular: a FIFO, a directory, ... stands at the path; it is neither read nor replaced
// nor moved aside, as it is not the station's.
enum class ReadState { Missing, Ok, Damaged, NotRegular };

ReadState ReadWholeFile(const std::string& path, std::string& out, std::string& problem)
{
    TSmallFile file = ReadSmallRegularFile(path, kMaxFileSize);
    problem = file.Problem;
    if (file.Missing) return ReadState::Missing;
    if (file.NotRegular) return ReadState::NotRegular;
    if (!file.Problem.empty()) return ReadState::Damaged;
    out = std::move(file.Text);
    return ReadState::Ok;
}

// The settings file is readable by all and writable by its owner, whatever the umask.
bool WriteAtomically(const std::string& path, const std::string& text)
{
    try {
        TPartialFile file(path);
        file.setPermissions(0644);
        file.write(text.data(), text.size());
        file.commit();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string DamagedName(const std::string& path)
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &tm);
    std::string name = path + ".damaged-" + stamp;
    std::error_code ec;
    for (int i = 1; std::filesystem::exists(name, ec); ++i)
        name = path + ".damaged-" + stamp + "-" + std::to_string(i);
    return name;
}

void ReportUnreadableLines(const std::string& path, const TRegistryDocument& doc)
{
    for (const auto& l : doc.Unreadable)
        Report("Settings file " + path + " line " + std::to_string(l.Number) + " cannot be read and is skipped: "
                   + l.Text,
               path + '\n' + l.Text);
}

// Names the first line of a file that is no registry export, so the operator sees what it is.
std::string NotAnExport(const std::string& path, ReadState state, std::string_view text, const std::string& problem)
{
    if (state != ReadState::Ok) return "Settings file " + path + " cannot be read (" + problem + ")";
    int number = 1;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = TrimLeft(TrimRight(text.substr(pos, end - pos)));
        if (!line.empty())
            return "Settings file " + path + " is no registry export (line " + std::to_string(number) + ": "
                   + std::string(line.substr(0, 80)) + ")";
        pos = end + 1;
        ++number;
    }
    return "Settings file " + path + " is no registry export";
}

std::string NotRegularText(const std::string& path, const std::string& problem)
{
    return "Settings file " + path + " is " + problem + "; the defaults are used and no setting is saved";
}

// The text without its byte order mark; UTF-16 is converted into 'converted', which the
// returned view then points into.
std::string_view WithoutByteOrderMark(std::string_view text, std::string& converted)
{
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF && static_cast<unsigned char>(text[1]) == 0xFE) {
        converted = Utf16LeToUtf8(text.substr(2));
        text = converted;
    } else if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    return text;
}

void KeepUnread(TRegistryDocument& doc, int number, std::string_view line)
{
    doc.Unreadable.push_back(TRegistryUnreadableLine{number, std::string(line)});
    if (doc.Keys.empty()) doc.Preamble.emplace_back(line);
    else doc.Keys.back().Items.push_back(TRegistryItem{true, std::string(line), {}});
}

void AddComment(TRegistryDocument& doc, std::string_view line)
{
    TRegistryItem item;
    item.IsComment = true;
    item.Comment = std::string(line);
    if (doc.Keys.empty()) doc.Preamble.push_back(item.Comment);
    else doc.Keys.back().Items.push_back(std::move(item));
}

// A damaged header still opens a key, so that its values are not taken for the previous key's.
void AddKeyHeader(TRegistryDocument& doc, int number, std::string_view line, std::string_view body)
{
    if (body.back() != ']' || body.size() < 3) {
        doc.Unreadable.push_back(TRegistryUnreadableLine{number, std::string(line)});
        doc.Keys.push_back(TRegistryKey{std::string(line), {}, true});
    } else {
        doc.Keys.push_back(TRegistryKey{std::string(body.substr(1, body.size() - 2)), {}});
    }
}

// One 'name=data' line; nothing when it cannot be read.
std::optional<TRegistryValue> ReadValueLine(std::string_view line, std::string_view body)
{
    TRegistryValue value;
    std::string_view rest;
    if (body[0] == '@') {
        value.Name = "@";
        rest = body.substr(1);
    } else {
        auto name = ReadQuoted(body);
        if (!name) return std::nullopt;
        value.Name = name->first;
        rest = body.substr(name->second);
    }
    rest = TrimLeft(rest);
    if (rest.empty() || rest[0] != '=') return std::nullopt;
    rest = TrimLeft(rest.substr(1));

    if (!rest.empty() && rest[0] == '"') {
        auto str = ReadQuoted(rest);
        if (!str || !TrimLeft(rest.substr(str->second)).empty()) return std::nullopt;
        value.Type = TRegistryValue::Kind::String;
        value.Text = str->first;
    } else if (rest.size() > 6 && SameText(rest.substr(0, 6), "dword:")) {
        auto dw = ParseDword(rest.substr(6));
        if (!dw) return std::nullopt;
        value.Type = TRegistryValue::Kind::Dword;
        value.Dword = *dw;
    } else if ((rest.size() >= 4 && SameText(rest.substr(0, 3), "hex")) || rest == "-") {
        value.Type = TRegistryValue::Kind::Other;
        value.Raw.emplace_back(line);
    } else {
        return std::nullopt;
    }
    return value;
}

}  // namespace

void SetSettingsReportReceiver(std::function<void(const std::string&)> receiver)
{
    std::vector<std::string> pending;
    {
        std::lock_guard lock(Reports().mutex);
        Reports().receiver = receiver;
        if (receiver) pending.swap(Reports().pending);
    }
    for (const auto& text : pending) receiver(text);
}

std::string RegistryStringLiteral(std::string_view value)
{
    std::string out = "\"";
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::optional<TRegistryDocument> ParseRegistryText(std::string_view text)
{
    std::string converted;
    text = WithoutByteOrderMark(text, converted);

    TRegistryDocument doc;
    bool signatureSeen = false;
    TRegistryValue* continued = nullptr;  // a hex value running on over several lines
    int number = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view rawLine = text.substr(pos, end - pos);
        pos = end + 1;
        ++number;
        const std::string_view line = TrimRight(rawLine);

        if (continued) {
            continued->Raw.emplace_back(line);
            if (line.empty() || line.back() != '\\') continued = nullptr;
            continue;
        }
        const std::string_view body = TrimLeft(line);
        if (body.empty()) continue;
        if (!signatureSeen) {
            if (body != "Windows Registry Editor Version 5.00" && body != "REGEDIT4") return std::nullopt;
            doc.Signature = std::string(body);
            signatureSeen = true;
            continue;
        }
        if (body[0] == ';') {
            AddComment(doc, line);
            continue;
        }
        if (body[0] == '[') {
            AddKeyHeader(doc, number, line, body);
            continue;
        }
        std::optional<TRegistryValue> value;
        if (!doc.Keys.empty()) value = ReadValueLine(line, body);
        if (!value) {
            // One bad hand edit must not cost the operator every other setting: the line is
            // kept as it stands and means nothing.
            KeepUnread(doc, number, line);
            continue;
        }
        auto& items = doc.Keys.back().Items;
        items.push_back(TRegistryItem{false, {}, std::move(*value)});
        if (items.back().Value.Type == TRegistryValue::Kind::Other && line.back() == '\\')
            continued = &items.back().Value;
    }
    // A file of blank lines only holds nothing, but it is not damaged either.
    return doc;
}

std::string TRegistryDocument::ToText() const
{
    std::string out = Signature + "\n\n";
    for (const auto& c : Preamble) out += c + "\n";
    if (!Preamble.empty()) out += "\n";
    for (const auto& key : Keys) {
        out += key.Unreadable ? key.Header + "\n" : "[" + key.Header + "]\n";
        for (const auto& item : key.Items) {
            if (item.IsComment) {
                out += item.Comment + "\n";
                continue;
            }
            const auto& v = item.Value;
            const std::string name = v.Name == "@" ? std::string("@") : RegistryStringLiteral(v.Name);
            switch (v.Type) {
            case TRegistryValue::Kind::String:
                out += name + "=" + RegistryStringLiteral(v.Text) + "\n";
                break;
            case TRegistryValue::Kind::Dword: {
                char hex[16];
                std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(v.Dword));
                out += name + "=dword:" + hex + "\n";
                break;
            }
            case TRegistryValue::Kind::Other:
                for (const auto& l : v.Raw) out += l + "\n";
                break;
            }
        }
        out += "\n";
    }
    return out;
}

const TRegistryValue* TRegistryDocument::Find(std::string_view key, std::string_view name) const
{
    const std::string wanted = NormalKey(key);
    const TRegistryValue* found = nullptr;
    // A later section or line overrides an earlier one, as when the file is imported.
    for (const auto& k : Keys) {
        const auto hk = HeaderKey(k);
        if (!hk || !SameText(*hk, wanted)) continue;
        for (const auto& item : k.Items)
            if (!item.IsComment && SameText(item.Value.Name, name)) found = &item.Value;
    }
    return found;
}

bool TRegistryDocument::HasKey(std::string_view key) const
{
    const std::string wanted = NormalKey(key);
    for (const auto& k : Keys) {
        const auto hk = HeaderKey(k);
        if (!hk) continue;
        if (SameText(*hk, wanted)) return true;
        if (hk->size() > wanted.size() && (*hk)[wanted.size()] == '\\'
            && SameText(std::string_view(*hk).substr(0, wanted.size()), wanted))
            return true;
    }
    return false;
}

struct TRegistryFile::Update {
    bool hasValue = false;
    TRegistryValue value;
};

TRegistryFile::TRegistryFile(std::string path) : path_(std::move(path)) {}

std::optional<TRegistryDocument> TRegistryFile::Load() const
{
    std::string text, problem;
    ReadState state;
    {
        TRegistryLock lock(path_, false);
        state = ReadWholeFile(path_, text, problem);
    }
    if (state == ReadState::Missing) return TRegistryDocument{};
    if (state == ReadState::NotRegular) {
        Report(NotRegularText(path_, problem));
        return std::nullopt;
    }
    auto doc = state == ReadState::Ok ? ParseRegistryText(text) : std::nullopt;
    if (doc) ReportUnreadableLines(path_, *doc);
    else Report(NotAnExport(path_, state, text, problem) + "; its settings are not used");
    return doc;
}

bool TRegistryFile::IsDamaged() const
{
    return !Load().has_value();
}

bool TRegistryFile::KeyExists(std::string_view key) const
{
    const auto doc = Load();
    return doc && doc->HasKey(key);
}

bool TRegistryFile::ValueExists(std::string_view key, std::string_view name) const
{
    const auto doc = Load();
    return doc && doc->Find(key, name) != nullptr;
}

std::optional<std::int32_t> TRegistryFile::ReadInteger(std::string_view key, std::string_view name) const
{
    const auto doc = Load();
    if (!doc) return std::nullopt;
    const TRegistryValue* v = doc->Find(key, name);
    if (!v || v->Type != TRegistryValue::Kind::Dword) return std::nullopt;
    return static_cast<std::int32_t>(v->Dword);
}

std::optional<std::string> TRegistryFile::ReadString(std::string_view key, std::string_view name) const
{
    const auto doc = Load();
    if (!doc) return std::nullopt;
    const TRegistryValue* v = doc->Find(key, name);
    if (!v || v->Type != TRegistryValue::Kind::String) return std::nullopt;
    return v->Text;
}

bool TRegistryFile::Modify(std::string_view key, const Update& update)
{
    const std::filesystem::path dir = std::filesystem::path(path_).parent_path();
    if (!dir.empty() && !ForceDirectories(dir.string())) return false;
    TRegistryLock lock(path_, true);
    if (!lock.Held()) return false;

    std::string text, problem;
    std::optional<TRegistryDocument> doc;
    const ReadState state = ReadWholeFile(path_, text, problem);
    switch (state) {
    case ReadState::Missing: doc = TRegistryDocument{}; break;
    case ReadState::Ok: doc = ParseRegistryText(text); break;
    case ReadState::Damaged: break;
    case ReadState::NotRegular:
        Report(NotRegularText(path_, problem));
        return false;
    }
    if (doc) {
        ReportUnreadableLines(path_, *doc);
    } else {
        const std::string aside = DamagedName(path_);
        if (::rename(path_.c_str(), aside.c_str()) != 0) return false;
        Report(NotAnExport(path_, state, text, problem) + "; moved to " + aside);
        doc = TRegistryDocument{};
    }

    const std::string wanted = NormalKey(key);
    TRegistryKey* section = nullptr;
    TRegistryValue* existing = nullptr;
    for (auto& k : doc->Keys) {
        const auto hk = HeaderKey(k);
        if (!hk || !SameText(*hk, wanted)) continue;
        section = &k;
        for (auto& item : k.Items)
            if (update.hasValue && !item.IsComment && SameText(item.Value.Name, update.value.Name))
                existing = &item.Value;
    }
    if (!section) {
        doc->Keys.push_back(TRegistryKey{std::string(kHive) + wanted, {}});
        section = &doc->Keys.back();
    }
    if (update.hasValue) {
        if (existing) {
            const std::string keptName = existing->Name;
            *existing = update.value;
            existing->Name = keptName;
        } else {
            section->Items.push_back(TRegistryItem{false, {}, update.value});
        }
    }
    return WriteAtomically(path_, doc->ToText());
}

bool TRegistryFile::WriteInteger(std::string_view key, std::string_view name, std::int32_t value)
{
    if (HasLineBreakOrControl(name)) return false;
    Update u;
    u.hasValue = true;
    u.value.Name = std::string(name);
    u.value.Type = TRegistryValue::Kind::Dword;
    u.value.Dword = static_cast<std::uint32_t>(value);
    return Modify(key, u);
}

bool TRegistryFile::WriteString(std::string_view key, std::string_view name, std::string_view value)
{
    if (HasLineBreakOrControl(name) || HasLineBreakOrControl(value)) return false;
    Update u;
    u.hasValue = true;
    u.value.Name = std::string(name);
    u.value.Type = TRegistryValue::Kind::String;
    u.value.Text = std::string(value);
    return Modify(key, u);
}

bool TRegistryFile::CreateKey(std::string_view key)
{
    return Modify(key, Update{});
}
