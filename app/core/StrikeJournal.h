#pragma once
// The strikes against incoming files that failed, and the file in hand, kept in a small file of
// the state directory: a file that takes the whole station down (an out-of-memory kill, a hang
// the watchdog ends) is counted when the station comes back, so it is put aside after a few
// tries instead of taking the station down for ever.

#include <cstdint>
#include <ctime>
#include <map>
#include <string>

class TStrikeJournal {
public:
    // Without a path the journal lives in memory only.
    explicit TStrikeJournal(std::string path = {});

    // Reads the journal; the file that was in hand when the station stopped gets a strike,
    // provided it is still there as it was. Empty, or why the journal could not be read (it
    // is then started afresh).
    std::string Load();

    // The file is about to meet the decoders; recorded before it does.
    void InHand(const std::string& path);
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

    // The reason given to a file that was in hand when the station stopped.
    static constexpr const char* StoppedReason = "the station stopped while processing it";
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
    void save() const;
    int count(const std::string& path, const std::string& reason, double now, bool spaced);

    std::string path_;
    std::map<std::string, TEntry> entries_;  // by path
    std::string inHand_;                     // the path of the file in hand
    TIdentity inHandIdentity_;
};
