#pragma once
// Builders for the line files the store reads, so tests can state the bytes they mean.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

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
