#include "mapping/DecodeGeometry.h"

#include "base/Contained.h"
#include "base/DateTime.h"
#include "base/Files.h"
#include "base/Text.h"
#include "bzip2/BZ2files.h"
#include "bzip2/BZip2.h"
#include "mapping/CurveFit.h"
#include "mapping/SegmentStuff.h"
#include "netcdf/ClassicHeader.h"
#include "netcdf/NetCdfG15.h"

#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <limits>
#include <locale.h>
#include <unistd.h>

namespace {

constexpr int SampleHalfRows = 8;    // the grid sample spans 17 rows ...
constexpr int SampleHalfColumns = 3; // ... of 7 columns around the middle
constexpr int FitHalfSteps = 10;     // fit samples: 10 steps either side, 21 in all
constexpr int FitPoints = 11;        // only the northern / western half takes part
constexpr int FitTerms = 3;
constexpr int StepDivisor = 27;
constexpr int FullDiskMinimumRows = 2000;
// How far (degrees) the cell the searches end on may lie from the sub-satellite meridian and
// the equator: generous against grid spacing, tight enough to tell a crop far away.
constexpr float ReferenceTolerance = 1.0f;

// Rounds to nearest, halves to even, into the 32-bit offsets; a fit that went NaN or out of
// range (a grid full of fill values) must not turn into undefined behaviour.
std::int32_t RoundToInt32(double value)
{
    if (std::isnan(value))
        return 0;
    const double rounded = std::nearbyint(value);
    if (rounded >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (rounded <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(rounded);
}

const char* SectorTag(std::uint8_t sector)
{
    switch (sector) {
    case 1:
        return "FD  ";
    case 2:
        return "NH  ";
    case 3:
        return "SH  ";
    default:
        return "";
    }
}

bool InRange(int low, int high, int count) { return low >= 0 && high <= count - 1; }

} // namespace

std::string FormatC(const char* format, ...)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const locale_t previous = uselocale(cLocale);
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length));
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    uselocale(previous);
    return text;
}

bool AppendLineToFile(const std::string& path, const std::string& line)
{
    std::string content;
    // A FIFO in the log's place would hold this reader for ever; nor is it the log's to replace.
    const TOpenFile file = OpenRegularFile(path, O_RDONLY);
    if (file.NotRegular())
        return false;
    if (file.Fd >= 0) {
        char buffer[1 << 16];
        for (ssize_t n; (n = ::read(file.Fd, buffer, sizeof buffer)) != 0;) {
            if (n > 0)
                content.append(buffer, static_cast<std::size_t>(n));
            else if (errno != EINTR)
                break;
        }
        ::close(file.Fd);
    }
    if (!content.empty() && content.back() != '\n')
        content += '\n';
    content += line;
    content += '\n';
    return WriteFileAtomically(path, content);
}

bool TGeoDiagnostics::SetGrids(int xCount, int yCount, std::vector<float> longitudes, std::vector<float> latitudes)
{
    auto held = std::make_shared<std::pair<std::vector<float>, std::vector<float>>>(std::move(longitudes),
                                                                                    std::move(latitudes));
    return installGrids(xCount, yCount, held, held->first, held->second);
}

bool TGeoDiagnostics::installGrids(int xCount, int yCount, std::shared_ptr<const void> holder,
                                   std::span<const float> longitudes, std::span<const float> latitudes)
{
    const bool consistent = xCount > 0 && yCount > 0 &&
                            longitudes.size() == static_cast<std::size_t>(xCount) * static_cast<std::size_t>(yCount) &&
                            latitudes.size() == longitudes.size();
    xCount_ = consistent ? xCount : 0;
    yCount_ = consistent ? yCount : 0;
    fileXCount_ = xCount;
    fileYCount_ = yCount;
    gridsHolder_ = consistent ? std::move(holder) : nullptr;
    longitudes_ = consistent ? longitudes : std::span<const float>{};
    latitudes_ = consistent ? latitudes : std::span<const float>{};
    middleLatitude_ = consistent ? Latitude(MiddleRow(), MiddleColumn()) : 0.0f;
    middleLongitude_ = consistent ? Longitude(MiddleRow(), MiddleColumn()) : 0.0f;
    sector_ = 1;
    if (middleLatitude_ > 15.0f)
        sector_ = 2;
    if (middleLatitude_ < -15.0f)
        sector_ = 3;
    usable_ = consistent && InRange(MiddleRow() - SampleHalfRows, MiddleRow() + SampleHalfRows, yCount_) &&
              InRange(MiddleColumn() - SampleHalfColumns, MiddleColumn() + SampleHalfColumns, xCount_);
    return usable_;
}

