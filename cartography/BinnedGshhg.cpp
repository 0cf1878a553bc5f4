#include "cartography/BinnedGshhg.h"

#include <netcdf.h>
#include <netcdf_mem.h>

#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "cartography/vrnCartography.h"
#include "netcdf/ClassicHeader.h"

namespace binned {
namespace {

constexpr std::int64_t kMinutesAround = 360 * 60;
constexpr std::int64_t kMinutesPoleToPole = 180 * 60;

// The published files inflate to little more than their own size (the offsets don't
// compress much). A file that claims far more is damaged or hostile, and nothing is
// allocated for it.
constexpr std::uint64_t kMaxInflation = 64;

// The library trusts the counts in a classic (netCDF-3) header and allocates for them before
// it looks any further: a few hundred hostile bytes can ask it for gigabytes. So the header is
// walked here first, and a variable of a type the format does not have is damage too.
bool SoundClassicHeader(std::span<const std::uint8_t> data)
{
    std::vector<std::uint64_t> dimensions;
    bool sound = true;
    const bool walked = WalkClassicHeader(data, dimensions, [&](const TClassicVariable& v) {
        sound = ClassicTypeSize(v.Type) != 0;
        return sound;
    });
    return walked && sound;
}

// An open netCDF file held in memory. The library wants a writable buffer even for reading,
// so it gets its own copy.
class TNcImage {
public:
    explicit TNcImage(std::span<const std::uint8_t> data) : bytes_(data.begin(), data.end())
    {
        if (data.size() >= 4 && data[0] == 'C' && !SoundClassicHeader(data)) return;
        if (nc_open_mem("binned", NC_NOWRITE, bytes_.size(), bytes_.data(), &id_) != NC_NOERR) id_ = -1;
    }
    ~TNcImage()
    {
        if (id_ >= 0) nc_close(id_);
    }
    TNcImage(const TNcImage&) = delete;
    TNcImage& operator=(const TNcImage&) = delete;

    bool IsOpen() const { return id_ >= 0; }
    int Id() const { return id_; }
    bool Has(const char* name) const
    {
        int v = 0;
        return nc_inq_varid(id_, name, &v) == NC_NOERR;
    }

private:
    std::vector<std::uint8_t> bytes_;
    int id_ = -1;
};

// The variables every file of the family has, named as GMT names them.
constexpr const char* kBinMinutes = "Bin_size_in_minutes";
constexpr const char* kBinsAcross = "N_bins_in_360_longitude_range";
constexpr const char* kBinsDown = "N_bins_in_180_degree_latitude_range";
constexpr const char* kFirstPiece = "Id_of_first_segment_in_a_bin";
constexpr const char* kPiecesInBin = "N_segments_in_a_bin";
constexpr const char* kFirstPoint = "Id_of_first_point_in_a_segment";
constexpr const char* kDx = "Relative_longitude_from_SW_corner_of_bin";
constexpr const char* kDy = "Relative_latitude_from_SW_corner_of_bin";
constexpr const char* kCommonNames[] = {kBinMinutes, kBinsAcross, kBinsDown, kFirstPiece,
                                        kPiecesInBin, kFirstPoint, kDx, kDy};
// Shoreline files pack the points of a piece with its level; border and river files don't.
constexpr const char* kPackedPieces = "Embedded_npts_levels_exit_entry_for_a_segment";
constexpr const char* kAntarcticFlag = "Embedded_ANT_flag";
constexpr const char* kPolygonOfPiece = "Id_of_GSHHS_ID";
// Antarctica comes twice in files with the flag: as the ice front and as the grounding line
// (level 6). The flag marks every Antarctic polygon of the ice-front reading, its islands
// too; only the continent itself, this polygon, has the grounding line as its other outline.
// The islands are coast in either reading.
constexpr int kAntarcticIceFrontPolygon = 4;
constexpr const char* kPointsInPiece = "N_points_for_a_segment";
constexpr const char* kPieceLevel = "Hierarchial_level_of_a_segment";

// Which of the two layouts the file has, or nullopt when it is some other netCDF file.
std::optional<bool> shorelineLayout(const TNcImage& nc)
{
    for (const char* name : kCommonNames)
        if (!nc.Has(name)) return std::nullopt;
    if (nc.Has(kPackedPieces)) return true;
    if (nc.Has(kPointsInPiece) && nc.Has(kPieceLevel)) return false;
    return std::nullopt;
}

class TArrayReader {
public:
    TArrayReader(const TNcImage& nc, std::size_t fileBytes) : nc_(nc), budget_(kMaxInflation * fileBytes) {}

    // The first value of a variable of any numeric shape, as the scalars of the family are
    // stored as one-element arrays.
    std::int32_t Scalar(const char* name) const
    {
        int v = 0, ndims = 0;
        if (nc_inq_varid(nc_.Id(), name, &v) != NC_NOERR || nc_inq_varndims(nc_.Id(), v, &ndims) != NC_NOERR)
            throw EReadError(std::string("No variable ") + name);
        if (ndims > 1) throw EReadError(std::string("Not a scalar: ") + name);
        if (ndims == 1 && length(v, name) < 1) throw EReadError(std::string("No value in ") + name);
        const std::size_t at[1] = {0};
        int value = 0;
        if (nc_get_var1_int(nc_.Id(), v, at, &value) != NC_NOERR) throw EReadError(std::string("Unreadable ") + name);
        return value;
    }

