#pragma once
// GOES imager files in netCDF: one band of one scan, its navigation scalars, and the
// calibration of its samples into an 8-bit grey image.

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "netcdf/NetCDFclass.h"
#include "netcdf/Sector.h"

class TExtBitmap;


// A scan larger than this is a damaged or hostile file, not an imager scan (a full disk of
// the visible band holds about 60 million samples).
inline constexpr std::uint64_t kMaxScanSamples = 100'000'000;

class TVisibleLookup;

class TNetCdfGoes15 : public TNetCdf {
public:
    // Reads the navigation scalars and the grid size and decides the sector. False when
    // the grid is empty or too large to be a scan; then nothing may be read from "data".
    bool ReadHeader();
    // Reads the whole "data" variable, converted to float, into buffer (Width x Height
    // samples, line after line). False, with the buffer untouched, when "data" is missing
    // or its shape does not match the header; false too when the library fails mid-way.
    bool ReadData(std::span<float> buffer);
    // Fills an 8-bit image with the calibrated grey values of the scan.
    bool MakeBitmap(TExtBitmap* bitmap, float gamma);
    // MakeBitmap on a content still arriving (opened from memory at its full length): rows
    // are read and calibrated once arrived(end) says the content's first `end` bytes are in
    // place. False, with bitmap unspecified, wherever this cannot vouch for exactly what
    // MakeBitmap would make of the whole content (bytes that never arrive, samples that are
    // not the file's last bytes, a read that fails): MakeBitmap on the whole content decides.
    // calibrated(firstRow, rows) is told of each band of rows as soon as it is in the bitmap.
    bool MakeBitmapAsArriving(TExtBitmap* bitmap, float gamma, const std::function<bool(std::uint64_t end)>& arrived,
                              const std::function<void(int firstRow, int rows)>& calibrated = {});

    std::int32_t GetElementResolution() const { return ElementResolution; }
    std::int32_t GetLineResolution() const { return LineResolution; }
    // Width x Height when ReadHeader accepted the grid, 0 otherwise.
    std::size_t sampleCount() const;
    // Neither side nor the whole grid is beyond what a scan can be.
    bool gridIsSane() const;
    // Why MakeBitmap could not read every sample of the grid; empty when it could.
    const std::string& SampleProblem() const { return sampleProblem_; }

private:
    // ReadData with the library's status: NC_ERANGE means every sample was delivered but
    // some did not fit single precision.
    int readSamples(std::span<float> buffer);
    // The "data" variable, checked to be exactly the header's grid; its dimension count.
    int dataVariable(int& var, int& dimensions);
    // Calibrates rows [first, first + rows.size() / Width) into bitmap.
    void calibrateRows(TExtBitmap& bitmap, std::span<const float> rows, int first, const TVisibleLookup* visible) const;
    // Whether the file is long enough for the grid its header declares; checked before the
    // samples' memory is taken, so a small file cannot claim gigabytes.
    bool fileHoldsGrid() const;

    std::string sampleProblem_;

public:
    std::int32_t DataVarId = 0;
    std::int32_t Band = 0;
    std::int32_t ElementResolution = 0;
    std::uint32_t Width = 0;
    std::int32_t LineResolution = 0;
    std::uint32_t Height = 0;
    std::uint8_t Sector = SectorUnknown;
    std::int32_t StartLine = 0;
    std::int32_t StartElement = 0;
};

// The sector a scan of `height` lines starting at imager line `startLine` covers, or
// `current` when neither rule applies.
std::uint8_t DecideSector(std::uint32_t height, std::int32_t startLine, std::uint8_t current);

// What a grey of the band's composite means, written for readers of the greys without this
// program: the reflectance or brightness temperature it stands for, and for an infrared band
// the greys no scan gives; background: the grey of lines no scan has filled yet. Empty for
// other bands.
std::string GreyMeaning(int band, float gamma, int background);

// Reader of the broadcast's geolocation files: the grid dimensions "xc" and "yc" and the
// float grids "lon" and "lat" that give every pixel's position.
class TNetCdfGoesGeo : public TNetCdf {
public:
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
    // Whether the file is long enough for every value of `name` where its header places
    // them; true for formats whose layout the header walk cannot tell.
    bool HoldsVariable(const char* name) const;
};
