#include "product/StrikeJournal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <vector>

#include "base/Contained.h"
#include "base/DateTime.h"
#include "base/Files.h"
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

// What the crash handler needs, set before it is installed: it may only read them.
char g_crashJournal[4096];
pid_t g_recorder = 0;
std::atomic<bool> g_fileInHand{false};
const TStrikeJournal* g_recording = nullptr;
constexpr int CrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
struct sigaction g_previous[NSIG];

// Appends "crashed\t<signal>" to the journal, whose last complete version names the file in
// hand, then lets the signal take its course as it would have without us. Only what is safe in
// a signal handler: a forked decoder worker, which inherits the handler, records nothing.
void RecordCrash(int signal, siginfo_t* info, void*)
{
    const int savedErrno = errno;
    if (::getpid() == g_recorder && g_fileInHand.load()) {
        const int fd = ::open(g_crashJournal, O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            char line[32] = "crashed\t";
            std::size_t length = std::strlen(line);
            char digits[12];
            int n = 0;
            for (unsigned value = static_cast<unsigned>(signal); n == 0 || value > 0; value /= 10)
                digits[n++] = static_cast<char>('0' + value % 10);
            while (n > 0)
                line[length++] = digits[--n];
            line[length++] = '\n';
            [[maybe_unused]] const ssize_t written = ::write(fd, line, length);
            ::close(fd);
        }
    }
    ::sigaction(signal, &g_previous[signal], nullptr);
    // A fault comes back when the instruction is run again; a signal sent by kill() or abort()
    // is sent again, to be delivered once this handler returns.
    if (info == nullptr || info->si_code <= 0)
        ::raise(signal);
    errno = savedErrno;
}

}  // namespace

TStrikeJournal::TStrikeJournal(std::string path) : path_(std::move(path)) {}

TStrikeJournal::~TStrikeJournal()
{
    if (g_recording == this) {
        g_fileInHand = false;
        g_recording = nullptr;
    }
}

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
    stoppedOn_.clear();
    stops_ = 0;
    if (path_.empty())
        return {};
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    const TSmallFile file = ReadSmallRegularFile(path_, MaxJournalBytes);
    if (file.Missing)
        return {};
    if (!file.Problem.empty() && file.Problem.find("not a regular file") != std::string::npos) {
        // A FIFO there would hold the station in open(), and renaming over it would destroy
        // whatever put it there.
        const std::string why = "The strike journal " + path_ + " is " + file.Problem + "; strikes are kept in memory only";
        path_.clear();
        return why;
    }
    if (!file.Problem.empty() || !parse(file.Text)) {
        entries_.clear();
        stoppedOn_.clear();
        stops_ = 0;
        save();
        return "The strike journal " + path_ + (file.Problem.empty() ? " is damaged" : " cannot be used (" + file.Problem + ")") +
               "; it is started afresh";
    }
    save();
    return {};
}

bool TStrikeJournal::parse(const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != Heading)
        return false;
    std::string stopped;
    TIdentity stoppedIdentity;
    int crashSignal = 0;
    std::int64_t stopsBefore = 0;
    while (std::getline(lines, line)) {
        const std::vector<std::string> f = Fields(line);
        std::int64_t count = 0, lastStrike = 0;
        TIdentity identity;
        if (f.size() == 4 && f[0] == "in-hand" && Number(f[1], identity.Size) && Number(f[2], identity.ModifiedNs)) {
            stopped = Unescape(f[3]);
            stoppedIdentity = identity;
        } else if (f.size() == 2 && f[0] == "crashed" && Number(f[1], count) && count > 0 && count < NSIG) {
            crashSignal = static_cast<int>(count);
        } else if (f.size() == 5 && f[0] == "stops" && Number(f[1], stopsBefore) && stopsBefore > 0 &&
                   Number(f[2], identity.Size) && Number(f[3], identity.ModifiedNs)) {
            stoppedOn_ = Unescape(f[4]);
            stoppedOnIdentity_ = identity;
        } else if (f.size() == 7 && f[0] == "strike" && Number(f[1], count) && count > 0 &&
                   Number(f[2], identity.Size) && Number(f[3], identity.ModifiedNs) && Number(f[4], lastStrike)) {
            entries_[Unescape(f[5])] = {identity, static_cast<int>(std::min<std::int64_t>(count, AllStrikes)),
                                        Unescape(f[6]), static_cast<double>(lastStrike) / 86400000.0};
        } else {
            return false;
        }
    }
    // Files that went (processed by hand, removed) take their strikes with them.
    std::erase_if(entries_, [](const auto& entry) { return IdentityOf(entry.first).Size < 0; });
    judgeStop(stopped, stoppedIdentity, crashSignal, static_cast<int>(std::min<std::int64_t>(stopsBefore, StopsInARow)));
    return true;
}

