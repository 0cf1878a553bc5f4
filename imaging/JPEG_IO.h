#pragma once
// JPEG files to and from TExtBitmap, over libjpeg(-turbo).

#include <string>

#include "imaging/BMPExtImage.h"
#include "base/StreamErrors.h"

// Writes an 8- or 24-bit bitmap as a JPEG at the given quality with the comment (COM
// marker, when not empty). An 8-bit image becomes a three-channel YCbCr file unless
// singleChannelGrey asks for a one-channel grey file. An empty bitmap gives false; any
// other failure raises EWriteError "Error writing JPEG to file". The file appears under
// its name only when complete.
bool SaveJPEG(const TExtBitmap& bitmap, const std::string& fileName, int quality,
              bool singleChannelGrey, const std::string& comment);

// Reads a JPEG into the bitmap at full size (scale 0) or 1/2, 1/4, 1/8 (scale 1, 2, 3),
// sizes rounded up. Without takeFileFormat the bitmap keeps its 8- or 24-bit format (a
// colour file loads into an 8-bit bitmap as grey); with it, the format follows the file.
// Never raises for bad files: false, and the bitmap may then be resized but not filled.
bool LoadJPEG(TExtBitmap* bitmap, const std::string& fileName, bool takeFileFormat, int scale);

// The full size of a JPEG file as LoadJPEG would give it, from its header only (the pixels
// are not decoded); false for a file LoadJPEG refuses before decoding.
bool ReadJPEGSize(const std::string& fileName, int& width, int& height);

// The decoded size of a side of `size` pixels at a scale code.
int JpegScaledSize(int size, int scale);