    // A one-dimensional integer array, whatever integer type the file stores it as.
    std::vector<int> Array(const char* name)
    {
        int v = 0, ndims = 0;
        if (nc_inq_varid(nc_.Id(), name, &v) != NC_NOERR || nc_inq_varndims(nc_.Id(), v, &ndims) != NC_NOERR)
            throw EReadError(std::string("No variable ") + name);
        if (ndims != 1) throw EReadError(std::string("Not one-dimensional: ") + name);
        const std::size_t n = length(v, name);
        // Counted against what the file could possibly hold before anything is allocated.
        const std::uint64_t bytes = static_cast<std::uint64_t>(n) * sizeof(int);
        if (n > budget_ / sizeof(int) || bytes > budget_) throw EReadError(std::string("Implausible length of ") + name);
        budget_ -= bytes;
        std::vector<int> out(n);
        if (n > 0 && nc_get_var_int(nc_.Id(), v, out.data()) != NC_NOERR)
            throw EReadError(std::string("Unreadable ") + name);
        return out;
    }

private:
    std::size_t length(int v, const char* name) const
    {
        int dim = 0;
        std::size_t n = 0;
        if (nc_inq_vardimid(nc_.Id(), v, &dim) != NC_NOERR || nc_inq_dimlen(nc_.Id(), dim, &n) != NC_NOERR)
            throw EReadError(std::string("No dimension for ") + name);
        return n;
    }

    const TNcImage& nc_;
    std::uint64_t budget_;
};

// Offsets are stored as signed shorts but mean 0..65535.
std::vector<std::uint16_t> offsets(const std::vector<int>& raw)
{
    std::vector<std::uint16_t> out(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] < std::numeric_limits<std::int16_t>::min() || raw[i] > std::numeric_limits<std::uint16_t>::max())
            throw EReadError("Offset outside its bin");
        out[i] = static_cast<std::uint16_t>(raw[i]);
    }
    return out;
}

TBinnedLines readArrays(const TNcImage& nc, bool shorelines, std::size_t fileBytes)
{
    TArrayReader r(nc, fileBytes);
    TBinnedLines f;
    f.Shorelines = shorelines;
    f.BinMinutes = r.Scalar(kBinMinutes);
    f.BinsAcross = r.Scalar(kBinsAcross);
    f.BinsDown = r.Scalar(kBinsDown);
    f.FirstPiece = r.Array(kFirstPiece);
    f.PiecesInBin = r.Array(kPiecesInBin);
    f.FirstPoint = r.Array(kFirstPoint);
    if (shorelines) {
        // npts in bits 9 and up, level in bits 6-8, the bin sides of entry and exit below.
        const auto packed = r.Array(kPackedPieces);
        // Files from before the second Antarctica have no flag; their Antarctica is land.
        std::vector<int> antarctic, polygon;
        if (nc.Has(kAntarcticFlag)) {
            antarctic = r.Array(kAntarcticFlag);
            polygon = r.Array(kPolygonOfPiece);
        }
        if (!antarctic.empty() && (antarctic.size() != packed.size() || polygon.size() != packed.size()))
            throw EReadError("Antarctic flags don't match the pieces");
        f.PointsInPiece.resize(packed.size());
        f.Level.resize(packed.size());
        for (std::size_t i = 0; i < packed.size(); ++i) {
            const auto bits = static_cast<std::uint32_t>(packed[i]);
            f.PointsInPiece[i] = bits >> 9;
            const bool iceFront = !antarctic.empty() && antarctic[i] != 0 && polygon[i] == kAntarcticIceFrontPolygon;
            f.Level[i] = iceFront ? 5 : static_cast<std::int32_t>((bits >> 6) & 7u);
        }
    } else {
        const auto counts = r.Array(kPointsInPiece);
        f.PointsInPiece.assign(counts.begin(), counts.end());
        f.Level = r.Array(kPieceLevel);
    }
    f.Dx = offsets(r.Array(kDx));
    f.Dy = offsets(r.Array(kDy));
    return f;
}

// Shorelines: what the GSHHS reader keeps of the same release: land (1), islands in lakes (3)
// and Antarctica's grounding line (6) and islands, never ponds (4) or the ice front (5); every lake (2)
// of this release passes that reader's area test, so all are kept. Borders: the national
// ones (1) only; internal (2) and maritime (3) boundaries would draw boxes round the open
// ocean of the Pacific. Rivers likewise: the permanent major ones (1).
bool keeps(std::int32_t level, bool shorelines)
{
    if (!shorelines) return level == 1;
    return level == 1 || level == 2 || level == 3 || level == 6;
}

