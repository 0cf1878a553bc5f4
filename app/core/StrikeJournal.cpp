#include "app/core/StrikeJournal.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/DateTime.h"
#include "base/PartialFile.h"

namespace {

constexpr const char* Heading = "orvanta strike journal 1";
// A journal is a few lines; anything larger is not one.
constexpr std::streamsize MaxJournalBytes = 1 << 20;

// Names and reasons may hold anything but the separators.
std::string Escape(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::string Unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c;
    }
    return out;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

bool Number(const std::string& text, std::int64_t& value)
{
    try {
        std::size_t used = 0;
        value = std::stoll(text, &used);
        return used == text.size();
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

TStrikeJournal::TStrikeJournal(std::string path) : path_(std::move(path)) {}

TStrikeJournal::TIdentity TStrikeJournal::IdentityOf(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return {};
    return {static_cast<std::int64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

std::string TStrikeJournal::Load()
{
    entries_.clear();
    inHand_.clear();
    if (path_.empty())
        return {};
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    std::ifstream in(path_, std::ios::binary);
    if (!in)
        return {};
    std::string text(static_cast<std::size_t>(MaxJournalBytes) + 1, '\0');
    in.read(text.data(), MaxJournalBytes + 1);
    text.resize(static_cast<std::size_t>(in.gcount()));
    std::istringstream lines(text);
    std::string line;
    bool sound = text.size() <= static_cast<std::size_t>(MaxJournalBytes) && std::getline(lines, line) && line == Heading;
    std::string stopped;
    TIdentity stoppedIdentity;
    while (sound && std::getline(lines, line)) {
        const std::vector<std::string> f = Fields(line);
        std::int64_t count = 0, lastStrike = 0;
        TIdentity identity;
        if (f.size() == 4 && f[0] == "in-hand" && Number(f[1], identity.Size) && Number(f[2], identity.ModifiedNs)) {
            stopped = Unescape(f[3]);
            stoppedIdentity = identity;
        } else if (f.size() == 7 && f[0] == "strike" && Number(f[1], count) && count > 0 &&
                   Number(f[2], identity.Size) && Number(f[3], identity.ModifiedNs) && Number(f[4], lastStrike)) {
            entries_[Unescape(f[5])] = {identity, static_cast<int>(std::min<std::int64_t>(count, 1000)), Unescape(f[6]),
                                        static_cast<double>(lastStrike) / 86400000.0};
        } else {
            sound = false;
        }
    }
    if (!sound) {
        entries_.clear();
        return "The strike journal " + path_ + " is damaged; it is started afresh";
    }
    // Files that went (processed by hand, removed) take their strikes with them.
    std::erase_if(entries_, [](const auto& entry) { return IdentityOf(entry.first).Size < 0; });
    if (!stopped.empty() && IdentityOf(stopped) == stoppedIdentity && stoppedIdentity.Size >= 0)
        count(stopped, StoppedReason, UtcNow(), false);
    save();
    return {};
}

void TStrikeJournal::InHand(const std::string& path)
{
    inHand_ = path;
    inHandIdentity_ = IdentityOf(path);
    save();
}

void TStrikeJournal::Released()
{
    inHand_.clear();
    save();
}

int TStrikeJournal::Strike(const std::string& path, const std::string& reason, double now)
{
    return count(path, reason, now, true);
}

int TStrikeJournal::count(const std::string& path, const std::string& reason, double now, bool spaced)
{
    TEntry& entry = entries_[path];
    const TIdentity identity = IdentityOf(path);
    // A file that changed (more data, a new copy) starts its count anew.
    if (!(entry.Identity == identity))
        entry = {identity, 0, {}, 0};
    entry.Reason = reason;
    if (spaced && entry.Strikes > 0 && now - entry.LastStrike < MinStrikeSpacing)
        return entry.Strikes;
    entry.LastStrike = now;
    return ++entry.Strikes;
}

int TStrikeJournal::Strikes(const std::string& path) const
{
    const auto found = entries_.find(path);
    return found != entries_.end() && found->second.Identity == IdentityOf(path) ? found->second.Strikes : 0;
}

std::string TStrikeJournal::LastReason(const std::string& path) const
{
    const auto found = entries_.find(path);
    return found != entries_.end() ? found->second.Reason : std::string();
}

void TStrikeJournal::Forget(const std::string& path) { entries_.erase(path); }

void TStrikeJournal::save() const
{
    if (path_.empty())
        return;
    std::string text = std::string(Heading) + "\n";
    if (!inHand_.empty())
        text += "in-hand\t" + std::to_string(inHandIdentity_.Size) + "\t" + std::to_string(inHandIdentity_.ModifiedNs) +
                "\t" + Escape(inHand_) + "\n";
    for (const auto& [name, entry] : entries_)
        text += "strike\t" + std::to_string(entry.Strikes) + "\t" + std::to_string(entry.Identity.Size) + "\t" +
                std::to_string(entry.Identity.ModifiedNs) + "\t" +
                std::to_string(static_cast<std::int64_t>(entry.LastStrike * 86400000.0)) + "\t" + Escape(name) + "\t" +
                Escape(entry.Reason) + "\n";
    // A journal that cannot be written (a full state disk) leaves the counting to memory; the
    // station goes on.
    WriteFileAtomically(path_, text);
}
