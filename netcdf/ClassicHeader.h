#pragma once
// The header of a classic-format netCDF file (CDF-1, CDF-2, CDF-5), walked by our own code
// before the library is trusted with the file. The library believes the header's counts and
// allocates for them, and reads past the end of a file cut short; here every read is
// bounds-checked and every count must be backed by the bytes that follow it, so a damaged or
// hostile header is found without allocating for what it claims.

#include <cstdint>
#include <functional>
#include <optional>
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
// is damaged before the walk ended; then *problem, when given, says what was wrong.
bool WalkClassicHeader(std::span<const unsigned char> bytes, std::vector<std::uint64_t>& dimensionLengths,
                       const std::function<bool(const TClassicVariable&)>& onVariable, std::string* problem = nullptr);

// How long the netCDF file that starts with `head` says it is: the end of its last variable
// for the classic formats (with a margin for padding), the end-of-file address of the HDF5
// superblock of a netCDF-4 file. nullopt when the head does not tell: another format, a
// damaged or streamed classic header, a superblock of a kind not known here.
std::optional<std::uint64_t> DeclaredNetCdfLength(std::span<const unsigned char> head);

// Why the library must not be handed these bytes: they start a classic header that cannot be
// walked (its counts are not backed by its bytes), so the library would believe them
// ("netCDF header is damaged: " and what was wrong). Empty
// for anything else, a sound classic header or another format, which the library judges.
std::string ClassicHeaderProblem(std::span<const unsigned char> head);

// How much of a decompressed content that starts with `head` is worth holding for the
// library: what a netCDF file declares, all of it when a netCDF file does not tell, only the
// head of anything else (the library refuses it whatever follows).
std::uint64_t NetCdfKeepBound(std::span<const char> head);