// Degrees from a position counted in offset units from longitude 0 or latitude -90. Whole
// positions, not corner plus offset, so that a line's last point in one bin and its first
// in the next come out as the very same float.
float degrees(std::int64_t units, std::int32_t binMinutes, long double origin)
{
    return static_cast<float>(static_cast<long double>(units) * binMinutes / (60.0L * kUnitsPerBin) + origin);
}

// The file opened and its layout known; nullopt when the bytes aren't a binned line file.
struct TOpened {
    std::unique_ptr<TNcImage> Nc;
    bool Shorelines = false;
};

std::optional<TOpened> openBinned(std::span<const std::uint8_t> data)
{
    if (!HasNetCdfMagic(data)) return std::nullopt;
    auto nc = std::make_unique<TNcImage>(data);
    if (!nc->IsOpen()) return std::nullopt;
    const auto layout = shorelineLayout(*nc);
    if (!layout) return std::nullopt;
    return TOpened{std::move(nc), *layout};
}

}  // namespace

bool HasNetCdfMagic(std::span<const std::uint8_t> data)
{
    static constexpr std::uint8_t hdf5[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1A, '\n'};
    if (data.size() >= 8 && std::memcmp(data.data(), hdf5, 8) == 0) return true;
    return data.size() >= 4 && data[0] == 'C' && data[1] == 'D' && data[2] == 'F' &&
           (data[3] == 1 || data[3] == 2 || data[3] == 5);
}

std::optional<TBinnedLines> ReadBinnedLines(std::span<const std::uint8_t> data)
{
    const auto opened = openBinned(data);
    if (!opened) return std::nullopt;
    return readArrays(*opened->Nc, opened->Shorelines, data.size());
}

void CheckArrays(const TBinnedLines& f)
{
    if (f.BinMinutes <= 0 || f.BinsAcross <= 0 || f.BinsDown <= 0 ||
        static_cast<std::int64_t>(f.BinMinutes) * f.BinsAcross != kMinutesAround ||
        static_cast<std::int64_t>(f.BinMinutes) * f.BinsDown != kMinutesPoleToPole)
        throw EReadError("Bins don't tile the globe");
    const std::size_t bins = static_cast<std::size_t>(f.BinsAcross) * static_cast<std::size_t>(f.BinsDown);
    if (f.FirstPiece.size() != bins || f.PiecesInBin.size() != bins) throw EReadError("Bin arrays of the wrong length");
    if (f.PointsInPiece.size() != f.FirstPoint.size() || f.Level.size() != f.FirstPoint.size())
        throw EReadError("Piece arrays of different lengths");
    if (f.Dx.size() != f.Dy.size()) throw EReadError("Point arrays of different lengths");
}

void AppendBinnedLines(TCartogList& store, const TBinnedLines& f)
{
    CheckArrays(f);
    const std::size_t bins = f.FirstPiece.size();
    const auto pieces = static_cast<std::int64_t>(f.FirstPoint.size());
    const auto points = static_cast<std::int64_t>(f.Dx.size());

    for (std::size_t b = 0; b < bins; ++b) {
        const std::int64_t first = f.FirstPiece[b];
        const std::int64_t count = f.PiecesInBin[b];
        if (first < 0 || count < 0 || first + count > pieces) throw EReadError("Bin pieces beyond the arrays");
        const auto row = static_cast<std::int64_t>(b / static_cast<std::size_t>(f.BinsAcross));
        const auto col = static_cast<std::int64_t>(b % static_cast<std::size_t>(f.BinsAcross));
        const std::int64_t west = col * kUnitsPerBin;
        const std::int64_t south = (f.BinsDown - 1 - row) * kUnitsPerBin;
        for (std::int64_t p = first; p < first + count; ++p) {
            const auto i = static_cast<std::size_t>(p);
            if (!keeps(f.Level[i], f.Shorelines)) continue;
            const std::int64_t n = f.PointsInPiece[i];
            const std::int64_t start = f.FirstPoint[i];
            // Nothing is allocated for a count the point arrays don't back.
            if (n < 0 || start < 0 || n > points || start > points - n) throw EReadError("Piece points beyond the arrays");
            auto segment = std::make_unique<TLineSegment>();
            segment->Count = static_cast<std::int32_t>(n);
            segment->Kind = 1;
            segment->Points.reserve(static_cast<std::size_t>(n));
            for (std::int64_t k = start; k < start + n; ++k) {
                const auto at = static_cast<std::size_t>(k);
                segment->AddPoint(degrees(west + f.Dx[at], f.BinMinutes, 0.0L),
                                  degrees(south + f.Dy[at], f.BinMinutes, -90.0L));
            }
            segment->WrapEastWest();
            if (store.MaxPoints < segment->Count) store.MaxPoints = segment->Count;
            store.AddSegment(std::move(segment));
        }
    }
}

bool ReadBinnedGshhg(TCartogList& store, std::span<const std::uint8_t> data)
{
    const auto opened = openBinned(data);
    if (!opened) return false;
    // Said before anything can fail: even a damaged file's pieces are open lines.
    store.ClosePolygons = false;
    AppendBinnedLines(store, readArrays(*opened->Nc, opened->Shorelines, data.size()));
    return true;
}

}  // namespace binned
