#include "netcdf/NetCDFclass.h"

#include "netcdf/ClassicHeader.h"

#include <netcdf.h>
#include <netcdf_mem.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <functional>
#include <limits>
#include <vector>

TNetCdf::~TNetCdf() { close(); }

void TNetCdf::close()
{
    if (NcId != 0)
        nc_close(NcId);
    NcId = 0;
}

namespace {

// Headers of real files are a few kilobytes; a larger one is read as far as it goes and is
// judged unreadable when it goes further.
constexpr std::size_t HeaderBytesRead = std::size_t{1} << 20;

std::vector<unsigned char> ReadHead(const std::string& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return {};
    std::vector<unsigned char> bytes(HeaderBytesRead);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

std::span<const unsigned char> Head(std::span<const char> bytes)
{
    return {reinterpret_cast<const unsigned char*>(bytes.data()), std::min(bytes.size(), HeaderBytesRead)};
}

} // namespace

bool TNetCdf::Open(const std::string& fileName)
{
    close();
    FileName = fileName;
    Memory = {};
    openProblem_ = ClassicHeaderProblem(ReadHead(fileName));
    if (!openProblem_.empty())
        return false;
    int id = 0;
    if (nc_open(fileName.c_str(), NC_NOWRITE, &id) != NC_NOERR)
        return false;
    NcId = id;
    return true;
}

bool TNetCdf::OpenMemory(const std::string& fileName, std::span<const char> bytes)
{
    if (bytes.empty())
        return Open(fileName);
    close();
    FileName = fileName;
    Memory = bytes;
    openProblem_ = ClassicHeaderProblem(Head(bytes));
    if (!openProblem_.empty())
        return false;
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

std::optional<std::uint64_t> ClassicVariableEnd(const std::string& fileName, const char* variable)
{
    const std::vector<unsigned char> bytes = ReadHead(fileName);
    return ClassicVariableEnd(std::span<const unsigned char>(bytes), variable);
}

namespace {

// Where each variable of a classic header lies, handed to onVariable in file order with its
// first and one-past-last byte (the latter the largest number for one beyond any file) and
// whether it is a record variable (one record counted); the walk stops when onVariable
// returns false. False for a header that cannot be walked.
bool WalkClassicExtents(std::span<const unsigned char> bytes,
                        const std::function<bool(const TClassicVariable&, std::uint64_t end, bool record)>& onVariable)
{
    bytes = bytes.first(std::min(bytes.size(), HeaderBytesRead));
    std::vector<std::uint64_t> dimensions;
    bool damaged = false;
    const bool walked = WalkClassicHeader(bytes, dimensions, [&](const TClassicVariable& v) {
        if (v.DimensionIds.size() > 1024) return damaged = true, false;
        std::uint64_t values = 1;
        bool overflow = false, record = false;
        for (std::size_t d = 0; d < v.DimensionIds.size(); ++d) {
            const std::uint64_t id = v.DimensionIds[d];
            if (id >= dimensions.size()) return damaged = true, false;
            // A record dimension (length 0) counts one record.
            record = record || (dimensions[id] == 0 && d == 0);
            const std::uint64_t length = dimensions[id] == 0 && d == 0 ? 1 : dimensions[id];
            if (length != 0 && values > (std::uint64_t{1} << 62) / length) overflow = true;
            values *= length;
        }
        const std::uint64_t size = ClassicTypeSize(v.Type);
        std::uint64_t end = std::numeric_limits<std::uint64_t>::max();
        if (size != 0 && !overflow && values <= (std::uint64_t{1} << 62) / size && v.Begin + values * size >= v.Begin)
            end = v.Begin + values * size;
        return onVariable(v, end, record);
    });
    return walked && !damaged;
}

} // namespace

std::optional<std::uint64_t> ClassicVariableEnd(std::span<const unsigned char> bytes, const char* variable)
{
    std::optional<std::uint64_t> result;
    const bool walked = WalkClassicExtents(bytes, [&](const TClassicVariable& v, std::uint64_t end, bool) {
        if (v.Name != variable) return true;
        result = end;
        return false;
    });
    if (!walked) return std::nullopt;
    return result;
}

std::optional<TClassicExtent> ClassicPlainVariable(std::span<const unsigned char> content, const char* variable)
{
    std::optional<TClassicExtent> found;
    const bool walked = WalkClassicExtents(content, [&](const TClassicVariable& v, std::uint64_t end, bool record) {
        if (v.Name != variable) return true;
        if (!record && end != std::numeric_limits<std::uint64_t>::max())
            found = TClassicExtent{v.Begin, end, v.Type};
        return false;
    });
    if (!walked) return std::nullopt;
    return found;
}

std::optional<TClassicExtent> ClassicTrailingVariable(std::span<const unsigned char> head, const char* variable)
{
    std::optional<TClassicExtent> found;
    std::uint64_t othersEnd = 0;
    bool plain = true;
    const bool walked = WalkClassicExtents(head, [&](const TClassicVariable& v, std::uint64_t end, bool record) {
        plain = plain && !record && end != std::numeric_limits<std::uint64_t>::max();
        if (v.Name == variable && !found)
            found = TClassicExtent{v.Begin, end, v.Type};
        else
            othersEnd = std::max(othersEnd, end);
        return plain;
    });
    if (!walked || !plain || !found || othersEnd > found->Begin || found->End <= found->Begin) return std::nullopt;
    return found;
}
