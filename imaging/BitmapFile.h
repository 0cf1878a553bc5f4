#pragma once
// Reading and writing Windows bitmap (.bmp) files: uncompressed 8-bit with palette, 24-bit
// and 32-bit, bottom-up or top-down rows.

#include <cstdint>
#include <span>
#include <vector>

class TExtBitmap;

inline constexpr char kInvalidBitmap[] = "Bitmap image is not valid";

inline constexpr std::size_t kBitmapFileHeaderSize = 14;
inline constexpr std::size_t kBitmapInfoHeaderSize = 40;
inline constexpr std::size_t kBitmapHeadersSize = kBitmapFileHeaderSize + kBitmapInfoHeaderSize;

// The whole file for the image.
std::vector<std::uint8_t> EncodeBitmapFile(const TExtBitmap& bmp);

// Makes bmp the image of the file in data; raises EInvalidGraphicOperation with
// kInvalidBitmap for anything that is not a complete bitmap file it understands, leaving
// bmp untouched. Never reads outside data and never allocates more than data could fill.
void DecodeBitmapFile(std::span<const std::uint8_t> data, TExtBitmap& bmp);

// Little-endian field access inside a bitmap file.
std::uint32_t BitmapU32(std::span<const std::uint8_t> data, std::size_t at);
std::uint16_t BitmapU16(std::span<const std::uint8_t> data, std::size_t at);
void PutBitmapU32(std::uint8_t* at, std::uint32_t v);
