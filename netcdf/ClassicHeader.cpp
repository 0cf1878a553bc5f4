#include "netcdf/ClassicHeader.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr std::uint64_t kDimensionTag = 0x0A, kVariableTag = 0x0B, kAttributeTag = 0x0C;

// Reads big-endian numbers and skips padded items; any read past the end sets `bad`, after
// which every read gives 0. The first fault met is kept as the reason.
class TCursor {
public:
    TCursor(std::span<const unsigned char> bytes, int version) : bytes_(bytes), version_(version) {}

    std::uint64_t u32() { return big(4); }
    // Counts and lengths are 64-bit in CDF-5.
    std::uint64_t count() { return big(countBytes()); }
    // File offsets are 64-bit from CDF-2 on.
    std::uint64_t offset() { return big(version_ == 1 ? 4 : 8); }
    std::size_t countBytes() const { return version_ == 5 ? 8 : 4; }

    // A count of items of at least minBytes each, all of which must still fit.
    std::uint64_t backedCount(std::uint64_t minBytes)
    {
        const std::uint64_t n = count();
        if (!bad && n > remaining() / minBytes)
            fail("a count larger than the bytes that follow");
        return bad ? 0 : n;
    }
    std::string name()
    {
        const std::uint64_t n = backedCount(1);
        if (bad) return {};
        std::string s(reinterpret_cast<const char*>(bytes_.data() + pos_), static_cast<std::size_t>(n));
        skip(n, 4);
        return s;
    }
    void skip(std::uint64_t n, std::uint64_t align = 1)
    {
        const std::uint64_t padded = n + (align - n % align) % align;
        if (bad || padded < n || padded > remaining())
            return fail("cut short");
        pos_ += static_cast<std::size_t>(padded);
    }
    // A list's tag and length: the tag expected, or the empty list (both 0). Its items take
    // at least four bytes each.
    bool list(std::uint64_t tag, std::uint64_t& n)
    {
        const std::uint64_t t = u32();
        n = backedCount(4);
        if (bad || (t != tag && !(t == 0 && n == 0)))
            return fail("a list not of the kind its place holds"), false;
        return true;
    }
    void fail(const char* reason)
    {
        if (!bad)
            why = reason;
        bad = true;
    }
    bool bad = false;
    const char* why = "";

private:
    std::uint64_t remaining() const { return bytes_.size() - pos_; }
    std::uint64_t big(std::size_t width)
    {
        if (bad || width > remaining())
            return fail("cut short"), 0;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i) v = (v << 8) | bytes_[pos_ + i];
        pos_ += width;
        return v;
    }
    std::span<const unsigned char> bytes_;
    int version_;
    std::size_t pos_ = 4;
};

bool SkipAttributes(TCursor& c)
{
    std::uint64_t n = 0;
    if (!c.list(kAttributeTag, n)) return false;
    for (std::uint64_t i = 0; i < n && !c.bad; ++i) {
        c.name();
        const std::uint64_t size = ClassicTypeSize(c.u32());
        if (size == 0 && !c.bad)
            c.fail("an attribute of no netCDF type");
        if (c.bad)
            return false;
        c.skip(c.backedCount(size) * size, 4);
    }
    return !c.bad;
}

} // namespace

std::uint64_t ClassicTypeSize(std::uint64_t type)
{
    switch (type) {
    case 1: case 2: case 7: return 1;   // byte, char, unsigned byte
    case 3: case 8: return 2;           // short, unsigned short
    case 4: case 5: case 9: return 4;   // int, float, unsigned int
    case 6: case 10: case 11: return 8; // double, 64-bit integers
    default: return 0;
    }
}

namespace {

bool StartsClassic(std::span<const unsigned char> head)
{
    return head.size() >= 4 && head[0] == 'C' && head[1] == 'D' && head[2] == 'F' &&
           (head[3] == 1 || head[3] == 2 || head[3] == 5);
}

bool WalkHeader(TCursor& c, std::vector<std::uint64_t>& dimensionLengths,
                const std::function<bool(const TClassicVariable&)>& onVariable)
{
    c.count(); // number of records
    std::uint64_t n = 0;
    if (!c.list(kDimensionTag, n)) return false;
    for (std::uint64_t i = 0; i < n && !c.bad; ++i) {
        c.name();
        dimensionLengths.push_back(c.count());
    }
    if (c.bad || !SkipAttributes(c)) return false;
    if (!c.list(kVariableTag, n)) return false;
    TClassicVariable v;
    for (std::uint64_t i = 0; i < n; ++i) {
        v.Name = c.name();
        const std::uint64_t rank = c.backedCount(c.countBytes());
        v.DimensionIds.clear();
        for (std::uint64_t d = 0; d < rank && !c.bad; ++d) v.DimensionIds.push_back(c.count());
        if (c.bad || !SkipAttributes(c)) return false;
        v.Type = c.u32();
        c.count(); // vsize: rounded, and wrapped for very large variables
        v.Begin = c.offset();
        if (c.bad) return false;
        if (!onVariable(v)) return true;
    }
    return true;
}

} // namespace

