#include "netcdf/NetCdfG15.h"

#include <netcdf.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <charconv>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "imaging/BMPExtImage.h"
#include "netcdf/ClassicHeader.h"
#include "netcdf/RadianceToModeAlookup.h"
#include "netcdf/VisibleLookup.h"

std::uint8_t DecideSector(std::uint32_t height, std::int32_t startLine, std::uint8_t current)
{
    if (height == 2395 || height == 2704 || height == 2705)
        return SectorFullDisk;
    const auto line = static_cast<std::uint32_t>(startLine);
    if (line <= 5000)
        return SectorNorthern;
    if (line <= 10000)
        return SectorSouthern;
    return current;
}

std::string GreyMeaning(int band, float gamma, int background)
{
    if (band != 1) {
        const std::string meaning = ModeAMeaning(band);
        if (meaning.empty())
            return meaning;
        // The counts jump from 238 (180 K) to 255, yet a composite holds the greys between.
        const std::string between = "; grey 239..254 (no scan gives them): a limb pixel blended with the space beside "
                                    "it when the scan was resampled, and ";
        return meaning + between + std::to_string(background) + " where no scan has filled the picture yet";
    }
    // VisibleScaled read backwards; the count is the scaled value truncated, so a grey
    // stands for reflectances from its value up to the next grey's.
    if (std::fabs(static_cast<long double>(gamma) - 1.05L) <= 0.1L)
        return "reflectance R (%): R = grey * 80 / 255, grey 255 meaning 80 % or more";
    char exponent[32];
    *std::to_chars(exponent, exponent + sizeof exponent - 1, gamma).ptr = '\0';
    return std::string("reflectance R (%): R = 100 * (grey / 255) ^ ") + exponent;
}

bool TNetCdfGoes15::gridIsSane() const
{
    return Width <= kMaxScanSamples && Height <= kMaxScanSamples && std::uint64_t{Width} * Height <= kMaxScanSamples;
}

std::size_t TNetCdfGoes15::sampleCount() const
{
    return gridIsSane() ? static_cast<std::size_t>(std::uint64_t{Width} * Height) : 0;
}

bool TNetCdfGoes15::ReadHeader()
{
    if (NcId != 0) {
        // A variable the file lacks leaves its field at 0, never at a previous file's value.
        const std::array<std::pair<const char*, std::int32_t*>, 5> scalars{{
            {"startLine", &StartLine},
            {"startElem", &StartElement},
            {"lineRes", &LineResolution},
            {"elemRes", &ElementResolution},
            {"bands", &Band},
        }};
        for (auto [name, field] : scalars) {
            *field = 0;
            readInteger(name, *field);
        }
        auto length32 = [this](const char* name) -> std::uint32_t {
            std::size_t len = 0;
            if (!dimensionLength(name, len))
                return 0;
            return static_cast<std::uint32_t>(std::min<std::size_t>(len, std::numeric_limits<std::uint32_t>::max()));
        };
        Width = length32("xc");
        Height = length32("yc");
    }
    Sector = DecideSector(Height, StartLine, Sector);
    return sampleCount() != 0;
}

bool TNetCdfGoes15::ReadData(std::span<float> buffer) { return readSamples(buffer) == NC_NOERR; }

int TNetCdfGoes15::dataVariable(int& var, int& ndims)
{
    if (NcId == 0)
        return NC_EBADID;
    if (const int status = nc_inq_varid(NcId, "data", &var); status != NC_NOERR)
        return status;
    DataVarId = var;
    if (sampleCount() == 0)
        return NC_EINVALCOORDS;
    // The variable must be the header's grid, (yc, xc) or (time = 1, yc, xc), so that the
    // library writes exactly Width x Height values.
    if (nc_inq_varndims(NcId, var, &ndims) != NC_NOERR || ndims < 2 || ndims > 3)
        return NC_EVARSIZE;
    std::array<int, 3> dims{};
    if (nc_inq_vardimid(NcId, var, dims.data()) != NC_NOERR)
        return NC_EVARSIZE;
    std::array<std::size_t, 3> len{};
    for (int d = 0; d < ndims; ++d)
        if (nc_inq_dimlen(NcId, dims[d], &len[d]) != NC_NOERR)
            return NC_EVARSIZE;
    if ((ndims == 3 && len[0] != 1) || len[ndims - 2] != Height || len[ndims - 1] != Width)
        return NC_EVARSIZE;
    return NC_NOERR;
}

int TNetCdfGoes15::readSamples(std::span<float> buffer)
{
    int var = 0, ndims = 0;
    if (NcId != 0 && buffer.size() < sampleCount())
        return NC_EINVALCOORDS;
    if (const int status = dataVariable(var, ndims); status != NC_NOERR)
        return status;
    return nc_get_var_float(NcId, var, buffer.data());
}

