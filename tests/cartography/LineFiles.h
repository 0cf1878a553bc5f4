#pragma once
// Builders for the line files the store reads, so tests can state the bytes they mean.

#include <netcdf.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace linefiles {

using Bytes = std::vector<std::uint8_t>;

inline void putWord(Bytes& b, std::uint32_t v, bool bigEndian)
{
    for (int i = 0; i < 4; ++i) {
        const int shift = bigEndian ? 24 - 8 * i : 8 * i;
        b.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

struct GshhsPolygon {
    int level = 1;
    std::uint32_t area = 1000;
    // Micro-degrees; count defaults to the number of points.
    std::vector<std::pair<std::int32_t, std::int32_t>> points;
    std::int64_t claimedCount = -1;
};

// One GSHHS file: version 15 (44-byte headers) by default; version 3 writes 40-byte headers
// marked by the 9th word, version 0 the oldest 36-byte ones.
inline Bytes gshhsFile(const std::vector<GshhsPolygon>& polys, bool bigEndian = true, int version = 15)
{
    const int words = version == 3 ? 10 : (version >= 7 ? 11 : 9);
    Bytes b;
    int id = 0;
    for (const auto& p : polys) {
        const auto n = static_cast<std::uint32_t>(p.claimedCount >= 0 ? p.claimedCount : static_cast<std::int64_t>(p.points.size()));
        const std::uint32_t flag = version >= 7 ? (static_cast<std::uint32_t>(version) << 8) | static_cast<std::uint32_t>(p.level)
                                                : static_cast<std::uint32_t>(p.level);
        std::vector<std::uint32_t> h(static_cast<std::size_t>(words), 0u);
        h[0] = static_cast<std::uint32_t>(id++);
        h[1] = n;
        h[2] = flag;
        h[7] = p.area;
        if (version == 3) h[8] = 3;
        for (auto w : h) putWord(b, w, bigEndian);
        for (auto [x, y] : p.points) {
            putWord(b, static_cast<std::uint32_t>(x), bigEndian);
            putWord(b, static_cast<std::uint32_t>(y), bigEndian);
        }
    }
    return b;
}

struct CompactRecord {
    std::optional<std::int32_t> count;  // default: the number of points
    std::uint8_t kind = 1;
    std::vector<std::pair<std::int16_t, std::int16_t>> minutes;
};

inline Bytes compactFile(const std::vector<CompactRecord>& records)
{
    Bytes b;
    for (const auto& r : records) {
        putWord(b, static_cast<std::uint32_t>(r.count.value_or(static_cast<std::int32_t>(r.minutes.size()))), false);
        b.push_back(r.kind);
        for (auto [lon, lat] : r.minutes) {
            b.push_back(static_cast<std::uint8_t>(lon & 0xFF));
            b.push_back(static_cast<std::uint8_t>((lon >> 8) & 0xFF));
            b.push_back(static_cast<std::uint8_t>(lat & 0xFF));
            b.push_back(static_cast<std::uint8_t>((lat >> 8) & 0xFF));
        }
    }
    return b;
}

// One integer variable of a netCDF file, on a dimension of its own named after it; rows > 1
// makes it two-dimensional (rows x values.size() / rows).
struct NcIntVar {
    std::string name;
    nc_type type = NC_INT;
    std::vector<int> values;
    int rows = 1;
};

// A classic netCDF file holding the variables, as bytes; empty when the library refuses.
inline Bytes netcdfFile(const std::vector<NcIntVar>& vars)
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "orvanta-nc-XXXXXX").string();
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return {};
    ::close(fd);
    Bytes bytes;
    int id = 0;
    bool ok = nc_create(tmpl.c_str(), NC_CLOBBER, &id) == NC_NOERR;
    std::vector<int> ids;
    for (const auto& v : vars) {
        int dims[2] = {0, 0};
        const std::size_t cols = v.values.size() / static_cast<std::size_t>(v.rows);
        int var = 0;
        if (v.rows > 1) ok = ok && nc_def_dim(id, (v.name + "_rows").c_str(), static_cast<std::size_t>(v.rows), &dims[0]) == NC_NOERR;
        ok = ok && nc_def_dim(id, (v.name + "_n").c_str(), cols, &dims[v.rows > 1 ? 1 : 0]) == NC_NOERR;
        ok = ok && nc_def_var(id, v.name.c_str(), v.type, v.rows > 1 ? 2 : 1, dims, &var) == NC_NOERR;
        ids.push_back(var);
    }
    ok = ok && nc_enddef(id) == NC_NOERR;
    for (std::size_t i = 0; i < vars.size(); ++i)
        if (!vars[i].values.empty()) ok = ok && nc_put_var_int(id, ids[i], vars[i].values.data()) == NC_NOERR;
    if (nc_close(id) == NC_NOERR && ok) {
        std::ifstream in(tmpl, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::filesystem::remove(tmpl);
    return bytes;
}

// A border file of two bins, each 180 degrees square: one line from (60, 30) east to the
// bin edge at (180, 30), and its continuation on to (300, -30) in the eastern bin.
inline std::vector<NcIntVar> binnedBorderVars()
{
    return {{"Bin_size_in_minutes", NC_INT, {10800}},
            {"N_bins_in_360_longitude_range", NC_INT, {2}},
            {"N_bins_in_180_degree_latitude_range", NC_INT, {1}},
            {"Id_of_first_segment_in_a_bin", NC_INT, {0, 1}},
            {"N_segments_in_a_bin", NC_SHORT, {1, 1}},
            {"N_points_for_a_segment", NC_SHORT, {2, 2}},
            {"Hierarchial_level_of_a_segment", NC_SHORT, {1, 1}},
            {"Id_of_first_point_in_a_segment", NC_INT, {0, 2}},
            // Offsets are 16-bit and unsigned in meaning: 65535 is the far edge, stored as -1.
            {"Relative_longitude_from_SW_corner_of_bin", NC_SHORT, {21845, 65535 - 65536, 0, 43690 - 65536}},
            {"Relative_latitude_from_SW_corner_of_bin", NC_SHORT, {43690 - 65536, 43690 - 65536, 43690 - 65536, 21845}}};
}

// The shared folder of published data; the environment may point elsewhere, for a work tree
// that doesn't sit beside it.
inline std::string shared(const std::string& rel)
{
    const char* env = std::getenv("ORVANTA_SHARED_DATA");
    return std::string(env && *env ? env : ORVANTA_SHARED_DATA) + "/" + rel;
}

inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A scratch directory removed with the object.
class TempDir {
public:
    TempDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "orvanta-carto-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name, const Bytes& content) const
    {
        const std::string p = path_ + "/" + name;
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                  static_cast<std::streamsize>(content.size()));
        return p;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace linefiles
