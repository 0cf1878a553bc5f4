#include "netcdf/NetCDFclass.h"

#include <netcdf.h>
#include <netcdf_mem.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <limits>
#include <vector>

TNetCdf::~TNetCdf() { close(); }

void TNetCdf::close()
{
    if (NcId != 0)
        nc_close(NcId);
    NcId = 0;
}

bool TNetCdf::Open(const std::string& fileName)
{
    close();
    FileName = fileName;
    Memory = {};
    int id = 0;
    if (nc_open(fileName.c_str(), NC_NOWRITE, &id) != NC_NOERR)
        return false;
    NcId = id;
    return true;
}

bool TNetCdf::OpenMemory(const std::string& fileName, std::span<const char> bytes)
{
    close();
    FileName = fileName;
    Memory = bytes;
    int id = 0;
    // Opened read-only, the library does not write to the memory it is given.
    if (nc_open_mem(fileName.c_str(), NC_NOWRITE, bytes.size(), const_cast<char*>(bytes.data()), &id) != NC_NOERR)
        return false;
    NcId = id;
    return true;
}

std::uint64_t TNetCdf::contentLength() const
{
    if (!Memory.empty())
        return Memory.size();
    struct stat info {};
    return ::stat(FileName.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

std::optional<std::uint64_t> TNetCdf::classicVariableEnd(const char* variable) const
{
    if (!Memory.empty())
        return ClassicVariableEnd(
            std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(Memory.data()), Memory.size()), variable);
    return ClassicVariableEnd(FileName, variable);
}

bool TNetCdf::dimensionLength(const char* name, std::size_t& length) const
{
    int dim = 0;
    return NcId != 0 && nc_inq_dimid(NcId, name, &dim) == NC_NOERR &&
           nc_inq_dimlen(NcId, dim, &length) == NC_NOERR;
}

bool TNetCdf::readInteger(const char* name, std::int32_t& value) const
{
    int var = 0;
    if (NcId == 0 || nc_inq_varid(NcId, name, &var) != NC_NOERR)
        return false;
    // The index of the first element, whatever the number of dimensions; unused entries
    // are ignored by the library.
    std::array<std::size_t, NC_MAX_VAR_DIMS> first{};
    long v = 0;
    if (nc_get_var1_long(NcId, var, first.data(), &v) != NC_NOERR)
        return false;
    if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
        return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

namespace {

constexpr std::size_t HeaderBytesRead = std::size_t{1} << 20;

// A bounds-checked walk through a classic header: every read past the end sets `bad`.
class THeaderCursor {
public:
    THeaderCursor(std::span<const unsigned char> bytes, int version) : bytes_(bytes), version_(version) {}

    std::uint64_t u32() { return big(4); }
    // Counts and lengths are 64-bit in CDF-5.
    std::uint64_t count() { return big(version_ == 5 ? 8 : 4); }
    // File offsets are 64-bit from CDF-2 on.
    std::uint64_t offset() { return big(version_ == 1 ? 4 : 8); }
    std::string name()
    {
        const std::uint64_t n = count();
        if (bad || n > bytes_.size() - pos_) return fail(), std::string();
        std::string s(reinterpret_cast<const char*>(bytes_.data() + pos_), static_cast<std::size_t>(n));
        skip(n, 4);
        return s;
    }
    void skip(std::uint64_t n, std::uint64_t align = 1)
    {
        const std::uint64_t padded = n + (align - n % align) % align;
        if (bad || padded < n || padded > bytes_.size() - pos_) return fail();
        pos_ += static_cast<std::size_t>(padded);
    }
    bool bad = false;

private:
    std::uint64_t big(std::size_t width)
    {
        if (bad || width > bytes_.size() - pos_) return fail(), 0;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i) v = (v << 8) | bytes_[pos_ + i];
        pos_ += width;
        return v;
    }
    void fail() { bad = true; }

    std::span<const unsigned char> bytes_;
    int version_;
    std::size_t pos_ = 4;
};

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

// Skips an attribute list; false when it cannot be read.
bool SkipAttributes(THeaderCursor& c)
{
    const std::uint64_t tag = c.u32();
    const std::uint64_t n = c.count();
    if (tag == 0 && n == 0) return !c.bad;
    if (tag != 0x0C) return false;
    for (std::uint64_t i = 0; i < n && !c.bad; ++i) {
        c.name();
        const std::uint64_t size = ClassicTypeSize(c.u32());
        const std::uint64_t values = c.count();
        if (size == 0 || values > (std::uint64_t{1} << 40)) return false;
        c.skip(values * size, 4);
    }
    return !c.bad;
}

}  // namespace

std::optional<std::uint64_t> ClassicVariableEnd(const std::string& fileName, const char* variable)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<unsigned char> bytes(HeaderBytesRead);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return ClassicVariableEnd(std::span<const unsigned char>(bytes), variable);
}

std::optional<std::uint64_t> ClassicVariableEnd(std::span<const unsigned char> bytes, const char* variable)
{
    // Headers of real files are a few kilobytes; a larger one is read as far as it goes and
    // is judged unreadable when it goes further.
    bytes = bytes.first(std::min(bytes.size(), HeaderBytesRead));
    if (bytes.size() < 4 || bytes[0] != 'C' || bytes[1] != 'D' || bytes[2] != 'F') return std::nullopt;
    const int version = bytes[3];
    if (version != 1 && version != 2 && version != 5) return std::nullopt;

    THeaderCursor c(bytes, version);
    c.count();  // number of records
    std::vector<std::uint64_t> dimensions;
    const std::uint64_t dimTag = c.u32();
    const std::uint64_t dimCount = c.count();
    if (dimTag == 0x0A) {
        for (std::uint64_t i = 0; i < dimCount && !c.bad; ++i) {
            c.name();
            dimensions.push_back(c.count());
        }
    } else if (dimTag != 0 || dimCount != 0) {
        return std::nullopt;
    }
    if (!SkipAttributes(c)) return std::nullopt;
    const std::uint64_t varTag = c.u32();
    const std::uint64_t varCount = c.count();
    if (varTag != 0x0B) return std::nullopt;
    for (std::uint64_t i = 0; i < varCount && !c.bad; ++i) {
        const std::string name = c.name();
        const std::uint64_t rank = c.count();
        if (rank > 1024) return std::nullopt;
        std::uint64_t values = 1;
        bool overflow = false;
        for (std::uint64_t d = 0; d < rank; ++d) {
            const std::uint64_t id = c.count();
            if (id >= dimensions.size()) return std::nullopt;
            // A record dimension (length 0) counts one record.
            const std::uint64_t length = dimensions[id] == 0 && d == 0 ? 1 : dimensions[id];
            if (length != 0 && values > (std::uint64_t{1} << 62) / length) overflow = true;
            values *= length;
        }
        if (!SkipAttributes(c)) return std::nullopt;
        const std::uint64_t size = ClassicTypeSize(c.u32());
        c.count();  // vsize: rounded, and wrapped for very large variables
        const std::uint64_t begin = c.offset();
        if (c.bad) return std::nullopt;
        if (name != variable) continue;
        if (size == 0 || overflow || values > (std::uint64_t{1} << 62) / size) return std::numeric_limits<std::uint64_t>::max();
        const std::uint64_t end = begin + values * size;
        return end < begin ? std::numeric_limits<std::uint64_t>::max() : end;
    }
    return std::nullopt;
}