void TGeoDiagnostics::ReportGridSample(TLines& lines) const
{
    for (int row = MiddleRow() - SampleHalfRows; row <= MiddleRow() + SampleHalfRows; ++row) {
        std::string line;
        for (int column = MiddleColumn() - SampleHalfColumns; column <= MiddleColumn() + SampleHalfColumns; ++column)
            line += FormatC("Lon:%7.2f lat:%6.2f   ", static_cast<double>(Longitude(row, column)),
                            static_cast<double>(Latitude(row, column)));
        lines.push_back(line);
    }
    lines.emplace_back();
    lines.push_back(FormatC("Mid-point (row:%d col:%d)   lat:%.2f  lon: %.2f", MiddleRow(), MiddleColumn(),
                            static_cast<double>(middleLatitude_), static_cast<double>(middleLongitude_)));
}

std::string TGeoDiagnostics::GridPointText(int row, int column) const
{
    return FormatC("Lon:%7.2f lat:%6.2f ", static_cast<double>(Longitude(row, column)),
                   static_cast<double>(Latitude(row, column)));
}

int TGeoDiagnostics::FindColumnOfLongitude(int row, float longitude) const
{
    if (row < 0 || row >= yCount_ || xCount_ == 0)
        return MiddleColumn();
    int column = MiddleColumn();
    if (Longitude(row, column) < longitude) {
        // East along the row; the last column ends the walk when no cell reaches the target.
        while (column < xCount_ - 1) {
            ++column;
            if (Longitude(row, column) >= longitude)
                break;
        }
        return column;
    }
    // West, stopping at column 1 as the row search stops at row 1.
    column = MiddleColumn() - 1;
    while (column > 1 && !(Longitude(row, column) <= longitude))
        --column;
    return column < 0 ? 0 : column;
}

int TGeoDiagnostics::FindRowOfLatitude(int column, float latitude) const
{
    if (column < 0 || column >= xCount_ || yCount_ == 0)
        return MiddleRow();
    int row = MiddleRow();
    if (Latitude(row, column) > latitude) {
        while (row < yCount_ - 1) {
            ++row;
            if (Latitude(row, column) <= latitude)
                break;
        }
        return row;
    }
    row = MiddleRow() - 1;
    while (row > 1 && !(Latitude(row, column) >= latitude))
        --row;
    return row < 0 ? 0 : row;
}

void TGeoDiagnostics::SetSatelliteLongitude(double longitude)
{
    sspLongitude_ = static_cast<float>(longitude);
}

std::optional<float> TGeoDiagnostics::GridSspLongitude() const
{
    if (!usable_ || sector_ != 1)
        return std::nullopt;
    const int equatorRow = FindRowOfLatitude(MiddleColumn(), 0.0f);
    if (!(std::fabs(Latitude(equatorRow, MiddleColumn())) <= ReferenceTolerance))
        return std::nullopt;
    const float longitude = Longitude(equatorRow, MiddleColumn());
    return std::isfinite(longitude) ? std::optional<float>(longitude) : std::nullopt;
}

bool TGeoDiagnostics::TestGeometry(TLines& lines)
{
    TSegmentMapping mapping = CompositeMappingAt(sspLongitude_);
    return TestGeometry(lines, mapping);
}

