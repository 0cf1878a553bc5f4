#pragma once
// The built-in mask "MASK256": an 8-bit greyscale PNG of 2816 x 3248 pixels, 255 on the
// Earth's disc as the composite's mapping sees it and 0 elsewhere. It is rendered when the
// program is built, so it always matches the mapping the program draws with.

#include <cstdint>
#include <span>

inline constexpr const char* Mask256Name = "MASK256";

// The PNG file's bytes.
std::span<const std::uint8_t> Mask256Png();

// The same pixels as runs, row after row (value << 16 | length; no run crosses a row's end):
// filling a mask from them costs a few memsets instead of inflating nine million pixels.
struct TMask256Runs {
    int Width = 0;
    int Height = 0;
    std::span<const std::uint32_t> Runs;
};
TMask256Runs Mask256Runs();
