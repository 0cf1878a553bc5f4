#include "imaging/TextDrawing.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdint>

#include "imaging/BMPExtImage.h"

struct TTextFont::TFace {
    FT_Library Library = nullptr;
    FT_Face Face = nullptr;
    ~TFace()
    {
        if (Face) FT_Done_Face(Face);
        if (Library) FT_Done_FreeType(Library);
    }
};

namespace {

// The code points of UTF-8 text; a byte that starts no valid sequence stands for itself.
template <typename Each>
void ForEachCodePoint(std::string_view text, Each each)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        char32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
        bool ok = extra >= 0 && i + static_cast<std::size_t>(extra) < text.size() + (extra == 0 ? 1 : 0);
        for (int n = 1; ok && n <= extra; ++n) {
            const auto c = static_cast<unsigned char>(text[i + static_cast<std::size_t>(n)]);
            ok = (c & 0xC0) == 0x80;
            cp = cp << 6 | (c & 0x3F);
        }
        if (!ok) {
            each(static_cast<char32_t>(b));
            ++i;
            continue;
        }
        each(cp);
        i += static_cast<std::size_t>(extra) + 1;
    }
}

int Grey(const TRGBQuad& q) { return (q.Red * 77 + q.Green * 151 + q.Blue * 28) >> 8; }

}  // namespace

TTextFont::TTextFont(const std::string& fontFile) : face_(std::make_unique<TFace>())
{
    if (FT_Init_FreeType(&face_->Library) != 0) {
        face_->Library = nullptr;
        problem_ = "the font engine cannot start";
    } else if (FT_New_Face(face_->Library, fontFile.c_str(), 0, &face_->Face) != 0) {
        face_->Face = nullptr;
        problem_ = "font " + fontFile + " cannot be read";
    } else {
        SetPixelSize(16);
    }
}

TTextFont::~TTextFont() = default;

void TTextFont::SetPixelSize(int pixels)
{
    if (face_->Face) FT_Set_Pixel_Sizes(face_->Face, 0, static_cast<FT_UInt>(std::max(1, pixels)));
}

int TTextFont::Ascent() const { return face_->Face ? static_cast<int>(face_->Face->size->metrics.ascender >> 6) : 0; }
int TTextFont::Descent() const { return face_->Face ? static_cast<int>(-face_->Face->size->metrics.descender >> 6) : 0; }

int TTextFont::Width(std::string_view text)
{
    if (!face_->Face) return 0;
    long width = 0;
    ForEachCodePoint(text, [&](char32_t cp) {
        if (FT_Load_Char(face_->Face, cp, FT_LOAD_DEFAULT) == 0) width += face_->Face->glyph->advance.x;
    });
    return static_cast<int>(width >> 6);
}

void TTextFont::Draw(TExtBitmap& image, int x, int baseline, std::string_view text, TColor colour)
{
    if (!face_->Face) return;
    const int bytes = image.BytesPerPixel();
    const bool eightBit = image.PixelFormat() == TPixelFormat::pf8bit;
    // On an 8-bit image the text is laid between grey values: the palette is the grey ramp
    // of a composite.
    const int ink = (static_cast<int>(colour & 0xFF) * 77 + static_cast<int>(colour >> 8 & 0xFF) * 151 +
                     static_cast<int>(colour >> 16 & 0xFF) * 28) >> 8;
    const int inkBgr[3] = {static_cast<int>(colour >> 16 & 0xFF), static_cast<int>(colour >> 8 & 0xFF),
                           static_cast<int>(colour & 0xFF)};
    long penX = static_cast<long>(x) << 6;
    ForEachCodePoint(text, [&](char32_t cp) {
        if (FT_Load_Char(face_->Face, cp, FT_LOAD_RENDER) != 0) return;
        const FT_GlyphSlot g = face_->Face->glyph;
        const FT_Bitmap& b = g->bitmap;
        const int left = static_cast<int>(penX >> 6) + g->bitmap_left;
        const int top = baseline - g->bitmap_top;
        for (unsigned row = 0; row < b.rows; ++row) {
            const int y = top + static_cast<int>(row);
            if (y < 0 || y >= image.Height()) continue;
            const unsigned char* cover = b.buffer + static_cast<long>(row) * b.pitch;
            std::uint8_t* line = image.ScanLine(y);
            for (unsigned col = 0; col < b.width; ++col) {
                const int px = left + static_cast<int>(col);
                const int a = cover[col];
                if (a == 0 || px < 0 || px >= image.Width()) continue;
                if (eightBit) {
                    const int under = Grey(image.Palette()[line[px]]);
                    line[px] = static_cast<std::uint8_t>(under + ((ink - under) * a + 127) / 255);
                } else {
                    std::uint8_t* p = line + static_cast<long>(px) * bytes;
                    for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(p[c] + ((inkBgr[c] - p[c]) * a + 127) / 255);
                }
            }
        }
        penX += g->advance.x;
    });
    image.Changed();
}
