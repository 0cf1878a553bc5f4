#include "tools/synth/SynthLandMask.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace synth {
namespace {

std::int32_t BigEndian(const unsigned char* p)
{
    return static_cast<std::int32_t>((std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) |
                                     (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]));
}

struct TPoint {
    double Lon, Lat;
};

// Polygons hold at most this many points; anything larger is a damaged header.
constexpr std::int32_t kMaxPoints = 20'000'000;

} // namespace

bool TLandMask::LoadGshhs(const std::string& path, int cellsPerDegree)
{
    cells_.clear();
    if (cellsPerDegree < 1 || cellsPerDegree > 100)
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    perDegree_ = cellsPerDegree;
    width_ = 360 * perDegree_;
    height_ = 180 * perDegree_;
    std::vector<std::uint8_t> cells(static_cast<std::size_t>(width_) * height_, 0);
    std::vector<TPoint> poly;
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
        if (east - west >= 359.99) {
            const double poleLat = poly.front().Lat < 0 ? -90.0 : 90.0;
            poly.push_back({poly.back().Lon, poleLat});
            poly.push_back({poly.front().Lon, poleLat});
            n += 2;
        }
        // Even-odd scan fill, one raster row per latitude cell centre.
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
                const TPoint& a = poly[i];
                const TPoint& b = poly[(i + 1) % n];
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
    std::vector<std::string> candidates;
    if (!preferred.empty())
        candidates.push_back(preferred);
    if (const char* env = std::getenv("ORVANTA_GSHHS")) {
        std::stringstream list(env);
        std::string item;
        while (std::getline(list, item, '|'))
            if (!item.empty() && std::filesystem::path(item).filename().string().rfind("gshhs", 0) == 0)
                candidates.push_back(item);
    }
    candidates.push_back("/usr/share/gshhg/gshhs_i.b");
    for (const auto& c : candidates) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(c, ec))
            return c;
    }
    return {};
}

} // namespace synth
