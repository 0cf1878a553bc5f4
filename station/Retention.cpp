#include "station/Retention.h"

#include <array>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include "product/composite/ChannelCatalogue.h"
#include "product/outputs/ImageKinds.h"
#include "product/ScanNames.h"
#include "base/Files.h"
#include "base/PartialFile.h"
#include "settings/ProgramPaths.h"
#include "base/DateTime.h"
#include "base/Text.h"

namespace {

bool AllDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "yyyymmddhhnn-g10-<tag>.jpg" or "yyyymmddhhnn-g18-c13.jpg" (or another image extension), as
// ShortImageName writes them.
bool IsShortImageName(const std::string& lower)
{
    if (lower.size() < 18 || !AllDigits(std::string_view(lower).substr(0, 12)) || lower[12] != '-')
        return false;
    const std::string_view rest = std::string_view(lower).substr(13);
    const auto dot = rest.rfind('.');
    if (dot == std::string_view::npos) return false;
    for (std::size_t i = 0; i < AllChannelCount; ++i)
        if (KnownChannel(i) && rest.substr(0, dot) == ChannelNameTag(i))
            return true;
    return false;
}

struct TDirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using TDirHandle = std::unique_ptr<DIR, TDirCloser>;

// The names in a directory but "." and ".."; false (errno set) when it cannot be read.
bool ReadNames(const std::string& dir, std::vector<std::string>& names)
{
    TDirHandle d(::opendir(dir.c_str()));
    if (!d) return false;
    while (const dirent* e = ::readdir(d.get())) {
        const std::string_view n = e->d_name;
        if (n != "." && n != "..") names.emplace_back(n);
    }
    return true;
}

std::string SystemError() { return std::strerror(errno); }

double ChangedAt(const struct stat& st)
{
    // A file moved into failed/ keeps its old modification time; the move shows in the change
    // time, so a file is counted from when it was put aside.
    const auto seconds = [](const timespec& t) { return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9; };
    return std::max(seconds(st.st_mtim), seconds(st.st_ctim));
}

}  // namespace

TRetentionLimits RetentionLimits(const TStationSettings& settings)
{
    TRetentionLimits l;
    l.ImageRoot = settings.SavePath;
    l.RawRoot = settings.NetCDFPath;
    l.FailedDir = settings.FailedPath;
    l.ImagesDays = settings.KeepImagesDays.value_or(0);
    l.NetCDFDays = settings.KeepNetCDFDays.value_or(0);
    l.FailedDays = settings.KeepFailedDays.value_or(0);
    return l;
}

TMadeKind MadeKind(const std::string& name)
{
    if (const std::string target = PartialFileTarget(name); !target.empty()) return MadeKind(target);
    std::uint8_t channel = 0;
    TDateTime time = 0;
    // Any kind of image the product writes: grey, colour, GeoTIFF. Long image names are the
    // archived file's with the image extension.
    if (const std::optional<TImageKindName> image = SplitImageKind(name))
        return IsShortImageName(LowerCase(image->Grey)) ||
                       ParseScanFileName(std::filesystem::path(image->Grey).replace_extension(".nc").string(), channel,
                                         time)
                   ? TMadeKind::Image
                   : TMadeKind::Foreign;
    if (!ParseScanFileName(name, channel, time))
        return TMadeKind::Foreign;
    return MatchesWildcard(IncomingScanPattern, name) ? TMadeKind::NetCDF : TMadeKind::Foreign;
}

void TRetention::Report(const std::string& place, const std::string& line)
{
    if (reported_.insert(place + '\n' + line).second) log_(line);
}

