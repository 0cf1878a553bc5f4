#include "tools/synth/SynthLandMask.h"

#include "cartography/BinnedGshhg.h"
#include "cartography/vrnCartography.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unordered_map>

namespace synth {
namespace {

std::int32_t BigEndian(const unsigned char* p)
{
    return static_cast<std::int32_t>((std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) |
                                     (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]));
}


// Polygons hold at most this many points; anything larger is a damaged header.
constexpr std::int32_t kMaxPoints = 20'000'000;

} // namespace

void TLandMask::CloseThroughThePole(std::vector<TRingPoint>& poly)
{
    const double poleLat = poly.front().Lat < 0 ? -90.0 : 90.0;
    poly.push_back({poly.back().Lon, poleLat});
    poly.push_back({poly.front().Lon, poleLat});
}

// Toggles the cells whose centres the ring encloses (even-odd, one raster row per latitude
// cell centre), so that lakes inside land and islands inside lakes come out right whatever
// order the rings arrive in.
void TLandMask::FillRing(const std::vector<TRingPoint>& poly, std::vector<std::uint8_t>& cells,
                         std::vector<double>& crossings) const
{
    const auto n = static_cast<std::int32_t>(poly.size());
    double south = 90, north = -90;
    for (const auto& p : poly) {
        south = std::min(south, p.Lat);
        north = std::max(north, p.Lat);
    }
    const int rowFirst = std::max(0, static_cast<int>(std::floor((90.0 - north) * perDegree_)));
    const int rowLast = std::min(height_ - 1, static_cast<int>(std::ceil((90.0 - south) * perDegree_)));
    for (int row = rowFirst; row <= rowLast; ++row) {
        const double lat = 90.0 - (row + 0.5) / perDegree_;
        crossings.clear();
        for (std::int32_t i = 0; i < n; ++i) {
            const TRingPoint& a = poly[i];
            const TRingPoint& b = poly[(i + 1) % n];
            if ((a.Lat <= lat) == (b.Lat <= lat))
                continue;
            crossings.push_back(a.Lon + (lat - a.Lat) / (b.Lat - a.Lat) * (b.Lon - a.Lon));
        }
        std::sort(crossings.begin(), crossings.end());
        std::uint8_t* line = &cells[static_cast<std::size_t>(row) * width_];
        for (std::size_t k = 0; k + 1 < crossings.size(); k += 2) {
            // Cells whose centre lies between the two crossings, wrapped round the globe.
            const long first = std::lround(std::ceil(crossings[k] * perDegree_ - 0.5));
            const long last = std::lround(std::floor(crossings[k + 1] * perDegree_ - 0.5));
            for (long c = first; c <= last && c < first + width_; ++c)
                line[((c % width_) + width_) % width_] ^= 1;
        }
    }
}

bool TLandMask::Start(int cellsPerDegree)
{
    cells_.clear();
    if (cellsPerDegree < 1 || cellsPerDegree > 100)
        return false;
    perDegree_ = cellsPerDegree;
    width_ = 360 * perDegree_;
    height_ = 180 * perDegree_;
    return true;
}

bool TLandMask::Load(const std::string& path, int cellsPerDegree)
{
    std::ifstream in(path, std::ios::binary);
    std::array<std::uint8_t, 8> magic{};
    in.read(reinterpret_cast<char*>(magic.data()), magic.size());
    if (binned::HasNetCdfMagic(std::span<const std::uint8_t>(magic.data(), static_cast<std::size_t>(in.gcount()))))
        return LoadBinned(path, cellsPerDegree);
    return LoadGshhs(path, cellsPerDegree);
}