bool TGeoDiagnostics::TestGeometry(TLines& lines, TSegmentMapping& mapping)
{
    // ReadGeoFile has already said why a grid cannot be used.
    if (!usable_)
        return false;
    const bool fullDisk = middleLatitude_ >= -15.0f && middleLatitude_ <= 15.0f;
    if (fullDisk && yCount_ < FullDiskMinimumRows) {
        lines.emplace_back();
        lines.emplace_back("Inconsistency in TestGeometry");
        lines.emplace_back("Too few rows for full hemisphere");
        lines.emplace_back();
        return false;
    }

    int sspColumn = FindColumnOfLongitude(MiddleRow(), sspLongitude_);
    lines.emplace_back();
    lines.emplace_back();
    lines.push_back(FormatC("Found SSP column (%d) at row %d:  ", sspColumn, MiddleRow()) +
                    GridPointText(MiddleRow(), sspColumn));

    const int equatorRow = FindRowOfLatitude(sspColumn, 0.0f);
    lines.emplace_back();
    lines.push_back(FormatC("Find equator row (%d) at col %d:  ", equatorRow, sspColumn) +
                    GridPointText(equatorRow, sspColumn));

    sspColumn = FindColumnOfLongitude(equatorRow, sspLongitude_);
    lines.emplace_back();
    lines.push_back(FormatC("Found SSP column (%d) at row %d:  ", sspColumn, equatorRow) +
                    GridPointText(equatorRow, sspColumn));

    float longitude = 0.0f, latitude = 0.0f;
    mapping.PixelToGeo(CentreX, CentreY, longitude, latitude);
    lines.push_back(FormatC("Mid-point theoretical mapping: lat %.2f, lon: %.2f", static_cast<double>(latitude),
                            static_cast<double>(longitude)));
    int x = 0, y = 0;
    mapping.GeoToPixel(x, y, sspLongitude_, 0.0f);
    lines.push_back(FormatC("SSP theoretical mapping (integer): X:%d  Y:%d", x, y));
    float fx = 0.0f, fy = 0.0f;
    mapping.GeoToSegmentXY(fx, fy, sspLongitude_, 0.0f);
    lines.push_back(
        FormatC("SSP theoretical mapping (float): X:%.2f  Y:%.2f", static_cast<double>(fx), static_cast<double>(fy)));
    lines.emplace_back();

    // The vertical fit walks the sub-satellite meridian, so every grid must reach it. A full
    // disk also starts both fits at the equator and must reach that; a northern or southern
    // sector is sampled around its middle and may stop short of the equator.
    const float referenceLongitude = Longitude(equatorRow, sspColumn);
    const float referenceLatitude = Latitude(equatorRow, sspColumn);
    const bool onMeridian = std::fabs(referenceLongitude - sspLongitude_) <= ReferenceTolerance;
    if (fullDisk && !(onMeridian && std::fabs(referenceLatitude) <= ReferenceTolerance)) {
        lines.push_back(FormatC("Refused: the grid does not reach the sub-satellite point (lon %.2f, lat 0.00)",
                                static_cast<double>(sspLongitude_)));
        return false;
    }
    if (!onMeridian) {
        lines.push_back(FormatC("Refused: the grid does not reach the sub-satellite meridian (lon %.2f)",
                                static_cast<double>(sspLongitude_)));
        return false;
    }

    // The samples reach ten steps either side of their starting row and column; a grid that
    // cannot hold them (or too short for a step at all) is refused rather than read past.
    const int step = yCount_ / StepDivisor;
    const int firstRow = fullDisk ? equatorRow : MiddleRow();
    const int firstColumn = fullDisk ? sspColumn : MiddleColumn();
    const int reach = FitHalfSteps * step;
    if (step < 1 || !InRange(firstRow - reach, firstRow + reach, yCount_) ||
        !InRange(firstColumn - reach, firstColumn + reach, xCount_)) {
        lines.push_back(FormatC("Refused: grid too small for the fit samples (step %d, rows %d..%d, columns %d..%d)",
                                step, firstRow - reach, firstRow + reach, firstColumn - reach, firstColumn + reach));
        return false;
    }

    // One fit: 21 samples listed, the first 11 (north / west of the start) fitted. The vertical
    // fit walks down the SSP column, the horizontal one along the equator row.
    const auto fit = [&](bool vertical, std::int32_t& offset, float& slope) {
        std::array<double, 2 * FitHalfSteps + 1> samplesX{}, samplesY{};
        std::array<double, 5> coefficients{};
        double correlation = 0.0;
        lines.emplace_back(vertical ? "Fitting the vertical (latitude) pixels" : "Fitting the horizontal (longitude) pixels");
        for (int i = -FitHalfSteps; i <= FitHalfSteps; ++i) {
            const int row = vertical ? firstRow + i * step : equatorRow;
            const int column = vertical ? sspColumn : firstColumn + i * step;
            int theoreticalX = 0, theoreticalY = 0;
            if (vertical)
                mapping.GeoToPixel(theoreticalX, theoreticalY, sspLongitude_, Latitude(row, column));
            else
                mapping.GeoToPixel(theoreticalX, theoreticalY, Longitude(row, column), 0.0f);
            const int sample = vertical ? row : column;
            const int theoretical = vertical ? theoreticalY : theoreticalX;
            lines.push_back(FormatC("%s: %.4d  ", vertical ? "Row" : "Col", sample) + GridPointText(row, column) +
                            FormatC("  theoretical %s %.4d", vertical ? "row" : "col", theoretical));
            samplesX[static_cast<std::size_t>(i + FitHalfSteps)] = sample;
            samplesY[static_cast<std::size_t>(i + FitHalfSteps)] = theoretical;
        }
        lines.emplace_back();
        PolyFit(samplesX, samplesY, coefficients, correlation, FitPoints, FitTerms);
        offset = RoundToInt32(coefficients[0]);
        slope = static_cast<float>(coefficients[1]);
        std::string line = "Least squares fit:  ";
        for (int j = 0; j < FitTerms; ++j)
            line += FormatC("%.4f  ", coefficients[static_cast<std::size_t>(j)]);
        lines.push_back(line + FormatC(",  correlation: %.3f", correlation));
        lines.emplace_back();
    };
    std::int32_t rowOffset = 0, columnOffset = 0;
    float verticalSlope = 0.0f, horizontalSlope = 0.0f;
    fit(true, rowOffset, verticalSlope);
    fit(false, columnOffset, horizontalSlope);

    // Both fits went through: only now do the results replace those of the previous file.
    RowOffset = rowOffset;
    VerticalSlope = verticalSlope;
    ColumnOffset = columnOffset;
    HorizontalSlope = horizontalSlope;
    lines.push_back(FormatC("Suggest offsets:  row: %d,  column: %d", RowOffset, ColumnOffset));
    lines.emplace_back();
    return true;
}

