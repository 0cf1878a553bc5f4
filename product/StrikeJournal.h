#pragma once
// The strikes against incoming files that failed, and the file in hand, kept in a small file of
// the state directory. The decoders run in workers of their own, so a station that merely
// stops (a kill, an out-of-memory kill of the station, a power cut) while a file is in hand
// says nothing against the file: only a crash of the station itself, recorded by its signal
// handler against the file in hand, counts as a strike when the station comes back. A file
// that was in hand at StopsInARow stops with nothing finished between them is put aside all
// the same, so that even a file that kills the station without a recordable signal cannot
// restart it for ever.

#include <cstdint>
#include <ctime>
#include <map>
#include <string>

class TStrikeJournal {
public:
    // Without a path the journal lives in memory only.
    explicit TStrikeJournal(std::string path = {});
    TStrikeJournal(const TStrikeJournal&) = default;
    TStrikeJournal& operator=(const TStrikeJournal&) = default;
    // A journal that records crashes stops doing so when it goes.
    ~TStrikeJournal();

    // Reads the journal; the file that was in hand when the station crashed gets a strike,
    // provided it is still there as it was, and one in hand at StopsInARow stops in a row gets
    // every strike. Empty, or why the journal could not be read (it is then started afresh;
    // one that is not a regular file is left alone and the strikes are kept in memory).
    std::string Load();

    // From now on a crash of this process (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, the
    // watchdog's abort included) while a file is in hand is recorded in this journal before the
    // process dies. One journal of a process records; the last one asked.
    void RecordCrashes();

    // The file is about to meet the decoders; recorded before it does.
    void InHand(const std::string& path);
    // The file in hand is with a decoder worker (true) or back in the station's hands. A stop
    // meanwhile is never the file's doing: the worker has the bytes, and its own crash or
    // overrun is the file's failure already. Such a stop neither counts nor ends a row of stops.
    void Decoding(bool decoding);
    // The file in hand is done with, whatever came of it.
    void Released();

    // Counts a failure of the file as it is now, at most one in any MinStrikeSpacing: a
    // receiver that closes a file many times while writing it starts many pick-ups, and only
    // the timed cycles, 50 s apart, may count against it. Gives its strikes.
    int Strike(const std::string& path, const std::string& reason, double now);
    // Strikes of the file as it is now: a file that changed since (a new copy, more data) has
    // none.
    int Strikes(const std::string& path) const;
    // Why the file failed last.
    std::string LastReason(const std::string& path) const;
    void Forget(const std::string& path);

    // The reason given to a file that was in hand when the station stopped, followed by the
    // crash's signal or the number of stops in a row in brackets.
    static constexpr const char* StoppedReason = "the station stopped while processing it";
    static constexpr int StopsInARow = 5;
    // More than any count of failed cycles allows.
    static constexpr int AllStrikes = 1000;
    // Less than the timed cycle's 50 s, so that every timed cycle may count.
    static constexpr double MinStrikeSpacing = 45.0 / 86400.0;

private:
    struct TIdentity {
        std::int64_t Size = -1;
        std::int64_t ModifiedNs = 0;
        bool operator==(const TIdentity&) const = default;
    };
    struct TEntry {
        TIdentity Identity;
        int Strikes = 0;
        std::string Reason;
        double LastStrike = 0;  // days since 1899-12-30, UTC
    };
    static TIdentity IdentityOf(const std::string& path);
    void save(bool durable = true) const;
    int count(const std::string& path, const std::string& reason, double now, bool spaced);
    bool parse(const std::string& text);
    void judgeStop(const std::string& stopped, const TIdentity& identity, int crashSignal, int stopsBefore);
    void setInHand(const std::string& path);

    std::string path_;
    std::map<std::string, TEntry> entries_;  // by path
    std::string inHand_;                     // the path of the file in hand
    TIdentity inHandIdentity_;
    bool decoding_ = false;
    // The file in hand at the last stops, and at how many in a row with nothing finished.
    std::string stoppedOn_;
    TIdentity stoppedOnIdentity_;
    int stops_ = 0;
};