void TStrikeJournal::judgeStop(const std::string& stopped, const TIdentity& identity, int crashSignal, int stopsBefore)
{
    // Stopped with no file in the station's hands: the row of stops on the last one goes on.
    if (stopped.empty()) {
        stops_ = stoppedOn_.empty() ? 0 : stopsBefore;
        return;
    }
    const bool sameFile = !stopped.empty() && identity.Size >= 0 && IdentityOf(stopped) == identity;
    const int inARow = sameFile && stopped == stoppedOn_ && identity == stoppedOnIdentity_ ? stopsBefore + 1 : 1;
    stoppedOn_.clear();
    stops_ = 0;
    if (!sameFile)
        return;
    stoppedOn_ = stopped;
    stoppedOnIdentity_ = identity;
    stops_ = inARow;
    // Only a crash of the station itself can be the file's doing; a kill or a power cut is not.
    if (crashSignal != 0) {
        count(stopped, std::string(StoppedReason) + " (" + SignalName(crashSignal) + ")", UtcNow(), false);
    } else if (inARow >= StopsInARow) {
        count(stopped, std::string(StoppedReason) + " (" + std::to_string(inARow) + " times in a row)", UtcNow(), false);
        entries_[stopped].Strikes = AllStrikes;
    }
}

void TStrikeJournal::RecordCrashes()
{
    if (path_.empty() || path_.size() >= sizeof g_crashJournal)
        return;
    g_fileInHand = false;
    std::memcpy(g_crashJournal, path_.c_str(), path_.size() + 1);
    g_recording = this;
    g_recorder = ::getpid();
    g_fileInHand = !inHand_.empty() && !decoding_;
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    for (const int signal : CrashSignals) {
        struct sigaction action {};
        action.sa_sigaction = RecordCrash;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, &g_previous[signal]);
    }
}

void TStrikeJournal::InHand(const std::string& path)
{
    setInHand(path);
    // Another file taken in hand ends the row of stops on the last one.
    if (path != stoppedOn_ || !(inHandIdentity_ == stoppedOnIdentity_)) {
        stoppedOn_.clear();
        stops_ = 0;
    }
    save();
}

void TStrikeJournal::Decoding(bool decoding)
{
    if (decoding_ == decoding || inHand_.empty())
        return;
    decoding_ = decoding;
    // Said twice a file: a power cut that loses it errs one way or the other for one stop.
    save(false);
}

void TStrikeJournal::Released()
{
    decoding_ = false;
    setInHand({});
    stoppedOn_.clear();
    stops_ = 0;
    save();
}

void TStrikeJournal::setInHand(const std::string& path)
{
    if (g_recording == this)
        g_fileInHand = false;
    inHand_ = path;
    inHandIdentity_ = path.empty() ? TIdentity{} : IdentityOf(path);
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

void TStrikeJournal::save(bool durable) const
{
    if (path_.empty())
        return;
    std::string text = std::string(Heading) + "\n";
    if (!inHand_.empty() && !decoding_)
        text += "in-hand\t" + std::to_string(inHandIdentity_.Size) + "\t" + std::to_string(inHandIdentity_.ModifiedNs) +
                "\t" + Escape(inHand_) + "\n";
    if (stops_ > 0)
        text += "stops\t" + std::to_string(stops_) + "\t" + std::to_string(stoppedOnIdentity_.Size) + "\t" +
                std::to_string(stoppedOnIdentity_.ModifiedNs) + "\t" + Escape(stoppedOn_) + "\n";
    for (const auto& [name, entry] : entries_)
        text += "strike\t" + std::to_string(entry.Strikes) + "\t" + std::to_string(entry.Identity.Size) + "\t" +
                std::to_string(entry.Identity.ModifiedNs) + "\t" +
                std::to_string(static_cast<std::int64_t>(entry.LastStrike * 86400000.0)) + "\t" + Escape(name) + "\t" +
                Escape(entry.Reason) + "\n";
    // A journal that cannot be written (a full state disk) leaves the counting to memory; the
    // station goes on.
    WriteFileAtomically(path_, text, nullptr, durable);
    // A crash is recorded only against a journal that names the file in hand.
    if (g_recording == this)
        g_fileInHand = !inHand_.empty() && !decoding_;
}
