#pragma once
// The legend a saved JPEG/PNG image may carry at its bottom edge: one line naming the
// satellite, the time, the sector and the band, and on a colour image a bar above it with the
// table's colours under their temperatures in degrees Celsius. The composite itself, and so
// the GeoTIFF, never gets one.

#include <cstdint>
#include <string>

#include "product/outputs/ColourTables.h"
#include "base/DateTime.h"
#include "imaging/BMPExtImage.h"

// "GOES-15  2019-06-21 18:30 UTC  FD band 4  10.7 um"; without a known sector, no sector.
std::string LegendText(TDateTime imageTime, std::uint8_t sector, std::uint8_t channelIndex);

// Draws the legend line, and with a table the colour bar above it. The text is as large as
// the image's width allows (up to a twentieth of its height), so that it still reads when the
// picture is shown as a thumbnail. Empty when drawn, else why not (the font is missing).
std::string DrawLegend(TExtBitmap& image, const std::string& text, const TColourTable* table);