// The grids of a geolocation file as the worker that read them hands them back.
struct TGeoDiagnostics::TGeoGrids {
    int XCount = 0, YCount = 0;
    bool Read = false, TooLarge = false, CutShort = false;
    float* Longitudes = nullptr;
    float* Latitudes = nullptr;
};

namespace {

// Room for the grids of the largest file read.
constexpr std::size_t GridsArenaBytes = 2 * static_cast<std::size_t>(TGeoDiagnostics::MaxCells) * sizeof(float) + 4096;

} // namespace

void TGeoDiagnostics::readGrids(const std::string& path, std::span<const char> content, TSharedArena& arena,
                                TGeoGrids& grids)
{
    TNetCdfGoesGeo reader;
    reader.OpenMemory(path, content);
    reader.ReadDimensions();
    grids.XCount = reader.XCount;
    grids.YCount = reader.YCount;
    const std::int64_t cells = static_cast<std::int64_t>(reader.XCount) * reader.YCount;
    grids.TooLarge = cells > TGeoDiagnostics::MaxCells;
    if (cells <= 0 || grids.TooLarge)
        return;
    // Cut short, the library would hand back fill values, which fit to plausible nonsense.
    if (!reader.HoldsVariable("lon") || !reader.HoldsVariable("lat")) {
        grids.CutShort = true;
        return;
    }
    const auto size = static_cast<std::size_t>(cells);
    grids.Longitudes = static_cast<float*>(arena.take(size * sizeof(float)));
    grids.Latitudes = static_cast<float*>(arena.take(size * sizeof(float)));
    const bool lonRead = reader.ReadVariable("lon", {grids.Longitudes, size});
    const bool latRead = reader.ReadVariable("lat", {grids.Latitudes, size});
    grids.Read = lonRead && latRead;
}