std::vector<TRetention::TDay> TRetention::DatedFolders(const std::string& root, std::int32_t today)
{
    std::vector<TDay> days;
    struct stat rootStatus {};
    if (::stat(root.c_str(), &rootStatus) != 0) rootStatus.st_dev = 0;
    // Only a real directory of the tree's own file system is entered; what its name says is
    // checked before anything else. A disk mounted on a dated folder is someone's own: its
    // files would be removed before the folder could not be.
    const auto enter = [&](const std::string& path) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return false;
        if (S_ISLNK(st.st_mode)) {
            Report(path, path + " is a symbolic link: not followed, nothing removed there");
            return false;
        }
        if (S_ISDIR(st.st_mode) && st.st_dev != rootStatus.st_dev) {
            Report(path, path + " is a mount point: not entered, nothing removed there");
            return false;
        }
        return S_ISDIR(st.st_mode);
    };
    const auto names = [&](const std::string& dir, std::size_t width) {
        std::vector<std::string> list;
        if (!ReadNames(dir, list)) Report(dir, "Cannot read " + dir + ": " + SystemError() + "; nothing removed there");
        std::erase_if(list, [&](const std::string& n) { return n.size() != width || !AllDigits(n); });
        return list;
    };
    for (const std::string& y : names(root, 4)) {
        const std::string yearDir = root + y + "/";
        if (!enter(root + y)) continue;
        for (const std::string& m : names(yearDir, 2)) {
            const std::string monthDir = yearDir + m + "/";
            if (!enter(yearDir + m)) continue;
            for (const std::string& d : names(monthDir, 2)) {
                const auto date = TryEncodeDate(std::stoi(y), std::stoi(m), std::stoi(d));
                if (!date || !enter(monthDir + d)) continue;
                const auto day = static_cast<std::int32_t>(*date);
                if (day > today) {
                    Report(monthDir + d, "Kept " + monthDir + d + "/: dated after today ("
                                             + FormatDateTime("yyyy-mm-dd", today) + "); is the clock right?");
                    continue;
                }
                days.push_back({day, monthDir + d + "/", root});
            }
        }
    }
    std::sort(days.begin(), days.end(), [](const TDay& a, const TDay& b) { return a.Date < b.Date; });
    return days;
}

void TRetention::PruneDay(const TDay& day, bool images, bool netCdf, const TFileIds& keep)
{
    // Opened without following a link, and every name looked up in it: a folder swapped for a
    // link meanwhile is not entered, and each file costs one short lookup.
    const int dirFd = ::open(day.Path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    TDirHandle dir(dirFd >= 0 ? ::fdopendir(dirFd) : nullptr);
    if (!dir) {
        if (dirFd >= 0) ::close(dirFd);
        Report(day.Path, "Cannot read " + day.Path + ": " + SystemError() + "; nothing removed there");
        return;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir.get())) {
        const std::string_view n = e->d_name;
        if (n != "." && n != "..") names.emplace_back(n);
    }
    std::size_t imageFiles = 0, netCdfFiles = 0, left = 0, foreign = 0;
    std::uint64_t bytes = 0;
    std::string foreignName, failure;
    for (const std::string& name : names) {
        struct stat st {};
        const TMadeKind kind = MadeKind(name);
        const bool regular = ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
        const bool due = regular && ((kind == TMadeKind::Image && images) || (kind == TMadeKind::NetCDF && netCdf));
        if (!regular || kind == TMadeKind::Foreign) {
            if (foreign++ == 0) foreignName = name;
        }
        if (!due || keep.count({st.st_dev, st.st_ino}) != 0) {
            ++left;
            continue;
        }
        if (::unlinkat(dirFd, name.c_str(), 0) != 0) {
            if (failure.empty()) failure = "Cannot remove " + day.Path + name + ": " + SystemError() + "; the station goes on";
            ++left;
            continue;
        }
        bytes += static_cast<std::uint64_t>(st.st_size);
        ++(kind == TMadeKind::Image ? imageFiles : netCdfFiles);
    }
    if (imageFiles + netCdfFiles > 0) {
        std::string what;
        if (imageFiles > 0) what = std::to_string(imageFiles) + (imageFiles == 1 ? " image" : " images");
        if (netCdfFiles > 0)
            what += (what.empty() ? "" : " and ") + std::to_string(netCdfFiles) + (netCdfFiles == 1 ? " netCDF file" : " netCDF files");
        log_("Pruned " + FormatDateTime("yyyy-mm-dd", day.Date) + " from " + day.Root + ": " + what + ", "
             + std::to_string(bytes) + " bytes");
    }
    if (!failure.empty()) Report(day.Path, failure);
    if (foreign > 0)
        Report(day.Path, "Kept " + day.Path + ": it holds " + std::to_string(foreign)
                             + (foreign == 1 ? " entry" : " entries") + " the station did not write (\"" + LogSafe(foreignName)
                             + "\")");
    dir.reset();
    if (left > 0) return;
    if (::rmdir(day.Path.c_str()) != 0) {
        Report(day.Path, "Cannot remove " + day.Path + ": " + SystemError() + "; the station goes on");
        return;
    }
    // The month and the year go with their last day; a folder still holding anything stays.
    const std::string month = day.Path.substr(0, day.Path.size() - 3);
    if (::rmdir(month.c_str()) == 0) ::rmdir(month.substr(0, month.size() - 3).c_str());
}

