#pragma once
// An incoming scan's bytes meet the third-party decoders (libbz2, netCDF-C and HDF5) only in a
// worker process: a file that crashes, hangs or exhausts a decoder costs that file, never the
// station. What comes back is what the product needs: the 8-bit scan, its sector and the
// values of its details line, and the decompressed content when it is kept.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "base/Contained.h"
#include "base/DateTime.h"
#include "imaging/BMPExtImage.h"
#include "netcdf/AbiL1b.h"

// One scan to decode.
struct TScanJob {
    std::string Path;             // names the scan: its channel and time, the reader's file name
    std::span<const char> Bytes;  // the received file; when empty, ReadPath is read instead
    std::string ReadPath;
    bool Compressed = false;      // bzip2 to be decompressed first
    bool KeepContent = false;     // hand back the decompressed content ("Save as NetCDF")
    // Resample the scan to its width in the composite (SectorPlacement) while its rows
    // arrive, where it can; TDecodedScan::Placed says whether it was.
    bool Place = false;
    float Gamma = 1.0f;
    // The channel the name gave; UnknownChannel for a name without a band digit, whose band
    // is then taken from the file's own band variable.
    std::uint8_t Channel = 0;
};

struct TDecodedScan {
    // Why the worker itself failed (crashed, took too long, ran out of memory); the file is
    // to blame, and nothing below holds.
    std::string WorkerFailure;

    // Decompression (always true for an uncompressed file).
    bool Decompressed = false;
    // Why decompression failed, and whether the fault lies in the data (a strike) rather than
    // in the station (a file it could not read).
    std::string DecompressionFailure;
    bool Damaged = false;
    bool EmptyContent = false;     // the data decompressed to nothing (or was too short to try)
    std::vector<char> Content;     // the decompressed content, when kept

    // Decoding: whether the name parsed and the reader ran; DecodeFailure says what was wrong
    // with the scan even then.
    bool Read = false;
    std::string DecodeFailure;
    TExtBitmap Image;
    int ScanWidth = 0;             // the scan's own width, also when Image is placed
    bool Placed = false;           // Image already has the scan's width in the composite
    std::uint8_t Sector = 0;
    std::uint8_t Channel = 0;      // the channel the name or the file gave
    bool BandUnknown = false;      // neither the name nor the file tells the band
    std::string Details;           // the details line

    // An ABI radiance file: Image is its window on the 2 km fixed grid at (X, Y), Valid says
    // where it holds data.
    bool Abi = false;
    TExtBitmap Valid;
    int X = 0, Y = 0;
    TAbiProjection Projection;
    TAbiQuality Quality;
};

// Decodes the job in a worker within limits.
TDecodedScan DecodeScanContained(const TScanJob& job, const TContainmentLimits& limits,
                                 const std::function<void()>& meanwhile = {});

// The details line of an ABI file: its start, sector, satellite and band, its size and first
// element and line at the band's own resolution, and its quality counts (QualityText).
std::string AbiDetailsLine(TDateTime scanStart, std::uint8_t sector, std::uint8_t channelIndex, int width,
                           int startElement, int height, int startLine, const TAbiQuality& quality);
// "quality: good 97.1 %, conditional 12, out of range 3, no value 40"
std::string QualityText(const TAbiQuality& quality);

// The details line of a decoded scan, as the geo log keeps it.
std::string DetailsLine(TDateTime imageTime, std::uint8_t sector, std::uint8_t channelIndex, int width,
                        int elementResolution, int startElement, int height, int lineResolution, int startLine);
