#pragma once
// Reader of the broadcast's geolocation files: the grid dimensions "xc" and "yc" and the
// float grids "lon" and "lat" that give every pixel's position.

#include <cstdint>
#include <span>
#include <string>

// Stands on its own until the shared netCDF base class is in place; it keeps that class's
// contract: FileName, NcId (0 when no file is open), Open, closing on destruction.
class TNetCdfGoesGeo {
public:
    TNetCdfGoesGeo() = default;
    virtual ~TNetCdfGoesGeo();
    TNetCdfGoesGeo(const TNetCdfGoesGeo&) = delete;
    TNetCdfGoesGeo& operator=(const TNetCdfGoesGeo&) = delete;

    // Closes any open file, then opens `fileName` read-only; false when it cannot be opened,
    // after which no file counts as open.
    bool Open(const std::string& fileName);

    std::string FileName;
    std::int32_t NcId = 0;

    std::int32_t XCount = 0; // length of "xc": grid columns
    std::int32_t YCount = 0; // length of "yc": grid rows

    // Reads both dimension lengths; a dimension the file lacks (or one too long for a count)
    // leaves its count at 0. Nothing is read when no file is open.
    void ReadDimensions();

    // Reads the whole variable `name` as floats into grid, YCount rows of XCount values, row
    // after row. False when no file is open, the grid is not YCount x XCount, the variable is
    // missing or holds a different number of values, or the read fails; the grid is then left
    // as it was.
    bool ReadVariable(const std::string& name, std::span<float> grid);
};
