#pragma once
// The header of a classic-format netCDF file (CDF-1, CDF-2, CDF-5), walked by our own code
// before the library is trusted with the file. The library believes the header's counts and
// allocates for them, and reads past the end of a file cut short; here every read is
// bounds-checked and every count must be backed by the bytes that follow it, so a damaged or
// hostile header is found without allocating for what it claims.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

// What the header says about one variable.
struct TClassicVariable {
    std::string Name;
    std::vector<std::uint64_t> DimensionIds;
    std::uint64_t Type = 0;  // the nc_type number, as written (not checked)
    std::uint64_t Begin = 0; // file offset of its first value
};

// The size of one value of a classic type; 0 for a type the format does not have.
std::uint64_t ClassicTypeSize(std::uint64_t type);

// Walks the header at the start of `bytes`: the dimensions (their lengths go to
// dimensionLengths, 0 for the record dimension), the global attributes, then each variable,
// handed to onVariable in file order; the walk stops when onVariable returns false. False
// when the bytes do not start a classic header ("CDF" and version 1, 2 or 5) or the header
// is damaged before the walk ended.
bool WalkClassicHeader(std::span<const unsigned char> bytes, std::vector<std::uint64_t>& dimensionLengths,
                       const std::function<bool(const TClassicVariable&)>& onVariable);