namespace {

// What a worker that decompresses a geolocation file says before it goes on to its grids.
struct TUnpacked {
    bool Present = false;  // the data decompressed, perhaps to nothing
    bool Failed = false;   // the data is damaged; Error says how
    char Error[512] = {};
    std::uint64_t Size = 0;
    const char* Content = nullptr;  // handed back only when it is to be written
};

} // namespace

bool TGeoDiagnostics::ReadGeoFile(const std::string& path, TLines& lines, std::span<const char> content)
{
    // The library reads the file in a worker: a damaged or hostile file costs that file only.
    auto held = std::make_shared<TSharedArena>(sizeof(TGeoGrids) + GridsArenaBytes);
    auto* grids = new (held->take(sizeof(TGeoGrids))) TGeoGrids;
    const TContainedOutcome outcome = RunContained([&] { readGrids(path, content, *held, *grids); });
    return takeGrids(path, lines, outcome, held, *grids);
}

bool TGeoDiagnostics::takeGrids(const std::string& path, TLines& lines, const TContainedOutcome& outcome,
                                std::shared_ptr<TSharedArena> held, const TGeoGrids& grids)
{
    readFailure_.clear();
    if (!outcome.Completed)
        readFailure_ = outcome.Failure;
    else if (grids.CutShort)
        readFailure_ = "the file is shorter than its header declares";
    const bool read = readFailure_.empty() && grids.Read;
    const int xCount = grids.XCount, yCount = grids.YCount;

    lines.clear();
    lines.push_back(path);
    lines.emplace_back();
    lines.push_back(FormatC("x-count: %d  y-count: %d", xCount, yCount));
    if (!read) {
        SetGrids(0, 0, {}, {});
        fileXCount_ = xCount; // the summary still names the file's own dimensions
        fileYCount_ = yCount;
        lines.push_back(!readFailure_.empty() ? "Refused: " + readFailure_
                        : grids.TooLarge      ? FormatC("Refused: a grid of %d x %d cells is larger than this program reads",
                                                        xCount, yCount)
                                              : std::string("Refused: no longitude and latitude grids could be read"));
        return false;
    }
    const auto cells = static_cast<std::size_t>(xCount) * static_cast<std::size_t>(yCount);
    if (!installGrids(xCount, yCount, std::move(held), {grids.Longitudes, cells}, {grids.Latitudes, cells})) {
        lines.push_back("Refused: grid too small for the 17 x 7 sample around its middle");
        return false;
    }
    ReportGridSample(lines);
    return true;
}

std::string TGeoDiagnostics::DiagnoseGeoFile(const std::string& path, TLines& lines, std::span<const char> content)
{
    ReadGeoFile(path, lines, content);
    return diagnoseRead(path, lines);
}

std::string TGeoDiagnostics::diagnoseRead(const std::string& path, TLines& lines)
{
    std::string summary = std::filesystem::path(path).filename().string() + " " + SectorTag(sector_) +
                          FormatC("Xc:%.4d Yc:%.4d, ", fileXCount_, fileYCount_);
    TestGeometry(lines);
    summary += FormatC("V:%6.4f H:%6.4f row:%d col:%d", static_cast<double>(HorizontalSlope),
                       static_cast<double>(VerticalSlope), RowOffset, ColumnOffset);
    return summary;
}

