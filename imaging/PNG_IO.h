#pragma once
// The program's PNG routines: loading saved images and the mask, saving composites.

#include <istream>
#include <string>

#include "imaging/BMPExtImage.h"
#include "imaging/vrnPNGImage.h"

// Loads a PNG file into the bitmap; without keepSize the bitmap is emptied first. False
// for a missing bitmap or file and for any failure (nothing raises).
bool LoadPNGGraphic(TExtBitmap* graphic, const std::string& fileName, bool forceColor, bool keepSize);

// Loads a PNG from the stream into the 8-bit image, keeping its palette for grey files.
// Failures raise.
bool LoadPNGMaskFromStream(TExtBitmap& image, std::istream& stream, bool forceColor);

// Saves the bitmap as PNG with the four text chunks and the time chunk. Failures raise.
bool SavePNGWithText(const TExtBitmap& bitmap, const std::string& fileName, const std::string& author,
                     const std::string& description, const std::string& software, const std::string& title,
                     const TPngProgressEvent& progress = {});
