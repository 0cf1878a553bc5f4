#pragma once
// Georeferenced 8-bit grey pictures as Cloud Optimized GeoTIFFs (tiled, DEFLATE, internal
// overviews and an internal mask for the pixels that hold no data), written and read through
// GDAL.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "mapping/DiscMask.h"
#include "mapping/GeostationaryView.h"

class TExtBitmap;

struct TGeoTiffContent {
    const TExtBitmap* Image = nullptr;  // 8-bit grey
    TGeostationaryView View;
    // Per line of the picture, the run of pixels that hold data; nullptr: all do.
    const std::vector<TDiscRun>* Valid = nullptr;
    // Name and value pairs of the file's metadata; TIFFTAG_ names go into the TIFF tags.
    std::vector<std::pair<std::string, std::string>> Metadata;
};

// Writes the file complete or not at all: a temporary beside it, made durable and renamed
// over it. Returns why it failed (GDAL's own message where GDAL gave one); empty on success.
std::string WriteGeoTiff(const std::string& path, const TGeoTiffContent& content);

// Reads the first band of a GeoTIFF into image, which keeps its size and format: only a
// one-band 8-bit file of that size is taken. False with why otherwise, image unchanged.
bool ReadGeoTiffGrey(const std::string& path, TExtBitmap& image, std::string& why);