bool TNetCdfGoes15::fileHoldsGrid() const
{
    const std::uint64_t length = contentLength();
    if (length == 0)
        return false;
    if (const auto end = classicVariableEnd("data"))
        return *end <= length;
    // Other formats may compress their samples, though never beyond what deflate can do (about
    // 1:1000 at best); HDF5 itself refuses a file cut short.
    return sampleCount() <= length * 1100;
}

bool TNetCdfGoes15::MakeBitmap(TExtBitmap* bitmap, float gamma)
{
    if (bitmap == nullptr || bitmap->PixelFormat() != TPixelFormat::pf8bit)
        return false;
    sampleProblem_.clear();
    const bool holds = sampleCount() == 0 || fileHoldsGrid();
    if (NcId == 0)
        sampleProblem_ = "no file open";
    else if (sampleCount() == 0)
        sampleProblem_ = "no usable grid of samples";
    else if (!holds)
        sampleProblem_ = "file is shorter than its header declares";
    // A grid too large to be a scan, or larger than the file, becomes an empty image rather
    // than a huge allocation.
    const bool sane = gridIsSane() && holds;
    const std::size_t count = sane ? sampleCount() : 0;
    const int width = sane ? static_cast<int>(Width) : 0;
    const int height = sane ? static_cast<int>(Height) : 0;

    std::unique_ptr<float[]> samples(count != 0 ? new float[count] : nullptr);
    bitmap->MakeGreyPalette();
    bitmap->SetWidth(width);
    bitmap->SetHeight(height);
    if (count == 0)
        return true;
    const std::span<float> buffer(samples.get(), count);
    // A range error still delivers every sample (those beyond single precision become
    // infinite, hence black); any other failure leaves no usable data and a black image.
    const int status = readSamples(buffer);
    const bool haveData = status == NC_NOERR || status == NC_ERANGE;
    if (!haveData)
        sampleProblem_ = status == NC_ENOTVAR     ? "no \"data\" variable"
                         : status == NC_ECHAR     ? "\"data\" is not numeric"
                         : status == NC_EVARSIZE  ? "\"data\" does not match the grid"
                                                  : std::string("samples cannot be read: ") + nc_strerror(status);

    if (!haveData && (Band == 1 || !ModeATable(Band).empty())) {
        bitmap->Fill(0);
    } else if (Band == 1) {
        const TVisibleLookup visible(gamma);
        calibrateRows(*bitmap, buffer, 0, &visible);
    } else {
        calibrateRows(*bitmap, buffer, 0, nullptr);
    }
    bitmap->Changed();
    return true;
}

void TNetCdfGoes15::calibrateRows(TExtBitmap& bitmap, std::span<const float> rows, int first,
                                  const TVisibleLookup* visible) const
{
    const std::size_t width = Width;
    const int count = static_cast<int>(rows.size() / width);
    for (int y = 0; y < count; ++y) {
        const std::span<const float> row = rows.subspan(static_cast<std::size_t>(y) * width, width);
        if (visible != nullptr)
            visible->convert(row, bitmap.ScanLine(first + y));
        else if (!ModeATable(Band).empty())
            RadiancesToModeA(Band, row, bitmap.ScanLine(first + y));
        // Any other band keeps the rows as they are.
    }
}

