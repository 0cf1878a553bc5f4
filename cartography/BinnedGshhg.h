#pragma once
// GSHHG shorelines, borders and rivers in the binned netCDF form that Debian's gmt-gshhg
// packages install (/usr/share/gmt-gshhg/binned_*.nc). The globe is cut into square bins;
// a bin holds the pieces of every line that crosses it, each point a pair of 16-bit offsets
// from the bin's south-west corner. A line that leaves a bin ends exactly on its edge and
// the next piece starts at the same place in the neighbouring bin, so the pieces are open
// polylines that join up when drawn one after another.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class TCartogList;

namespace binned {

// Offsets inside a bin run from 0 at its south-west corner to this at its far edges.
constexpr std::int64_t kUnitsPerBin = 65535;

// The arrays of one file, as read, before anything has been checked against anything else.
struct TBinnedLines {
    // Shoreline files pack count, level and bin edges of a piece into one integer and flag
    // Antarctica's ice front separately; border and river files have plain arrays.
    bool Shorelines = false;
    std::int32_t BinMinutes = 0;
    std::int32_t BinsAcross = 0;  // bins in 360 degrees of longitude, from 0 eastwards
    std::int32_t BinsDown = 0;    // bins in 180 degrees of latitude, from the north pole
    std::vector<std::int32_t> FirstPiece;     // per bin
    std::vector<std::int32_t> PiecesInBin;    // per bin
    std::vector<std::int64_t> PointsInPiece;  // per piece
    std::vector<std::int32_t> Level;          // per piece; 5 for the Antarctic ice front
    std::vector<std::int32_t> FirstPoint;     // per piece
    std::vector<std::uint16_t> Dx, Dy;        // per point, 1/65535 of the bin's width
};

// The first bytes of a netCDF file: classic, 64-bit offset, CDF-5, or HDF5 (netCDF-4).
bool HasNetCdfMagic(std::span<const std::uint8_t> data);

// The arrays of a binned line file held in memory. nullopt when the bytes aren't netCDF or
// lack the variables that make one; EReadError when they are one but can't be read whole.
std::optional<TBinnedLines> ReadBinnedLines(std::span<const std::uint8_t> data);

// EReadError unless the bins tile the globe and the arrays agree in length.
void CheckArrays(const TBinnedLines& lines);

// Appends the pieces the store keeps, bin by bin, as segments of kind 1 in degrees.
// EReadError at the first bin or piece the arrays can't back; pieces appended before stay.
void AppendBinnedLines(TCartogList& store, const TBinnedLines& lines);

// The whole reader behind the format decision: false, store untouched, when the bytes are
// not a binned line file; otherwise the store's polygons are no longer closed (the pieces
// end at bin edges) and the pieces are appended.
bool ReadBinnedGshhg(TCartogList& store, std::span<const std::uint8_t> data);

}  // namespace binned