bool WalkClassicHeader(std::span<const unsigned char> bytes, std::vector<std::uint64_t>& dimensionLengths,
                       const std::function<bool(const TClassicVariable&)>& onVariable, std::string* problem)
{
    dimensionLengths.clear();
    if (!StartsClassic(bytes)) {
        if (problem)
            *problem = "not a classic netCDF header";
        return false;
    }
    TCursor c(bytes, bytes[3]);
    const bool walked = WalkHeader(c, dimensionLengths, onVariable);
    if (!walked && problem)
        *problem = c.why;
    return walked;
}

namespace {

std::uint64_t BigEndian(std::span<const unsigned char> bytes, std::size_t at, std::size_t width)
{
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i) v = (v << 8) | bytes[at + i];
    return v;
}

std::uint64_t LittleEndian(std::span<const unsigned char> bytes, std::size_t at, std::size_t width)
{
    std::uint64_t v = 0;
    for (std::size_t i = width; i-- > 0;) v = (v << 8) | bytes[at + i];
    return v;
}

std::optional<std::uint64_t> ClassicLength(std::span<const unsigned char> head)
{
    const int version = head[3];
    const std::size_t countBytes = version == 5 ? 8 : 4;
    if (head.size() < 4 + countBytes) return std::nullopt;
    const std::uint64_t records = BigEndian(head, 4, countBytes);
    // A file still being written by a streaming writer does not know its records yet.
    if (records == (countBytes == 4 ? 0xFFFFFFFFu : ~std::uint64_t{0})) return std::nullopt;
    std::vector<std::uint64_t> dimensions;
    std::uint64_t end = 0, recordBegin = ~std::uint64_t{0}, recordSize = 0;
    bool sound = true;
    constexpr std::uint64_t cap = std::uint64_t{1} << 62;
    const bool walked = WalkClassicHeader(head, dimensions, [&](const TClassicVariable& v) {
        std::uint64_t values = ClassicTypeSize(v.Type);
        bool record = false;
        for (std::size_t d = 0; d < v.DimensionIds.size(); ++d) {
            if (v.DimensionIds[d] >= dimensions.size()) return sound = false;
            std::uint64_t length = dimensions[v.DimensionIds[d]];
            if (length == 0 && d == 0) record = true, length = 1;
            if (length != 0 && values > cap / length) return sound = false;
            values *= length;
        }
        const std::uint64_t padded = (values + 3) / 4 * 4;
        if (v.Begin > cap) return sound = false;
        if (record) {
            recordBegin = std::min(recordBegin, v.Begin);
            recordSize += padded;
        } else {
            end = std::max(end, v.Begin + padded);
        }
        return true;
    });
    if (!walked || !sound) return std::nullopt;
    if (recordSize != 0) {
        if (records != 0 && recordSize > cap / records) return std::nullopt;
        end = std::max(end, recordBegin + records * recordSize);
    }
    // Writers pad in ways of their own; a little more than declared is never a bomb.
    return end + (std::uint64_t{1} << 20);
}

// An HDF5 superblock is looked for where the format allows one: at 0, then 512, 1024, ...
std::optional<std::uint64_t> HdfLength(std::span<const unsigned char> head)
{
    static constexpr unsigned char signature[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
    for (std::size_t at = 0; at + 64 <= head.size(); at = at == 0 ? 512 : at * 2) {
        if (!std::equal(std::begin(signature), std::end(signature), head.begin() + static_cast<std::ptrdiff_t>(at)))
            continue;
        const unsigned version = head[at + 8];
        std::size_t offsetSize = 0, addresses = 0;
        if (version == 0 || version == 1) {
            offsetSize = head[at + 13];
            addresses = at + (version == 0 ? 24 : 28);
        } else if (version == 2 || version == 3) {
            offsetSize = head[at + 9];
            addresses = at + 12;
        } else {
            return std::nullopt;
        }
        if (offsetSize != 2 && offsetSize != 4 && offsetSize != 8) return std::nullopt;
        if (addresses + 3 * offsetSize > head.size()) return std::nullopt;
        const std::uint64_t base = LittleEndian(head, addresses, offsetSize);
        const std::uint64_t eof = LittleEndian(head, addresses + 2 * offsetSize, offsetSize);
        if (base > (std::uint64_t{1} << 62) || eof > (std::uint64_t{1} << 62)) return std::nullopt;
        return base + eof;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::uint64_t> DeclaredNetCdfLength(std::span<const unsigned char> head)
{
    return StartsClassic(head) ? ClassicLength(head) : HdfLength(head);
}

std::string ClassicHeaderProblem(std::span<const unsigned char> head)
{
    if (!StartsClassic(head)) return {};
    std::vector<std::uint64_t> dimensions;
    std::string why;
    const auto everyVariable = [](const TClassicVariable&) { return true; };
    if (!WalkClassicHeader(head, dimensions, everyVariable, &why))
        return "netCDF header is damaged: " + why;
    return {};
}

std::uint64_t NetCdfKeepBound(std::span<const char> head)
{
    const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(head.data()), head.size());
    if (const auto declared = DeclaredNetCdfLength(bytes)) return *declared;
    static constexpr unsigned char hdf[4] = {0x89, 'H', 'D', 'F'};
    const bool netcdf = StartsClassic(bytes) || std::search(bytes.begin(), bytes.end(), std::begin(hdf), std::end(hdf)) != bytes.end();
    return netcdf ? ~std::uint64_t{0} : head.size();
}
