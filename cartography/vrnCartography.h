#pragma once
// The store of coastlines, lake shores and borders drawn over every composite when the
// "Boundaries" option is on. Loaded once at start-up from a '|'-separated list of files
// (GSHHS binary polygons, the compact map file "Countries.dat", GPX tracks), read-only after.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/StreamErrors.h"

class TSegmentMapping;
class TMapping;
class TExtBitmap;
class TCanvas;

// The whole file in memory with a read position, as the readers see it.
class TMemoryReadStream {
public:
    explicit TMemoryReadStream(std::span<const std::uint8_t> data) : data_(data) {}

    std::int64_t Size() const { return static_cast<std::int64_t>(data_.size()); }
    std::int64_t Position() const { return pos_; }
    // Positions past the end are allowed; reads from there simply get nothing.
    void Seek(std::int64_t pos) { pos_ = pos < 0 ? 0 : pos; }
    std::int64_t Remaining() const { return pos_ >= Size() ? 0 : Size() - pos_; }
    // Copies up to n bytes and returns how many arrived.
    std::size_t Read(void* dst, std::size_t n);
    // Exactly n bytes or EReadError.
    void ReadBuffer(void* dst, std::size_t n);
    std::span<const std::uint8_t> Data() const { return data_; }

private:
    std::span<const std::uint8_t> data_;
    std::int64_t pos_ = 0;
};

struct TGeoPoint {
    float Lon = 0.0f;
    float Lat = 0.0f;
    friend bool operator==(const TGeoPoint&, const TGeoPoint&) = default;
};

// One polyline. The box starts inverted so that the first point sets all four sides.
class TLineSegment {
public:
    float North = -2147483648.0f;
    float South = 2147483648.0f;
    float East = -2147483648.0f;
    float West = 2147483648.0f;
    std::int32_t Count = 0;
    std::uint8_t Kind = 0;
    // Whether drawing joins the last point back to the first, as the file it came from says
    // (a binned piece ends on a bin edge, a GPX ring does not repeat its start); unset for a
    // segment added by hand, which follows the store's ClosePolygons.
    std::optional<bool> Closed;
    std::vector<TGeoPoint> Points;

    // Stores one point and widens the box around it.
    void AddPoint(float lon, float lat);
    // Longitudes of GSHHS and GPX data may run past 180; the box is brought back into
    // [-180, 180] while the points stay as read.
    void WrapEastWest();
};

class TCartogList {
public:
    static constexpr int kInitialCapacity = 1500;
    static constexpr int kCapacityStep = 5000;

    // Without a default map file; the station names its own (CompanionMapFile in Station.h).
    TCartogList();
    explicit TCartogList(std::string defaultPath);
    virtual ~TCartogList();
    TCartogList(const TCartogList&) = delete;
    TCartogList& operator=(const TCartogList&) = delete;

    // Not owned; drawing does nothing while it is null. A segment mapping, or the ABI's grid.
    const TMapping* Mapping = nullptr;
    std::string DefaultPath;
    std::int32_t MaxPoints = 0;
    // What the last file loaded said; each segment a file brings keeps its own file's say.
    bool ClosePolygons = true;
    // Each file of the last path list that brought nothing or stopped early, as
    // "<file>: <reason>"; a file that was read whole adds nothing.
    std::vector<std::string> LoadProblems;

    virtual void Clear();

    int Count() const { return static_cast<int>(items_.size()); }
    int Capacity() const { return capacity_; }
    TLineSegment* Items(int index) const { return items_.at(static_cast<std::size_t>(index)).get(); }

    void AddSegment(std::unique_ptr<TLineSegment> segment);
    TLineSegment* FirstSegment(int& cursor) const;
    TLineSegment* NextSegment(int& cursor) const;

    void LoadFromPathList(const std::string& pathList);
    // Never throws: what could be read stays in the store, and why the rest could not is
    // added to LoadProblems.
    void LoadFile(const std::string& path);
    // The part of LoadFile after the file has been read: the format decision and the
    // reader. fileName only serves the extension test.
    void LoadFromMemory(std::span<const std::uint8_t> data, const std::string& fileName);

    // Each reader is given the stream at the first byte of the file and may throw
    // EReadError; segments appended before that stay.
    virtual void ReadGpx(TMemoryReadStream& stream);
    virtual void ReadGshhs(TMemoryReadStream& stream);
    virtual void ReadCompactMap(TMemoryReadStream& stream);

    void DrawOnBitmap(TExtBitmap& bitmap, int xOffset, int yOffset);
    void DrawOnCanvas(TCanvas& canvas, int xOffset, int yOffset);

private:
    void raiseCapacity(int by);
    void raiseMaxPoints(std::int32_t count)
    {
        if (MaxPoints < count) MaxPoints = count;
    }

    std::vector<std::unique_ptr<TLineSegment>> items_;
    int capacity_ = 0;
};

// The name of the default compact map file.
inline constexpr const char* kCountriesFileName = "Countries.dat";

// The default map file: "Countries.dat" beside the companion tracking program (its installed
// path as the registry's App Paths give it, possibly empty), else in the program's data
// directory (ending with '/'); empty when neither exists.
std::string FindDefaultMapFile(const std::string& companionProgramPath, const std::string& programDataDir);

inline constexpr const char* kSystemGshhsPathList = "/usr/share/gshhg/gshhs_i.b|/usr/share/gshhg/wdb_borders_i.b";
inline constexpr const char* kGshhsEnvironmentVariable = "ORVANTA_GSHHS";
// Where Debian's gmt-gshhg-low (crude, low) and gmt-gshhg-high (intermediate, high) put
// their binned netCDF files.
inline constexpr const char* kBinnedGshhgDir = "/usr/share/gmt-gshhg/";

// The binned shoreline of the best resolution in dir up to intermediate (finer ones only
// slow every image down at the composite's scale) with the borders of the same resolution;
// empty when there is none.
std::string BinnedGshhgPathList(const std::string& dir = kBinnedGshhgDir);

// The line store the window and the headless runner load at start-up, the first of: the
// list in ORVANTA_GSHHS, the system GSHHS pair, Debian's binned files, each when its first
// file exists; otherwise the store's DefaultPath. Returns the path list that was loaded.
std::string StartupPathList(const std::string& environmentValue, const std::string& defaultPath,
                            const std::string& binnedDir = kBinnedGshhgDir);
std::string LoadStartupLineStore(TCartogList& store);