bool TGeoDiagnostics::ProcessGeoFile(const std::string& incomingPath, const TGeoRouteEnvironment& environment,
                                     TLines& lines)
{
    namespace fs = std::filesystem;
    const auto refuse = [&](const std::string& reason) {
        lines.clear();
        lines.push_back(incomingPath);
        lines.emplace_back();
        lines.push_back(reason);
        return false;
    };

    double imageTime = 0.0;
    if (environment.ParseFileName)
        environment.ParseFileName(incomingPath, imageTime);
    if (imageTime == 0.0 && environment.UtcNow)
        imageTime = environment.UtcNow();

    const std::string root = environment.RawArchiveRoot ? environment.RawArchiveRoot() : std::string();
    const fs::path directory = DatedDirectory(root, imageTime);
    std::error_code error;
    fs::create_directories(directory, error);
    fs::path archived = directory / fs::path(incomingPath).filename();
    // Only what lies in the incoming directory is ours to remove; a file named on the command
    // line may be the archived copy itself.
    const bool ours = environment.IncomingDirectory && LiesIn(incomingPath, environment.IncomingDirectory());
    const bool alreadyArchived = fs::equivalent(incomingPath, archived, error);
    error.clear();
    if (!alreadyArchived)
        fs::copy_file(incomingPath, archived, fs::copy_options::overwrite_existing, error);
    if (error) // without a safe copy the incoming file stays where it is, for the next cycle
        return refuse("Could not archive the file in " + directory.string() + ": " + error.message());

    const bool keep = environment.SaveAsNetCdf && environment.SaveAsNetCdf();
    std::string summary;
    if (LowerCase(archived.extension().string()) == ".bz2") {
        // One worker decompresses the file and reads its grids from the content in memory; the
        // content comes back only when it is written into the archive (kept, or empty).
        fs::path target = archived;
        target.replace_extension();
        auto held = std::make_shared<TSharedArena>(sizeof(TUnpacked) + sizeof(TGeoGrids) +
                                                   static_cast<std::size_t>(MaxDecompressedSize) + GridsArenaBytes + 4096);
        auto* unpacked = new (held->take(sizeof(TUnpacked))) TUnpacked;
        auto* grids = new (held->take(sizeof(TGeoGrids))) TGeoGrids;
        const TContainedOutcome outcome = RunContained([&] {
            std::optional<std::vector<char>> plain;
            try {
                plain = DecompressBZ2FileToMemory(archived.string(), false, NetCdfKeepBound);
            } catch (const EBZip2Error& e) {
                std::snprintf(unpacked->Error, sizeof unpacked->Error, "%s", e.what());
                unpacked->Failed = true;
                return;
            }
            if (!plain)
                return;
            if (keep && !plain->empty()) {
                auto* copy = static_cast<char*>(held->take(plain->size()));
                std::memcpy(copy, plain->data(), plain->size());
                unpacked->Content = copy;
            }
            unpacked->Size = plain->size();
            unpacked->Present = true;
            if (!plain->empty())
                readGrids(target.string(), *plain, *held, *grids);
        });
        bool decompressed = false;
        std::string reason = "no content";
        if (unpacked->Failed)
            reason = std::string(unpacked->Error, ::strnlen(unpacked->Error, sizeof unpacked->Error));
        else if (!unpacked->Present && !outcome.Completed)
            reason = outcome.Failure;
        else if (unpacked->Present) {
            try {
                // Kept, it is written before the diagnosis, so that a failed write refuses the
                // file before anything of the diagnostics changes; an empty content leaves its
                // empty file, kept or not.
                const std::span<const char> content(unpacked->Content, unpacked->Content ? unpacked->Size : 0);
                if (keep || unpacked->Size == 0)
                    WriteDecompressedContent(archived.string(), content);
                decompressed = unpacked->Size != 0;
            } catch (const std::exception& e) {
                reason = e.what();
            }
        }
        if (!decompressed) {
            // The compressed copy stays in the archive as the only sound record of what came
            // in; taking the incoming file away keeps it from failing again every cycle.
            if (ours)
                fs::remove(incomingPath, error);
            return refuse("Could not decompress " + archived.string() + ": " + reason);
        }
        if (!alreadyArchived)
            fs::remove(archived, error);
        archived = target;
        if (ours)
            fs::remove(incomingPath, error);
        takeGrids(archived.string(), lines, outcome, held, *grids);
        summary = diagnoseRead(archived.string(), lines);
    } else {
        if (ours)
            fs::remove(incomingPath, error);
        summary = DiagnoseGeoFile(archived.string(), lines);
    }

    if (!keep && !alreadyArchived)
        fs::remove(archived, error);
    if (!readFailure_.empty())
        return false;
    // The log's directory may not exist yet on a fresh station.
    fs::create_directories(fs::path(environment.GeoLogPath).parent_path(), error);
    AppendLineToFile(environment.GeoLogPath, summary);
    return true;
}