void TRetention::PruneFailed(const std::string& dir, std::int64_t days, TDateTime now)
{
    const std::string bare = dir.substr(0, dir.find_last_not_of('/') + 1);
    struct stat st {};
    if (::lstat(bare.c_str(), &st) != 0) return;
    if (S_ISLNK(st.st_mode)) {
        Report(bare, bare + " is a symbolic link: not followed, nothing removed there");
        return;
    }
    std::vector<std::string> names;
    if (!S_ISDIR(st.st_mode)) return;
    if (!ReadNames(dir, names)) {
        Report(dir, "Cannot read " + dir + ": " + SystemError() + "; nothing removed there");
        return;
    }
    const double cutoff = (now - static_cast<double>(days) - UnixDateDelta) * 86400.0;
    std::size_t files = 0;
    std::uint64_t bytes = 0;
    for (const std::string& name : names) {
        // Only what a cycle could have put aside: names it takes from the incoming directory.
        const std::string target = PartialFileTarget(name);
        if (!MatchesWildcard(IncomingScanPattern, target.empty() ? name : target))
            continue;
        const std::string path = dir + name;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ChangedAt(st) >= cutoff) continue;
        if (::unlink(path.c_str()) != 0) {
            Report(path, "Cannot remove " + path + ": " + SystemError() + "; the station goes on");
            continue;
        }
        ++files;
        bytes += static_cast<std::uint64_t>(st.st_size);
    }
    if (files > 0)
        log_("Pruned " + dir + ": " + std::to_string(files) + (files == 1 ? " file" : " files") + " put aside more than "
             + std::to_string(days) + (days == 1 ? " day" : " days") + " ago, " + std::to_string(bytes) + " bytes");
}

namespace {

std::set<std::pair<std::uint64_t, std::uint64_t>> FileIds(const std::vector<std::string>& paths)
{
    std::set<std::pair<std::uint64_t, std::uint64_t>> ids;
    for (const std::string& p : paths) {
        struct stat st {};
        if (!p.empty() && ::stat(p.c_str(), &st) == 0) ids.insert({st.st_dev, st.st_ino});
    }
    return ids;
}

std::vector<std::string> Roots(const TRetentionLimits& limits)
{
    std::vector<std::string> roots;
    for (const std::string& r : {limits.ImageRoot, limits.RawRoot})
        if (!r.empty() && std::find(roots.begin(), roots.end(), r) == roots.end()) roots.push_back(r);
    return roots;
}

}  // namespace

void TRetention::Prune(const TRetentionLimits& limits, const std::vector<std::string>& keep, TDateTime now)
{
    const auto today = static_cast<std::int32_t>(std::floor(now));
    if (limits.ImagesDays > 0 || limits.NetCDFDays > 0) {
        const TFileIds kept = FileIds(keep);
        // Today and the limit's days before it stay whole: no file younger than the limit goes.
        const auto due = [&](std::int64_t limit, std::int32_t date) { return limit > 0 && date < today - limit; };
        for (const std::string& root : Roots(limits))
            for (const TDay& day : DatedFolders(root, today)) {
                const bool images = due(limits.ImagesDays, day.Date), netCdf = due(limits.NetCDFDays, day.Date);
                if (images || netCdf) PruneDay(day, images, netCdf, kept);
            }
    }
    if (limits.FailedDays > 0 && !limits.FailedDir.empty()) PruneFailed(limits.FailedDir, limits.FailedDays, now);
}

bool TRetention::PruneOldestImages(const TRetentionLimits& limits, const std::vector<std::string>& keep,
                                   TDateTime now, const std::function<bool()>& enough)
{
    const auto today = static_cast<std::int32_t>(std::floor(now));
    const TFileIds kept = FileIds(keep);
    std::vector<TDay> days;
    for (const std::string& root : Roots(limits)) {
        for (TDay& day : DatedFolders(root, today))
            if (day.Date < today) days.push_back(std::move(day));
    }
    std::stable_sort(days.begin(), days.end(), [](const TDay& a, const TDay& b) { return a.Date < b.Date; });
    for (const TDay& day : days) {
        if (enough()) return true;
        PruneDay(day, true, false, kept);
    }
    return enough();
}

void TRetention::RemoveLeftTemporaries(const TRetentionLimits& limits, TDateTime now)
{
    std::vector<std::string> directories{limits.FailedDir, WithTrailingDelimiter(StateDirectory())};
    for (const std::string& root : Roots(limits)) {
        directories.push_back(root);
        directories.push_back(root + "latest/");
        for (const TDateTime day : {now - 1, now})
            directories.push_back(DatedDirectory(root, day));
    }
    std::size_t removed = 0;
    for (const std::string& directory : directories)
        if (!directory.empty()) removed += RemoveStalePartialFiles(directory);
    if (removed > 0)
        log_("Removed " + std::to_string(removed) + (removed == 1 ? " temporary file" : " temporary files")
             + " left by a writer that was stopped");
}
