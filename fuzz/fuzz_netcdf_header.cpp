// Any bytes as the head of an incoming netCDF file: the header walker must stay inside them,
// keep no more items than they can hold, and agree with the checks built on it; a header it
// passes goes on to the library, as an incoming file's does.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "netcdf/ClassicHeader.h"
#include "netcdf/NetCDFclass.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const unsigned char> bytes(data, size);
    std::vector<std::uint64_t> dimensions;
    std::size_t variables = 0;
    const bool walked = WalkClassicHeader(bytes, dimensions, [&](const TClassicVariable& v) {
        // A dimension id takes four bytes at least; more ids than that were never read.
        if (v.DimensionIds.size() > size / 4)
            __builtin_trap();
        ++variables;
        return true;
    });
    // Each item takes eight bytes at least (a name's length and a number): more were counted
    // from a count the bytes do not back.
    if (dimensions.size() > size / 8 || variables > size / 8)
        __builtin_trap();

    const bool classic = size >= 4 && data[0] == 'C' && data[1] == 'D' && data[2] == 'F' &&
                         (data[3] == 1 || data[3] == 2 || data[3] == 5);
    const std::string problem = ClassicHeaderProblem(bytes);
    if (problem.empty() != (!classic || walked))
        __builtin_trap();
    if (classic && DeclaredNetCdfLength(bytes) && !walked)
        __builtin_trap();
    NetCdfKeepBound({reinterpret_cast<const char*>(data), size});
    ClassicVariableEnd(bytes, "data");
    ClassicPlainVariable(bytes, "data");
    ClassicTrailingVariable(bytes, "data");

    // Only what the walker passed: other formats are the library's own business, and its
    // HDF5 reader is not what is fuzzed here.
    if (classic && problem.empty()) {
        TNetCdf nc;
        nc.OpenMemory("fuzz.nc", {reinterpret_cast<const char*>(data), size});
    }
    return 0;
}