bool TLandMask::LoadBinned(const std::string& path, int cellsPerDegree)
{
    if (!Start(cellsPerDegree))
        return false;
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::optional<binned::TBinnedLines> read;
    try {
        read = binned::ReadBinnedLines(bytes);
        if (read)
            binned::CheckArrays(*read);
    } catch (const std::exception&) {
        return false;
    }
    if (!read || !read->Shorelines)
        return false;
    const binned::TBinnedLines& f = *read;
    constexpr std::int64_t unitsPerBin = binned::kUnitsPerBin;
    const std::int64_t around = static_cast<std::int64_t>(f.BinsAcross) * unitsPerBin;

    // Every piece of land, lake, island in a lake, pond and ice front (the ice shelves are
    // land here, as with the GSHHS polygons), in whole offset units from (0, -90).
    struct TPiece {
        std::int64_t X0, Y0, First, Count;
    };
    std::vector<TPiece> pieces;
    const auto points = static_cast<std::int64_t>(f.Dx.size());
    for (std::size_t b = 0; b < f.FirstPiece.size(); ++b) {
        const std::int64_t first = f.FirstPiece[b], count = f.PiecesInBin[b];
        if (first < 0 || count < 0 || first + count > static_cast<std::int64_t>(f.FirstPoint.size()))
            return false;
        const auto row = static_cast<std::int64_t>(b) / f.BinsAcross, col = static_cast<std::int64_t>(b) % f.BinsAcross;
        for (std::int64_t p = first; p < first + count; ++p) {
            const auto i = static_cast<std::size_t>(p);
            const std::int64_t n = f.PointsInPiece[i], start = f.FirstPoint[i];
            if (n < 1 || start < 0 || n > points || start > points - n)
                return false;
            if (f.Level[i] >= 1 && f.Level[i] <= 5)
                pieces.push_back({col * unitsPerBin, (f.BinsDown - 1 - row) * unitsPerBin, start, n});
        }
    }
    const auto unitX = [&](const TPiece& p, std::int64_t k) { return p.X0 + f.Dx[static_cast<std::size_t>(k)]; };
    const auto unitY = [&](const TPiece& p, std::int64_t k) { return p.Y0 + f.Dy[static_cast<std::size_t>(k)]; };
    // Where a piece leaves its bin the next one starts, at the very same units (modulo the
    // way round the globe at Greenwich).
    const auto key = [&](std::int64_t x, std::int64_t y) {
        return static_cast<std::uint64_t>(((x % around) + around) % around) << 32 | static_cast<std::uint64_t>(y);
    };
    std::unordered_multimap<std::uint64_t, std::size_t> byStart;
    for (std::size_t i = 0; i < pieces.size(); ++i)
        byStart.emplace(key(unitX(pieces[i], pieces[i].First), unitY(pieces[i], pieces[i].First)), i);

    const long double degreesPerUnit = static_cast<long double>(f.BinMinutes) / (60.0L * unitsPerBin);
    std::vector<std::uint8_t> cells(static_cast<std::size_t>(width_) * height_, 0);
    std::vector<bool> used(pieces.size(), false);
    std::vector<TRingPoint> ring;
    std::vector<double> crossings;
    for (std::size_t start = 0; start < pieces.size(); ++start) {
        if (used[start])
            continue;
        ring.clear();
        std::int64_t shift = 0;  // whole turns added to keep the ring's longitudes continuous
        std::size_t at = start;
        const std::uint64_t home = key(unitX(pieces[at], pieces[at].First), unitY(pieces[at], pieces[at].First));
        for (;;) {
            used[at] = true;
            const TPiece& piece = pieces[at];
            if (!ring.empty()) {
                const double lon = static_cast<double>(unitX(piece, piece.First) * degreesPerUnit);
                shift = std::llround((ring.back().Lon - lon) / 360.0) * around;
            }
            for (std::int64_t k = piece.First + (ring.empty() ? 0 : 1); k < piece.First + piece.Count; ++k)
                ring.push_back({static_cast<double>((unitX(piece, k) + shift) * degreesPerUnit),
                                static_cast<double>(unitY(piece, k) * degreesPerUnit - 90.0L)});
            const std::uint64_t end = key(unitX(piece, piece.First + piece.Count - 1), unitY(piece, piece.First + piece.Count - 1));
            if (end == home)
                break;
            const auto [lo, hi] = byStart.equal_range(end);
            const auto next = std::find_if(lo, hi, [&](const auto& e) { return !used[e.second]; });
            if (next == hi)
                break;
            at = next->second;
        }
        if (ring.size() < 3)
            continue;
        // A ring round the globe (Antarctica) ends a whole turn from where it began.
        if (std::fabs(ring.back().Lon - ring.front().Lon) > 180.0)
            CloseThroughThePole(ring);
        FillRing(ring, cells, crossings);
    }
    if (pieces.empty())
        return false;
    cells_ = std::move(cells);
    return true;
}

