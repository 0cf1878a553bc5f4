#include "product/outputs/ImageLegend.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "product/composite/ChannelCatalogue.h"
#include "netcdf/Sector.h"
#include "imaging/TextDrawing.h"
#include "netcdf/RadianceToModeAlookup.h"

namespace {

constexpr TColor Black = 0x000000;
constexpr TColor White = 0xFFFFFF;
constexpr double ZeroCelsius = 273.15;
constexpr int CelsiusStep = 20;

// A run of pixels of one row in a colour, on 8 bits through the nearest palette entry.
void PaintRun(TExtBitmap& image, int y, int fromX, int toX, TColor colour)
{
    if (y < 0 || y >= image.Height()) return;
    fromX = std::max(0, fromX);
    toX = std::min(toX, image.Width());
    std::uint8_t* row = image.ScanLine(y);
    if (image.PixelFormat() == TPixelFormat::pf8bit) {
        std::fill(row + std::max(0, fromX), row + std::max(fromX, toX), image.Canvas().NearestPaletteIndex(colour));
        return;
    }
    const int bytes = image.BytesPerPixel();
    for (int x = fromX; x < toX; ++x) {
        std::uint8_t* p = row + static_cast<long>(x) * bytes;
        p[0] = static_cast<std::uint8_t>(colour >> 16);
        p[1] = static_cast<std::uint8_t>(colour >> 8);
        p[2] = static_cast<std::uint8_t>(colour);
    }
}

void FillRows(TExtBitmap& image, int fromY, int toY, TColor colour)
{
    for (int y = fromY; y < toY; ++y) PaintRun(image, y, 0, image.Width(), colour);
}

// One font for the whole program: opening it reads the file.
TTextFont& LegendFont(std::unique_lock<std::mutex>& lock)
{
    static std::mutex mutex;
    static TTextFont font;
    lock = std::unique_lock(mutex);
    return font;
}

}  // namespace

std::string LegendText(TDateTime imageTime, std::uint8_t sector, std::uint8_t channelIndex)
{
    const std::string sectorLabel = SectorLabel(sector);
    std::string text = SatelliteName(channelIndex) + "  " + FormatDateTime("yyyy-mm-dd hh:nn", imageTime) + " UTC  ";
    if (!sectorLabel.empty()) text += sectorLabel.substr(0, sectorLabel.find(' ')) + " ";
    if (KnownChannel(channelIndex))
        text += "band " + std::string(ChannelInfo(channelIndex).ChannelDigit) + "  " +
                std::string(ChannelInfo(channelIndex).Wavelength) + " µm";
    return text;
}

std::string DrawLegend(TExtBitmap& image, const std::string& text, const TColourTable* table)
{
    std::unique_lock<std::mutex> lock;
    TTextFont& font = LegendFont(lock);
    if (!font.Problem().empty()) return font.Problem();
    const int w = image.Width(), h = image.Height();
    if (w < 16 || h < 16) return {};

    // As large as the line fits in the width, and no larger than a twentieth of the height.
    int size = std::max(8, h / 20);
    font.SetPixelSize(size);
    const int wanted = w - w / 20;
    if (const int tw = font.Width(text); tw > wanted) {
        size = std::max(6, size * wanted / tw);
        font.SetPixelSize(size);
    }
    const int margin = std::max(2, size / 2);
    const int lineHeight = font.Ascent() + font.Descent() + std::max(2, size / 5);
    const int lineTop = h - lineHeight;
    FillRows(image, lineTop, h, Black);
    font.Draw(image, margin, lineTop + std::max(1, size / 10) + font.Ascent(), text, White);

    if (!table || table->Ranges.empty()) return {};
    // The bar spans what a grey value can stand for, warm on the left as on a thermometer
    // laid down the way the line reads.
    const double warm = CountToKelvin(0), cold = CountToKelvin(255);
    const int labelSize = std::max(6, size * 4 / 5);
    font.SetPixelSize(labelSize);
    const int barHeight = std::max(4, size * 2 / 3);
    const int labelsHeight = font.Ascent() + font.Descent() + 2;
    const int barTop = lineTop - barHeight - labelsHeight;
    FillRows(image, barTop, lineTop, Black);
    const int left = margin, right = w - margin;
    const auto xOf = [&](double kelvin) { return left + static_cast<int>(std::lround((warm - kelvin) / (warm - cold) * (right - left))); };
    for (int x = left; x < right; ++x) {
        const TColor c = table->ColourOf(warm - (x - left + 0.5) / (right - left) * (warm - cold));
        for (int y = barTop + 1; y < barTop + barHeight; ++y) PaintRun(image, y, x, x + 1, c);
    }
    const int labelBaseline = barTop + barHeight + 1 + font.Ascent();
    for (int c = static_cast<int>(std::floor((warm - ZeroCelsius) / CelsiusStep)) * CelsiusStep;
         c >= cold - ZeroCelsius; c -= CelsiusStep) {
        const int x = xOf(c + ZeroCelsius);
        for (int y = barTop + barHeight - barHeight / 3; y < barTop + barHeight + 1; ++y)
            PaintRun(image, y, x, x + std::max(1, size / 12), White);
        const std::string label = std::to_string(c) + "\xC2\xB0" "C";
        const int lw = font.Width(label);
        font.Draw(image, std::clamp(x - lw / 2, left, right - lw), labelBaseline, label, White);
    }
    image.Changed();
    return {};
}
