#pragma once
// Text drawn straight into a TExtBitmap through FreeType, in one of the system's font files:
// a station without a screen has no desktop fonts, yet its images get their legends.

#include <memory>
#include <string>
#include <string_view>

#include "imaging/Canvas.h"

// Debian's fonts-dejavu-core.
inline constexpr const char* DejaVuSansFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

class TTextFont {
public:
    explicit TTextFont(const std::string& fontFile = DejaVuSansFile);
    ~TTextFont();
    TTextFont(const TTextFont&) = delete;
    TTextFont& operator=(const TTextFont&) = delete;

    // Empty when the font is usable, else why not (naming the file).
    const std::string& Problem() const { return problem_; }

    // The size of the next measurements and drawings, in pixels per em.
    void SetPixelSize(int pixels);
    // The advance of the UTF-8 text, in pixels.
    int Width(std::string_view text);
    // Above and below the baseline, in pixels, at the current size.
    int Ascent() const;
    int Descent() const;
    // The text with its baseline at y and its start at x, anti-aliased over what is there:
    // on an 8-bit image between the grey values of its palette, on 24/32 bits per channel.
    // Clipped to the image.
    void Draw(TExtBitmap& image, int x, int baseline, std::string_view text, TColor colour);

private:
    struct TFace;
    std::unique_ptr<TFace> face_;
    std::string problem_;
};
