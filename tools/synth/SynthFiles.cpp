#include "tools/synth/SynthFiles.h"

#include <bzlib.h>
#include <netcdf.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <future>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

namespace synth {
namespace fs = std::filesystem;
namespace {

std::tm UtcParts(std::int64_t unixSeconds)
{
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm parts{};
    gmtime_r(&t, &parts);
    return parts;
}

std::string ScanStem(std::int64_t unixSeconds)
{
    const std::tm p = UtcParts(unixSeconds);
    char buf[64];
    std::snprintf(buf, sizeof buf, "goes15.%04d.%03d.%02d%02d%02d", p.tm_year + 1900, p.tm_yday + 1, p.tm_hour,
                  p.tm_min, p.tm_sec);
    return buf;
}

void PutIntScalar(int nc, const char* name, const char* longName, const char* units, int value, std::vector<std::pair<int, int>>& values)
{
    int var = -1;
    CheckNc(nc_def_var(nc, name, NC_INT, 0, nullptr, &var), name);
    CheckNc(nc_put_att_text(nc, var, "long_name", std::strlen(longName), longName), name);
    if (units)
        CheckNc(nc_put_att_text(nc, var, "units", std::strlen(units), units), name);
    values.emplace_back(var, value);
}

struct TFileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

std::string ErrnoText() { return std::strerror(errno); }

} // namespace

std::atomic<bool>& StopRequested()
{
    static std::atomic<bool> stop{false};
    return stop;
}

void ThrowIfStopRequested()
{
    if (StopRequested().load(std::memory_order_relaxed))
        throw std::runtime_error("interrupted");
}

std::string ImageFileName(std::int64_t scanStartUnix, int band, bool bz2)
{
    return ScanStem(scanStartUnix) + "_" + std::to_string(band) + ".nc" + (bz2 ? ".bz2" : "");
}

std::string GeoFileName(std::int64_t scanStartUnix, bool bz2)
{
    return ScanStem(scanStartUnix) + "_geo.nc" + (bz2 ? ".bz2" : "");
}

void PutText(int nc, int var, const char* name, std::string_view text)
{
    CheckNc(nc_put_att_text(nc, var, name, text.size(), text.data()), name);
}

void CheckNc(int status, const char* what)
{
    if (status != NC_NOERR)
        throw std::runtime_error(std::string("netCDF ") + what + ": " + nc_strerror(status));
}

TNcFile::TNcFile(const fs::path& path, bool netcdf4) : path_(path)
{
    // The classic format is what the broadcast used and what every reader understands.
    const int mode = NC_CLOBBER | (netcdf4 ? NC_NETCDF4 : 0);
    CheckNc(nc_create(path.c_str(), mode, &id_), ("create " + path.string()).c_str());
}

TNcFile::~TNcFile()
{
    if (id_ >= 0) {
        nc_close(id_);
        std::error_code ec;
        fs::remove(path_, ec);
    }
}

void TNcFile::Close()
{
    const int id = id_;
    id_ = -1;
    const int rc = nc_close(id);
    if (rc != NC_NOERR) {
        std::error_code ec;
        fs::remove(path_, ec);
        CheckNc(rc, ("close " + path_.string()).c_str());
    }
}

TImageFileWriter::TImageFileWriter(const fs::path& path, const TScanLayout& layout, int band,
                                   std::int64_t scanStartUnix, bool netcdf4)
    : file_(path, netcdf4), elements_(layout.Elements)
{
    const int nc = file_.Id();
    int xc, yc, time;
    CheckNc(nc_def_dim(nc, "xc", layout.Elements, &xc), "xc");
    CheckNc(nc_def_dim(nc, "yc", layout.Lines, &yc), "yc");
    CheckNc(nc_def_dim(nc, "time", 1, &time), "time");

    const std::tm p = UtcParts(scanStartUnix);
    std::vector<std::pair<int, int>> values;
    PutIntScalar(nc, "imageDate", "image year and day of year (in ccyyddd format)", nullptr,
                 (p.tm_year + 1900) * 1000 + p.tm_yday + 1, values);
    PutIntScalar(nc, "imageTime", "image time in UTC (hours/minutes/seconds, in HHMMSS format)", nullptr,
                 p.tm_hour * 10000 + p.tm_min * 100 + p.tm_sec, values);
    PutIntScalar(nc, "startLine", "starting image line (in satellite coordinates)", nullptr, layout.StartLine, values);
    PutIntScalar(nc, "startElem", "starting image element (in satellite coordinates)", nullptr, layout.StartElement, values);
    PutIntScalar(nc, "lineRes", "resolution of each pixel in line direction", "km", layout.LineResolution, values);
    PutIntScalar(nc, "elemRes", "resolution of each pixel in element direction", "km", layout.ElementResolution, values);
    PutIntScalar(nc, "bands", "satellite channel number", nullptr, band, values);

    int timeVar = -1;
    CheckNc(nc_def_var(nc, "time", NC_INT, 1, &time, &timeVar), "time");
    PutText(nc, timeVar, "long_name", "seconds since 1970-1-1 0:0:0");
    PutText(nc, timeVar, "units", "seconds since 1970-1-1 0:0:0");

    const int dims[3] = {time, yc, xc};
    CheckNc(nc_def_var(nc, "data", NC_FLOAT, 3, dims, &dataVar_), "data");
    if (band == 1) {
        PutText(nc, dataVar_, "long_name", "Reflectance");
        PutText(nc, dataVar_, "units", "percent");
    } else {
        PutText(nc, dataVar_, "long_name", "Radiance");
        PutText(nc, dataVar_, "units", "mW/(m2 sr cm-1)");
    }
    PutText(nc, dataVar_, "type", "GVAR");
    PutText(nc, NC_GLOBAL, "Conventions", "CF-1.4");
    PutText(nc, NC_GLOBAL, "Source", "McIDAS Area File");
    PutText(nc, NC_GLOBAL, "Satellite Sensor", "G-15");
    CheckNc(nc_enddef(nc), "enddef");

    for (const auto& [var, value] : values)
        CheckNc(nc_put_var_int(nc, var, &value), "scalar");
    const int seconds = static_cast<int>(scanStartUnix);
    CheckNc(nc_put_var_int(nc, timeVar, &seconds), "time");
}

void TImageFileWriter::PutLine(int line, std::span<const float> samples)
{
    if (samples.size() != static_cast<std::size_t>(elements_))
        throw std::invalid_argument("line length differs from the scan width");
    const std::size_t start[3] = {0, static_cast<std::size_t>(line), 0};
    const std::size_t count[3] = {1, 1, samples.size()};
    CheckNc(nc_put_vara_float(file_.Id(), dataVar_, start, count, samples.data()), "data");
}

TGeoFileWriter::TGeoFileWriter(const fs::path& path, const TScanLayout& layout, bool netcdf4)
    : file_(path, netcdf4), elements_(layout.Elements)
{
    const int nc = file_.Id();
    int xc, yc;
    CheckNc(nc_def_dim(nc, "xc", layout.Elements, &xc), "xc");
    CheckNc(nc_def_dim(nc, "yc", layout.Lines, &yc), "yc");
    const int dims[2] = {yc, xc};
    CheckNc(nc_def_var(nc, "lat", NC_FLOAT, 2, dims, &latVar_), "lat");
    PutText(nc, latVar_, "long_name", "lat");
    PutText(nc, latVar_, "units", "degrees_north");
    CheckNc(nc_def_var(nc, "lon", NC_FLOAT, 2, dims, &lonVar_), "lon");
    PutText(nc, lonVar_, "long_name", "lon");
    PutText(nc, lonVar_, "units", "degrees_east");
    PutText(nc, NC_GLOBAL, "Conventions", "CF-1.4");
    PutText(nc, NC_GLOBAL, "Satellite Sensor", "G-15");
    // Off the disc there is no position; NaN says so, as in the broadcast.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int var : {latVar_, lonVar_})
        CheckNc(nc_put_att_float(nc, var, "_FillValue", NC_FLOAT, 1, &nan), "_FillValue");
    CheckNc(nc_enddef(nc), "enddef");
}

void TGeoFileWriter::PutLine(int line, std::span<const float> lon, std::span<const float> lat)
{
    if (lon.size() != static_cast<std::size_t>(elements_) || lat.size() != lon.size())
        throw std::invalid_argument("line length differs from the scan width");
    const std::size_t start[2] = {static_cast<std::size_t>(line), 0};
    const std::size_t count[2] = {1, lon.size()};
    CheckNc(nc_put_vara_float(file_.Id(), lonVar_, start, count, lon.data()), "lon");
    CheckNc(nc_put_vara_float(file_.Id(), latVar_, start, count, lat.data()), "lat");
}

void CompressFile(const fs::path& source, const fs::path& target, int threads)
{
    TFilePtr in(std::fopen(source.c_str(), "rb"));
    if (!in)
        throw std::runtime_error("cannot read " + source.string() + ": " + ErrnoText());
    TFilePtr out(std::fopen(target.c_str(), "wb"));
    if (!out)
        throw std::runtime_error("cannot write " + target.string() + ": " + ErrnoText());
    // Pieces still being compressed are waited for before the target is removed.
    std::deque<std::future<std::vector<char>>> pending;
    auto fail = [&](const std::string& why) {
        for (auto& p : pending)
            p.wait();
        out.reset();
        std::error_code ec;
        fs::remove(target, ec);
        throw std::runtime_error(why);
    };
    // A piece beyond the threads at work keeps them busy while the oldest is written.
    const std::size_t ahead = static_cast<std::size_t>(std::max(1, threads)) + 1;
    auto writeOldest = [&] {
        std::vector<char> packed;
        try {
            packed = pending.front().get();
        } catch (const std::exception& e) {
            pending.pop_front();
            fail("bzip2 compression of " + source.string() + " failed (" + e.what() + ")");
        }
        pending.pop_front();
        if (std::fwrite(packed.data(), 1, packed.size(), out.get()) != packed.size())
            fail("cannot write " + target.string() + ": " + ErrnoText());
    };
    for (bool first = true;; first = false) {
        if (StopRequested().load(std::memory_order_relaxed))
            fail("interrupted");
        std::vector<char> piece(CompressionPiece);
        const std::size_t n = std::fread(piece.data(), 1, piece.size(), in.get());
        if (std::ferror(in.get()))
            fail("cannot read " + source.string() + ": " + ErrnoText());
        // An empty file still gets its one (empty) stream.
        if (n == 0 && !first)
            break;
        piece.resize(n);
        pending.push_back(std::async(std::launch::async, [piece = std::move(piece)] {
            std::vector<char> packed(piece.size() + piece.size() / 100 + 600);
            auto size = static_cast<unsigned>(packed.size());
            const int rc = BZ2_bzBuffToBuffCompress(packed.data(), &size, const_cast<char*>(piece.data()),
                                                    static_cast<unsigned>(piece.size()), 9, 0, 0);
            if (rc != BZ_OK)
                throw std::runtime_error("error " + std::to_string(rc));
            packed.resize(size);
            return packed;
        }));
        if (pending.size() >= ahead)
            writeOldest();
        if (n < CompressionPiece)
            break;
    }
    while (!pending.empty())
        writeOldest();
    if (std::fflush(out.get()) != 0 || std::fclose(out.release()) != 0)
        fail("cannot write " + target.string() + ": " + ErrnoText());
}

fs::path TemporaryPath(const fs::path& finalPath, const char* suffix)
{
    return finalPath.parent_path() / ("." + finalPath.filename().string() + suffix);
}

void PublishFile(const fs::path& ncPath, const fs::path& finalPath, int threads)
{
    struct TRemover {
        fs::path Path;
        ~TRemover()
        {
            std::error_code ec;
            fs::remove(Path, ec);
        }
    } removeSource{ncPath};
    if (finalPath.extension() == ".bz2") {
        const fs::path part = TemporaryPath(finalPath, ".part");
        CompressFile(ncPath, part, threads);
        std::error_code ec;
        fs::rename(part, finalPath, ec);
        if (ec) {
            fs::remove(part, ec);
            throw std::runtime_error("cannot rename to " + finalPath.string());
        }
    } else {
        std::error_code ec;
        fs::rename(ncPath, finalPath, ec);
        if (ec)
            throw std::runtime_error("cannot rename to " + finalPath.string() + ": " + ec.message());
    }
}

} // namespace synth