bool TNetCdfGoes15::MakeBitmapAsArriving(TExtBitmap* bitmap, float gamma,
                                         const std::function<bool(std::uint64_t end)>& arrived,
                                         const std::function<void(int firstRow, int rows)>& calibrated)
{
    if (bitmap == nullptr || bitmap->PixelFormat() != TPixelFormat::pf8bit || Memory.empty() || !gridIsSane() ||
        sampleCount() == 0 || (Band != 1 && ModeATable(Band).empty()))
        return false;
    const auto extent = ClassicTrailingVariable(
        std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(Memory.data()), Memory.size()), "data");
    int var = 0, ndims = 0;
    nc_type type = NC_NAT;
    if (!extent || extent->End > contentLength() || dataVariable(var, ndims) != NC_NOERR ||
        nc_inq_vartype(NcId, var, &type) != NC_NOERR)
        return false;
    const std::uint64_t valueSize = ClassicTypeSize(static_cast<std::uint64_t>(type));
    const std::size_t width = Width, height = Height;
    if (valueSize == 0 || extent->End - extent->Begin != sampleCount() * valueSize)
        return false;
    sampleProblem_.clear();
    bitmap->MakeGreyPalette();
    bitmap->SetWidth(static_cast<int>(width));
    bitmap->SetHeight(static_cast<int>(height));
    std::optional<TVisibleLookup> visible;
    if (Band == 1)
        visible.emplace(gamma);
    // About a decoded bzip2 block's worth of a full disk's rows at a time.
    constexpr std::size_t RowsAtOnce = 32;
    std::vector<float> rows(RowsAtOnce * width);
    for (std::size_t y = 0; y < height; y += RowsAtOnce) {
        const std::size_t count = std::min(RowsAtOnce, height - y);
        if (!arrived(extent->Begin + (y + count) * width * valueSize))
            return false;
        const std::array<std::size_t, 3> start{0, y, 0}, size{1, count, width};
        const std::size_t skip = ndims == 3 ? 0 : 1;
        const int status = nc_get_vara_float(NcId, var, start.data() + skip, size.data() + skip, rows.data());
        // A range error still delivers every sample, as for the whole grid.
        if (status != NC_NOERR && status != NC_ERANGE)
            return false;
        calibrateRows(*bitmap, std::span<const float>(rows.data(), count * width), static_cast<int>(y),
                      visible ? &*visible : nullptr);
        if (calibrated)
            calibrated(static_cast<int>(y), static_cast<int>(count));
    }
    bitmap->Changed();
    return true;
}

// ---- geolocation files ----------------------------------------------------------------

void TNetCdfGoesGeo::ReadDimensions()
{
    if (NcId == 0)
        return;
    const auto count = [this](const char* name) -> std::int32_t {
        std::size_t length = 0;
        if (!dimensionLength(name, length) ||
            length > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
            return 0;
        return static_cast<std::int32_t>(length);
    };
    XCount = count("xc");
    YCount = count("yc");
}

bool TNetCdfGoesGeo::HoldsVariable(const char* name) const
{
    const auto end = classicVariableEnd(name);
    return !end || *end <= contentLength();
}

bool TNetCdfGoesGeo::ReadVariable(const std::string& name, std::span<float> grid)
{
    if (NcId == 0 || XCount <= 0 || YCount <= 0)
        return false;
    const std::size_t cells = static_cast<std::size_t>(XCount) * static_cast<std::size_t>(YCount);
    if (grid.size() != cells)
        return false;

    int varId = 0;
    if (nc_inq_varid(NcId, name.c_str(), &varId) != NC_NOERR)
        return false;
    // The library fills as many values as the variable holds: one of another size than the
    // grid would be written past the block, so it is refused here.
    int dimensionCount = 0;
    if (nc_inq_varndims(NcId, varId, &dimensionCount) != NC_NOERR || dimensionCount < 1 || dimensionCount > NC_MAX_VAR_DIMS)
        return false;
    std::vector<int> dimensions(static_cast<std::size_t>(dimensionCount));
    if (nc_inq_vardimid(NcId, varId, dimensions.data()) != NC_NOERR)
        return false;
    std::size_t values = 1;
    for (int dimension : dimensions) {
        std::size_t length = 0;
        if (nc_inq_dimlen(NcId, dimension, &length) != NC_NOERR)
            return false;
        if (length != 0 && values > cells / length + 1)
            return false; // would overflow, and is far too large anyway
        values *= length;
    }
    if (values != cells)
        return false;

    // A classic file's floats lie in the content as one run of big-endian values: they are
    // taken from there as the library would read them, without its buffers, on two threads
    // (a full disk's grid is 56 MB).
    if (!Memory.empty()) {
        const std::span<const unsigned char> content(reinterpret_cast<const unsigned char*>(Memory.data()), Memory.size());
        if (const auto extent = ClassicPlainVariable(content, name.c_str());
            extent && extent->Type == NC_FLOAT && extent->End - extent->Begin == cells * sizeof(float) &&
            extent->End <= content.size()) {
            const unsigned char* values = content.data() + extent->Begin;
            const auto convert = [values, grid](std::size_t from, std::size_t to) {
                for (std::size_t i = from; i < to; ++i) {
                    std::uint32_t bits = 0;
                    std::memcpy(&bits, values + i * sizeof bits, sizeof bits);
                    if constexpr (std::endian::native == std::endian::little)
                        bits = __builtin_bswap32(bits);
                    std::memcpy(&grid[i], &bits, sizeof bits);
                }
            };
            std::thread half(convert, cells / 2, cells);
            convert(0, cells / 2);
            half.join();
            return true;
        }
    }
    std::vector<float> block(cells);
    if (nc_get_var_float(NcId, varId, block.data()) != NC_NOERR)
        return false;
    std::copy(block.begin(), block.end(), grid.begin());
    return true;
}
