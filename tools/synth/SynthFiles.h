#pragma once
// The files a receiver drops: netCDF image and geolocation files named after the scan,
// bzip2-compressed like the broadcast, each appearing under its final name only once it
// is complete.

#include "tools/synth/SynthGeometry.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace synth {

// "goes15.2018.289.120018_1.nc" (+ ".bz2"): the scan start and the band digit.
std::string ImageFileName(std::int64_t scanStartUnix, int band, bool bz2);
// "goes15.2018.289.120018_geo.nc" (+ ".bz2"): one per scan time, for every band.
std::string GeoFileName(std::int64_t scanStartUnix, bool bz2);

// A netCDF file being written. The handle is closed (and a half-written file removed)
// whatever happens; copying is not allowed.
class TNcFile {
public:
    TNcFile(const std::filesystem::path& path, bool netcdf4);
    ~TNcFile();
    TNcFile(const TNcFile&) = delete;
    TNcFile& operator=(const TNcFile&) = delete;

    int Id() const { return id_; }
    // Finishes the file; after this the destructor leaves it in place.
    void Close();

private:
    std::filesystem::path path_;
    int id_ = -1;
};

// Throws std::runtime_error naming the call and the library's message unless status is 0.
void CheckNc(int status, const char* what);
// A text attribute of var (NC_GLOBAL for the file's).
void PutText(int nc, int var, const char* name, std::string_view text);

// An image file: the navigation scalars, the time, and data(time, yc, xc) filled line by
// line (reflectance for band 1, radiance for the infrared bands).
class TImageFileWriter {
public:
    TImageFileWriter(const std::filesystem::path& path, const TScanLayout& layout, int band,
                     std::int64_t scanStartUnix, bool netcdf4);
    void PutLine(int line, std::span<const float> samples);
    void Close() { file_.Close(); }

private:
    TNcFile file_;
    int dataVar_ = -1;
    int elements_ = 0;
};

// A geolocation file: lon(yc, xc) and lat(yc, xc), NaN off the disc.
class TGeoFileWriter {
public:
    TGeoFileWriter(const std::filesystem::path& path, const TScanLayout& layout, bool netcdf4);
    void PutLine(int line, std::span<const float> lon, std::span<const float> lat);
    void Close() { file_.Close(); }

private:
    TNcFile file_;
    int lonVar_ = -1, latVar_ = -1;
    int elements_ = 0;
};

// Set (by a signal handler, say) to stop at the next chance: whatever is unfinished then
// fails with "interrupted" and its temporary files are removed.
std::atomic<bool>& StopRequested();
void ThrowIfStopRequested();

// Bytes of input per bzip2 stream: one block of the largest size.
inline constexpr std::size_t CompressionPiece = 900000;

// bzip2-compresses source into target (block size 9, as the command-line tool), piece by
// piece on `threads` threads, each piece a stream of its own, one after the other: as
// parallel compressors write, and as bzip2 itself reads. Throws std::runtime_error on any
// failure and then leaves no target behind.
void CompressFile(const std::filesystem::path& source, const std::filesystem::path& target, int threads = 1);

// Names used while a file is being made: hidden, and not starting with "goes15", so a
// program watching the directory for "goes15.20*nc*" never picks up a partial file.
std::filesystem::path TemporaryPath(const std::filesystem::path& finalPath, const char* suffix);

// Moves the finished netCDF file at ncPath to its final place, compressing it first (on
// `threads` threads) when finalPath ends in ".bz2"; ncPath is gone afterwards in every case.
void PublishFile(const std::filesystem::path& ncPath, const std::filesystem::path& finalPath, int threads = 1);

} // namespace synth