bool TLandMask::LoadGshhs(const std::string& path, int cellsPerDegree)
{
    if (!Start(cellsPerDegree))
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::vector<std::uint8_t> cells(static_cast<std::size_t>(width_) * height_, 0);
    std::vector<TRingPoint> poly;
    std::vector<unsigned char> raw;
    std::vector<double> crossings;
    bool any = false;
    std::array<unsigned char, 44> header{};
    while (in.read(reinterpret_cast<char*>(header.data()), header.size())) {
        std::int32_t n = BigEndian(&header[4]);
        const std::int32_t flag = BigEndian(&header[8]);
        if (n < 0 || n > kMaxPoints)
            return false;
        raw.resize(static_cast<std::size_t>(n) * 8);
        if (!in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size())))
            return false;
        const int level = flag & 0xFF;
        // Antarctica's ice front (level 5) counts as land; its grounding line (level 6)
        // lies inside it and would cut the ice shelves out again.
        if (level < 1 || level > 5 || n < 3)
            continue;
        // Polygons across the Greenwich meridian keep their western points near 360
        // degrees; bring those back to negative longitudes so the ring does not jump.
        const bool greenwich = (flag >> 16) & 1;
        poly.resize(n);
        for (std::int32_t i = 0; i < n; ++i) {
            double lon = BigEndian(&raw[i * 8]) * 1e-6;
            if (greenwich && lon > 270.0)
                lon -= 360.0;
            poly[i] = {lon, BigEndian(&raw[i * 8 + 4]) * 1e-6};
        }
        // A ring right round the globe (Antarctica) encloses the pole: close it through
        // the pole so that it is a plain polygon in longitude and latitude.
        const double west = BigEndian(&header[12]) * 1e-6, east = BigEndian(&header[16]) * 1e-6;
        if (east - west >= 359.99)
            CloseThroughThePole(poly);
        FillRing(poly, cells, crossings);
        any = true;
    }
    if (!any)
        return false;
    cells_ = std::move(cells);
    return true;
}

std::uint8_t TLandMask::At(float lon, float lat) const
{
    if (cells_.empty() || !std::isfinite(lon) || !std::isfinite(lat))
        return 0;
    const int row = std::clamp(static_cast<int>((90.0 - lat) * perDegree_), 0, height_ - 1);
    long col = static_cast<long>(std::floor(lon * perDegree_));
    col = ((col % width_) + width_) % width_;
    return cells_[static_cast<std::size_t>(row) * width_ + col];
}

std::string FindShorelineFile(const std::string& preferred)
{
    std::error_code ec;
    if (!preferred.empty())
        return std::filesystem::is_regular_file(preferred, ec) ? preferred : std::string();
    const char* env = std::getenv(kGshhsEnvironmentVariable);
    std::stringstream list(StartupPathList(env ? env : "", ""));
    std::string item;
    while (std::getline(list, item, '|')) {
        const std::string name = std::filesystem::path(item).filename().string();
        const bool shoreline = name.rfind("gshhs", 0) == 0 || name.rfind("binned_GSHHS", 0) == 0;
        if (shoreline && std::filesystem::is_regular_file(item, ec))
            return item;
    }
    return {};
}

} // namespace synth
