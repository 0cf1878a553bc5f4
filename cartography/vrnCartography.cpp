#include "cartography/vrnCartography.h"

#include <array>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>
#include <typeinfo>

#include "cartography/BinnedGshhg.h"
#include "cartography/vrnGSHHSdata.h"
#include "imaging/BMPExtImage.h"
#include "imaging/Canvas.h"
#include "mapping/SegmentStuff.h"

namespace {

std::uint32_t byteSwap(std::uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

std::uint32_t littleEndianWord(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Degrees from an integer in a unit fraction of a degree, divided in extended precision
// and rounded once into the stored float.
float toDegrees(std::int64_t value, long double unitsPerDegree)
{
    return static_cast<float>(static_cast<long double>(value) / unitsPerDegree);
}

bool fileExists(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

// The whole file, or nothing when it isn't a readable regular file.
std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path)
{
    if (!fileExists(path)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::array<char, 1 << 16> chunk;
    // Read in chunks rather than trusting the size the file system reports: the file may
    // still be growing or shrinking while we read it.
    while (in) {
        in.read(chunk.data(), chunk.size());
        const auto got = static_cast<std::size_t>(in.gcount());
        bytes.insert(bytes.end(), chunk.data(), chunk.data() + got);
    }
    if (in.bad()) return std::nullopt;
    return bytes;
}

std::string upperExtension(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot);
    for (char& c : ext)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return ext;
}

// ---- GPX text helpers -------------------------------------------------------------

// A file's text as single-byte characters: a UTF-8 byte-order mark is skipped, UTF-16 text
// is narrowed (everything the reader looks at is ASCII, anything else becomes '?').
std::string gpxText(std::span<const std::uint8_t> data)
{
    if (data.size() >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        return std::string(data.begin() + 3, data.end());
    const bool le = data.size() >= 2 && data[0] == 0xFF && data[1] == 0xFE;
    const bool be = data.size() >= 2 && data[0] == 0xFE && data[1] == 0xFF;
    if (!le && !be) return std::string(data.begin(), data.end());
    std::string out;
    out.reserve(data.size() / 2);
    for (std::size_t i = 2; i + 1 < data.size(); i += 2) {
        const unsigned unit = le ? (data[i] | (data[i + 1] << 8)) : ((data[i] << 8) | data[i + 1]);
        out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return out;
}

// Lines end at CR, LF or CR LF, as a text editor of the station's would split them.
std::vector<std::string_view> splitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// Trimmed of blanks and control characters at both ends, ASCII lower case.
std::string normalisedLine(std::string_view line)
{
    std::size_t b = 0, e = line.size();
    while (b < e && static_cast<unsigned char>(line[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(line[e - 1]) <= ' ') --e;
    std::string s(line.substr(b, e - b));
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// A decimal number with '.' as separator whatever the locale; no partial conversions, and
// nothing a float can't hold (it would only poison the box and the projection).
std::optional<long double> parseDecimal(std::string_view s)
{
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty() || s.front() == '+') return std::nullopt;
    long double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    if (!std::isfinite(v) || std::fabs(v) > std::numeric_limits<float>::max()) return std::nullopt;
    return v;
}

// The value of `name="..."` on a line: at most 99 characters after the quote, cut at the
// next quote.
std::optional<long double> attributeNumber(const std::string& line, std::string_view name)
{
    const auto at = line.find(name);
    if (at == std::string::npos) return std::nullopt;
    std::string_view rest = std::string_view(line).substr(at + name.size());
    rest = rest.substr(0, std::min<std::size_t>(rest.size(), 99));
    const auto quote = rest.find('"');
    if (quote != std::string_view::npos) rest = rest.substr(0, quote);
    return parseDecimal(rest);
}

}  // namespace

// ---- TMemoryReadStream ------------------------------------------------------------

std::size_t TMemoryReadStream::Read(void* dst, std::size_t n)
{
    const auto avail = static_cast<std::size_t>(Remaining());
    const std::size_t got = n < avail ? n : avail;
    if (got > 0) std::memcpy(dst, data_.data() + pos_, got);
    pos_ += static_cast<std::int64_t>(got);
    return got;
}

void TMemoryReadStream::ReadBuffer(void* dst, std::size_t n)
{
    if (static_cast<std::uint64_t>(Remaining()) < n) throw EReadError("Stream read error");
    Read(dst, n);
}

// ---- TLineSegment -----------------------------------------------------------------

void TLineSegment::AddPoint(float lon, float lat)
{
    Points.push_back({lon, lat});
    if (lon < West) West = lon;
    if (lon > East) East = lon;
    if (lat < South) South = lat;
    if (lat > North) North = lat;
}

void TLineSegment::WrapEastWest()
{
    if (East > 180.0f) East -= 360.0f;
    if (West > 180.0f) West -= 360.0f;
}

// ---- TCartogList ------------------------------------------------------------------

TCartogList::TCartogList() : TCartogList(std::string()) {}

TCartogList::TCartogList(std::string defaultPath) : DefaultPath(std::move(defaultPath))
{
    raiseCapacity(kInitialCapacity);
}

TCartogList::~TCartogList() { items_.clear(); }

void TCartogList::raiseCapacity(int by)
{
    if (by <= 0) return;
    capacity_ += by;
    items_.reserve(static_cast<std::size_t>(capacity_));
}

void TCartogList::Clear()
{
    items_.clear();
    MaxPoints = 0;
}

void TCartogList::AddSegment(std::unique_ptr<TLineSegment> segment)
{
    if (!segment) return;
    if (Count() >= capacity_) capacity_ = Count() + 1;
    items_.push_back(std::move(segment));
    if (Count() == capacity_) raiseCapacity(kCapacityStep);
}

TLineSegment* TCartogList::FirstSegment(int& cursor) const
{
    cursor = 1;
    return items_.empty() ? nullptr : items_.front().get();
}

TLineSegment* TCartogList::NextSegment(int& cursor) const
{
    TLineSegment* s = (cursor >= 0 && cursor < Count()) ? items_[static_cast<std::size_t>(cursor)].get() : nullptr;
    ++cursor;
    return s;
}

void TCartogList::LoadFromPathList(const std::string& pathList)
{
    Clear();
    LoadProblems.clear();
    if (pathList.empty()) return;
    std::size_t start = 0;
    for (;;) {
        const auto bar = pathList.find('|', start);
        LoadFile(pathList.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
}

void TCartogList::LoadFile(const std::string& path)
{
    ClosePolygons = true;
    try {
        const auto bytes = readWholeFile(path);
        if (!bytes) {
            LoadProblems.push_back(path + ": cannot be read");
            return;
        }
        LoadFromMemory(*bytes, path);
    } catch (const std::exception& e) {
        // An unreadable or damaged file only means fewer lines on the images.
        LoadProblems.push_back(path + ": " + e.what());
    } catch (...) {
        LoadProblems.push_back(path + ": unexpected error");
    }
}

void TCartogList::LoadFromMemory(std::span<const std::uint8_t> data, const std::string& fileName)
{
    ClosePolygons = true;
    if (data.size() < 4) {
        LoadProblems.push_back(fileName + ": too short for a map file");
        return;
    }
    TMemoryReadStream stream(data);
    try {
        if (littleEndianWord(data.data()) == 0) {
            // Shorelines and borders are drawn as stored, whether the file is whole or cut
            // short: a chord back to a polyline's start would run across the map.
            ClosePolygons = false;
            ReadGshhs(stream);
        } else if (std::memcmp(data.data(), "# -b", 4) == 0) {
            return;
        } else if (binned::HasNetCdfMagic(data)) {
            // GSHHG's binned files. Any other netCDF file, or one too damaged to open, loads
            // nothing: it is no compact map, and reading it as one would discard what the
            // earlier files of the list brought.
            binned::ReadBinnedGshhg(*this, data);
        } else if (upperExtension(fileName) == ".GPX") {
            ReadGpx(stream);
        } else {
            ReadCompactMap(stream);
        }
    } catch (const std::exception& e) {
        // The reader stopped at damaged data; segments appended before it stay.
        LoadProblems.push_back(fileName + ": " + e.what());
    }
    // A later file of the list (a GPX track, a missing file) sets the store's flag anew, and
    // must not close the open pieces this one brought. They are the unmarked ones at the end
    // (a compact map file may have cleared what came before).
    for (int i = Count() - 1; i >= 0 && !Items(i)->Closed; --i) Items(i)->Closed = ClosePolygons;
}

void TCartogList::ReadGshhs(TMemoryReadStream& stream)
{
    std::array<std::uint8_t, gshhs::kMaxHeaderBytes> raw{};
    const std::int64_t start = stream.Position();
    const std::size_t got = stream.Read(raw.data(), raw.size());
    if (got < raw.size()) return;
    stream.Seek(start);

    const bool swap = littleEndianWord(raw.data() + 4 * gshhs::kWordCount) > gshhs::kLittleEndianCountLimit;
    auto word = [&](const std::uint8_t* header, int index) {
        const std::uint32_t w = littleEndianWord(header + 4 * index);
        return swap ? byteSwap(w) : w;
    };

    int headerBytes = gshhs::kHeaderBytesOld;
    if (word(raw.data(), gshhs::kWordVersion3) == 3) headerBytes = gshhs::kHeaderBytesV3;
    const unsigned version = (word(raw.data(), gshhs::kWordFlag) >> 8) & 0xFFu;
    if (version == 7 || version == 9 || version == 15) headerBytes = gshhs::kHeaderBytesFlagged;

    raiseCapacity(static_cast<int>(stream.Size() / 120));

    for (;;) {
        if (stream.Read(raw.data(), static_cast<std::size_t>(headerBytes)) < static_cast<std::size_t>(headerBytes)) return;
        const auto count = static_cast<std::int32_t>(word(raw.data(), gshhs::kWordCount));
        const unsigned level = word(raw.data(), gshhs::kWordFlag) & 0xFFu;
        const std::uint32_t area = word(raw.data(), gshhs::kWordArea);
        // A negative count would walk backwards through the file forever.
        if (count < 0) throw EReadError("Negative point count");
        const std::int64_t pointBytes = static_cast<std::int64_t>(count) * gshhs::kBytesPerPoint;

        const bool keep = level == 1 || level == 3 || level == 6 || (level == 2 && area >= gshhs::kMinLakeArea);
        if (!keep) {
            stream.Seek(stream.Position() + pointBytes);
            continue;
        }
        // A polygon cut short by the end of the file is dropped whole: its count can't be
        // trusted, and nothing is allocated from it.
        if (pointBytes > stream.Remaining()) throw EReadError("Truncated polygon");

        auto segment = std::make_unique<TLineSegment>();
        segment->Count = count;
        segment->Kind = 1;
        segment->Points.reserve(static_cast<std::size_t>(count));
        const std::uint8_t* p = stream.Data().data() + stream.Position();
        for (std::int32_t i = 0; i < count; ++i, p += gshhs::kBytesPerPoint) {
            std::uint32_t x = littleEndianWord(p);
            std::uint32_t y = littleEndianWord(p + 4);
            if (swap) {
                x = byteSwap(x);
                y = byteSwap(y);
            }
            segment->AddPoint(toDegrees(static_cast<std::int32_t>(x), gshhs::kUnitsPerDegree),
                              toDegrees(static_cast<std::int32_t>(y), gshhs::kUnitsPerDegree));
        }
        stream.Seek(stream.Position() + pointBytes);
        segment->WrapEastWest();
        raiseMaxPoints(count);
        AddSegment(std::move(segment));
    }
}

void TCartogList::ReadCompactMap(TMemoryReadStream& stream)
{
    Clear();
    for (;;) {
        std::uint8_t head[5];
        stream.ReadBuffer(head, sizeof head);
        const auto count = static_cast<std::int32_t>(littleEndianWord(head));
        // A count-and-kind pair with nothing after it ends the file.
        if (stream.Remaining() == 0) return;
        if (count < 0) throw EReadError("Negative point count");
        // Records cut short are dropped whole; nothing is allocated from a count the file
        // can't back.
        const std::int64_t pointBytes = static_cast<std::int64_t>(count) * 4;
        if (pointBytes > stream.Remaining()) throw EReadError("Truncated record");

        auto segment = std::make_unique<TLineSegment>();
        segment->Count = count;
        segment->Kind = head[4];
        segment->Points.reserve(static_cast<std::size_t>(count));
        const std::uint8_t* p = stream.Data().data() + stream.Position();
        for (std::int32_t i = 0; i < count; ++i, p += 4) {
            const auto lon = static_cast<std::int16_t>(p[0] | (p[1] << 8));
            const auto lat = static_cast<std::int16_t>(p[2] | (p[3] << 8));
            segment->AddPoint(toDegrees(lon, 60.0L), toDegrees(lat, 60.0L));
        }
        stream.Seek(stream.Position() + pointBytes);
        raiseMaxPoints(count);
        AddSegment(std::move(segment));
    }
}

void TCartogList::ReadGpx(TMemoryReadStream& stream)
{
    const auto data = stream.Data().subspan(static_cast<std::size_t>(std::min(stream.Position(), stream.Size())));
    const std::string text = gpxText(data);
    const auto lines = splitLines(text);

    std::size_t i = 0;
    const std::size_t n = lines.size();
    while (i < n) {
        while (i < n && normalisedLine(lines[i]) != "<trkseg>") ++i;
        if (i >= n) return;
        ++i;
        std::vector<TGeoPoint> points;
        bool closed = false;
        for (; i < n; ++i) {
            const std::string line = normalisedLine(lines[i]);
            if (line == "</trkseg>") {
                closed = true;
                ++i;
                break;
            }
            if (line.find("<trkpt ") == std::string::npos) continue;
            const auto lat = attributeNumber(line, "lat=\"");
            const auto lon = attributeNumber(line, "lon=\"");
            if (lat && lon) points.push_back({static_cast<float>(*lon), static_cast<float>(*lat)});
        }
        // A track segment without its closing line is dropped.
        if (!closed) return;
        if (points.empty()) continue;
        auto segment = std::make_unique<TLineSegment>();
        segment->Count = static_cast<std::int32_t>(points.size());
        segment->Kind = 1;
        segment->Points.reserve(points.size());
        for (const auto& pt : points) segment->AddPoint(pt.Lon, pt.Lat);
        segment->WrapEastWest();
        raiseMaxPoints(segment->Count);
        AddSegment(std::move(segment));
    }
}

// ---- default file and start-up list ------------------------------------------------

std::string FindDefaultMapFile(const std::string& companionProgramPath, const std::string& programDataDir)
{
    // The directory part keeps its trailing '/', so an empty companion path asks for a bare
    // "Countries.dat" in the current directory.
    const auto slash = companionProgramPath.find_last_of('/');
    const std::string companionDir = slash == std::string::npos ? std::string() : companionProgramPath.substr(0, slash + 1);
    const std::string beside = companionDir + kCountriesFileName;
    if (fileExists(beside)) return beside;
    const std::string own = programDataDir + kCountriesFileName;
    if (fileExists(own)) return own;
    return {};
}

std::string BinnedGshhgPathList(const std::string& dir)
{
    for (const char resolution : {'i', 'l', 'c'}) {
        const std::string shore = dir + "binned_GSHHS_" + resolution + ".nc";
        if (!fileExists(shore)) continue;
        // Listed only when there: a missing last file would leave the pieces closed into
        // chords.
        const std::string borders = dir + "binned_border_" + resolution + ".nc";
        return fileExists(borders) ? shore + "|" + borders : shore;
    }
    return {};
}

std::string StartupPathList(const std::string& environmentValue, const std::string& defaultPath,
                            const std::string& binnedDir)
{
    const auto firstExists = [](const std::string& list) { return fileExists(list.substr(0, list.find('|'))); };
    if (!environmentValue.empty() && firstExists(environmentValue)) return environmentValue;
    if (firstExists(kSystemGshhsPathList)) return kSystemGshhsPathList;
    if (auto binned = BinnedGshhgPathList(binnedDir); !binned.empty()) return binned;
    return defaultPath;
}

std::string LoadStartupLineStore(TCartogList& store)
{
    const char* env = std::getenv(kGshhsEnvironmentVariable);
    const std::string list = StartupPathList(env ? env : "", store.DefaultPath);
    store.LoadFromPathList(list);
    return list;
}
