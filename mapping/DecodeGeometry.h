#pragma once
// Diagnostics of the broadcast's geolocation files: each file's latitude/longitude grids are
// compared with our own geostationary projection, and quadratic least-squares fits between
// the grid's rows/columns and the theoretical picture rows/columns suggest offsets.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/PartialFile.h"  // WriteFileAtomically
#include "mapping/CompositeLayout.h"

class TSegmentMapping;

using TLines = std::vector<std::string>;

// Where the geolocation route reads its settings and the clock; the window or the headless
// runner supplies them, so that this unit needs nothing above the mapping layer.
struct TGeoRouteEnvironment {
    // Root of the raw archive, ending with "/" (the NetCDF path setting).
    std::function<std::string()> RawArchiveRoot;
    // "Save as NetCDF": keep the decompressed file in the archive.
    std::function<bool()> SaveAsNetCdf;
    // The incoming directory: only a file that lies there is removed once archived.
    std::function<std::string()> IncomingDirectory;
    // The image time of an incoming name (days since 1899-12-30, UTC); false when it does not parse.
    std::function<bool(const std::string& path, double& time)> ParseFileName;
    std::function<double()> UtcNow;
    // The "-geo.log" file that collects one summary line per file.
    std::string GeoLogPath;
};

struct TContainedOutcome;
class TSharedArena;

class TGeoDiagnostics {
public:
    // The picture geometry the grids are compared with.
    static constexpr int SegmentIndex = CompositeSegmentRow;
    // The picture's centre pixel.
    static constexpr int CentreX = 1408;
    static constexpr int CentreY = 1625;
    // Largest grid we are prepared to hold (a 4 km full disk has 2704 x 5208 cells).
    static constexpr std::int64_t MaxCells = 32LL * 1024 * 1024;

    // The geolocation route: archive, decompress, diagnose into `lines`, log the summary.
    // False (with the reason in `lines`) when the file could not be archived or decompressed.
    bool ProcessGeoFile(const std::string& incomingPath, const TGeoRouteEnvironment& environment, TLines& lines);

    // Reads the file, writes the report into `lines` (cleared first) and returns the summary.
    // content, when given, is the file's content in memory, read instead of the file.
    std::string DiagnoseGeoFile(const std::string& path, TLines& lines, std::span<const char> content = {});

    // Steps of DiagnoseGeoFile. ReadGeoFile returns whether the grids can carry the report.
    bool ReadGeoFile(const std::string& path, TLines& lines, std::span<const char> content = {});
    bool TestGeometry(TLines& lines);
    bool TestGeometry(TLines& lines, TSegmentMapping& mapping);
    int FindRowOfLatitude(int column, float latitude) const;
    int FindColumnOfLongitude(int row, float longitude) const;

    // Installs grids of yCount rows of xCount values (row-major) and derives the middle point
    // and the sector; returns whether they are large enough for the grid sample.
    bool SetGrids(int xCount, int yCount, std::vector<float> longitudes, std::vector<float> latitudes);
    // The grid sample around the middle, as ReadGeoFile reports it.
    void ReportGridSample(TLines& lines) const;

    int XCount() const { return xCount_; }
    int YCount() const { return yCount_; }
    int MiddleRow() const { return yCount_ / 2; }
    int MiddleColumn() const { return xCount_ / 2; }
    float MiddleLatitude() const { return middleLatitude_; }
    float MiddleLongitude() const { return middleLongitude_; }
    std::uint8_t Sector() const { return sector_; }
    float Longitude(int row, int column) const { return longitudes_[Cell(row, column)]; }
    float Latitude(int row, int column) const { return latitudes_[Cell(row, column)]; }

    // Where the station takes the satellite to stand (degrees east); the grids are compared
    // with the picture of a satellite there.
    void SetSatelliteLongitude(double longitude);
    // Where the grids put the satellite: the longitude of the equator on a full disk's middle
    // column, around which the disc lies. Empty for a sector, whose middle says nothing of it,
    // and for a grid without the equator there.
    std::optional<float> GridSspLongitude() const;

    // Fit results, kept from file to file within a run.
    std::int32_t RowOffset = 0;
    std::int32_t ColumnOffset = 0;
    float VerticalSlope = 0.0f;
    float HorizontalSlope = 0.0f;

private:
    struct TGeoGrids;
    // The body of a reading worker: the file's (or its content's) grids into the arena.
    static void readGrids(const std::string& path, std::span<const char> content, TSharedArena& arena,
                          TGeoGrids& grids);
    // The grids a reading worker left in `held`, installed and reported as ReadGeoFile does.
    bool takeGrids(const std::string& path, TLines& lines, const TContainedOutcome& outcome,
                   std::shared_ptr<TSharedArena> held, const TGeoGrids& grids);
    // The summary and the fits of grids just read.
    std::string diagnoseRead(const std::string& path, TLines& lines);
    std::size_t Cell(int row, int column) const
    {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(xCount_) + static_cast<std::size_t>(column);
    }
    std::string GridPointText(int row, int column) const;

    int xCount_ = 0; // of the grids held
    int yCount_ = 0;
    int fileXCount_ = 0; // as the file declared them, also when its grids were refused
    int fileYCount_ = 0;
    // The grids, and what holds their memory: the vectors given to SetGrids, or the memory a
    // reading worker filled (a full disk's grids are 112 MB, not copied once more).
    bool installGrids(int xCount, int yCount, std::shared_ptr<const void> holder, std::span<const float> longitudes,
                      std::span<const float> latitudes);
    std::shared_ptr<const void> gridsHolder_;
    std::span<const float> longitudes_;
    std::span<const float> latitudes_;
    float sspLongitude_ = CompositeSatelliteLongitude;
    float middleLatitude_ = 0.0f;
    float middleLongitude_ = 0.0f;
    std::uint8_t sector_ = 1;
    bool usable_ = false;
    // Why the grids could not be read at all (the reader crashed, the file is cut short);
    // such a file is refused, never fitted.
    std::string readFailure_;
};

// printf-style formatting that always uses the C locale's full stop, whatever locale the
// application object has switched the process to.
std::string FormatC(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends one line to a text file, keeping what it holds; the file is replaced atomically so
// a full disk never costs the lines already there. False when it could not be written.
bool AppendLineToFile(const std::string& path, const std::string& line);
