#pragma once
// Layout facts of the GSHHS binary polygon container (shorelines and the WDB borders share
// it). A polygon is a header of 32-bit integers followed by its points, each an (x, y) pair
// of 32-bit integers in millionths of a degree.

#include <cstdint>

namespace gshhs {

// The largest header of any version; the first read of a file always asks for this much.
constexpr int kMaxHeaderBytes = 44;
// Sizes by format version: the oldest files, version 3, and the flag-based versions 7, 9, 15.
constexpr int kHeaderBytesOld = 36;
constexpr int kHeaderBytesV3 = 40;
constexpr int kHeaderBytesFlagged = 44;

// Header integers the reader relies on (0-based word index).
constexpr int kWordCount = 1;   // number of points
constexpr int kWordFlag = 2;    // level in bits 0-7, version in bits 8-15
constexpr int kWordArea = 7;    // area as stored
constexpr int kWordVersion3 = 8;

// A point count read little-endian above this can only be a big-endian file.
constexpr std::uint32_t kLittleEndianCountLimit = 2000000;

constexpr int kBytesPerPoint = 8;
constexpr double kUnitsPerDegree = 1000000.0;

// Lakes below this stored area are too small to be worth drawing on a full-disc image.
constexpr std::uint32_t kMinLakeArea = 100;

}  // namespace gshhs
