#pragma once
// The program's PNG routines: loading saved images and the mask, saving composites.

#include <istream>
#include <string>

#include "imaging/BMPExtImage.h"
#include "imaging/vrnPNGImage.h"

// Loads a PNG file into the bitmap; without keepSize the bitmap is emptied first. False
// for a missing bitmap or file and for any failure (nothing raises); why, when given, gets
// the reason.
bool LoadPNGGraphic(TExtBitmap* graphic, const std::string& fileName, bool forceColor, bool keepSize,
                    std::string* why = nullptr);

// The size of a PNG file and whether LoadPNGGraphic without forceColor loads it as an 8-bit
// image, from its header only (the pixels are not decoded); false when that cannot be read.
bool ReadPNGHeader(const std::string& fileName, int& width, int& height, bool& eightBit);

// Loads a PNG from the stream into the 8-bit image, keeping its palette for grey files.
// Failures raise.
bool LoadPNGMaskFromStream(TExtBitmap& image, std::istream& stream, bool forceColor);

// Saves the bitmap as PNG with the four text chunks and the time chunk. Failures raise.
bool SavePNGWithText(const TExtBitmap& bitmap, const std::string& fileName, const std::string& author,
                     const std::string& description, const std::string& software, const std::string& title,
                     const TPngProgressEvent& progress = {});
