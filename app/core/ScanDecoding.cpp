#include "app/core/ScanDecoding.h"

#include <bzlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "app/core/ChannelCatalogue.h"
#include "imaging/BZ2Parallel.h"
#include "imaging/BZ2files.h"
#include "imaging/BZip2.h"
#include "netcdf/ClassicHeader.h"
#include "netcdf/NetCdfG15.h"

namespace {

std::string SectorText(std::uint8_t sector)
{
    switch (sector) {
    case 1: return "FD";
    case 2: return "NH";
    case 3: return "SH";
    default: return "";
    }
}

// What went wrong with the compressed data, in words.
std::string BZip2FailureReason(const EBZip2Error& e)
{
    int status = 0;
    if (std::sscanf(e.what(), "error %d", &status) == 1) {
        switch (status) {
        case BZ_DATA_ERROR: return "bzip2 data is damaged";
        case BZ_DATA_ERROR_MAGIC: return "not bzip2 data";
        case BZ_UNEXPECTED_EOF: return "bzip2 data is truncated";
        case BZ_MEM_ERROR: return "out of memory while decompressing";
        default: break;
        }
        return std::string("bzip2: ") + e.what();
    }
    return e.what();
}

// The worker's answer, in memory shared with it; texts are cut to fit.
struct TShared {
    bool Decompressed = false, Damaged = false, EmptyContent = false, Read = false, BandUnknown = false;
    char DecompressionFailure[512] = {};
    char DecodeFailure[512] = {};
    char Details[256] = {};
    std::uint8_t Sector = 0, Channel = 0;
    int Width = 0, Height = 0;
    const std::uint8_t* Pixels = nullptr;
    std::uint64_t ContentSize = 0;
    const char* Content = nullptr;
};

void Put(char* field, std::size_t size, const std::string& text) { std::snprintf(field, size, "%s", text.c_str()); }

std::string Take(const char* field, std::size_t size) { return {field, ::strnlen(field, size)}; }

std::span<const std::uint8_t> Unsigned(std::span<const char> bytes)
{
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// The decompressed content, or nothing with the reason written to shared.
std::optional<std::vector<char>> Decompress(const TScanJob& job, TShared& shared)
{
    try {
        // Only as much as the netCDF header declares is held: a file that expands to more
        // costs no memory, only the time to count it against the limit.
        std::optional<std::vector<char>> plain =
            job.Bytes.empty() ? DecompressBZ2FileToMemory(job.ReadPath, false, NetCdfKeepBound)
                              : DecompressBZ2Bytes(Unsigned(job.Bytes), BZ2DecompressionWorkers(), NetCdfKeepBound);
        if (!plain || plain->empty()) {
            shared.EmptyContent = plain.has_value();
            shared.Damaged = true;
            Put(shared.DecompressionFailure, sizeof shared.DecompressionFailure, "bzip2 data is empty");
            return std::nullopt;
        }
        return plain;
    } catch (const EBZip2Error& e) {
        shared.Damaged = true;
        Put(shared.DecompressionFailure, sizeof shared.DecompressionFailure, BZip2FailureReason(e));
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        Put(shared.DecompressionFailure, sizeof shared.DecompressionFailure,
            std::string("cannot decompress into the archive: ") + std::strerror(errno));
    }
    return std::nullopt;
}

void Decode(const TScanJob& job, std::span<const char> content, TShared& shared, TSharedArena& arena)
{
    TDateTime imageTime = 0;
    shared.Channel = job.Channel;
    if (!ParseGoesFileName(job.Path, shared.Channel, imageTime)) {
        Put(shared.DecodeFailure, sizeof shared.DecodeFailure, "file name not understood");
        return;
    }
    std::string failure;
    TExtBitmap image;
    TNetCdfGoes15 reader;
    // A file that cannot be read still yields its (empty) image; why is kept for the log.
    const std::string& name = content.empty() && !job.ReadPath.empty() ? job.ReadPath : job.Path;
    if (!reader.OpenMemory(name, content))
        failure = reader.openProblem().empty() ? "not a netCDF file" : reader.openProblem();
    else if (!reader.ReadHeader())
        failure = "no usable grid of samples";
    reader.MakeBitmap(&image, job.Gamma);
    // A scan whose samples cannot all be read would draw a black or streaked block over a
    // good picture.
    if (failure.empty())
        failure = reader.SampleProblem();
    // A scan is never drawn into another band's composite: without a band in its name it
    // must carry its own.
    if (shared.Channel == UnknownChannel) {
        const int band = reader.Band;
        if (band >= 1 && ChannelExists(static_cast<std::size_t>(band - 1))) {
            shared.Channel = static_cast<std::uint8_t>(band - 1);
        } else {
            shared.BandUnknown = true;
            Put(shared.DecodeFailure, sizeof shared.DecodeFailure, "band not known");
            return;
        }
    }
    Put(shared.DecodeFailure, sizeof shared.DecodeFailure, failure);
    shared.Sector = reader.Sector;
    Put(shared.Details, sizeof shared.Details,
        DetailsLine(imageTime, reader.Sector, shared.Channel, static_cast<int>(reader.Width),
                    reader.GetElementResolution(), reader.StartElement, static_cast<int>(reader.Height),
                    reader.GetLineResolution(), reader.StartLine));
    const std::size_t width = static_cast<std::size_t>(image.Width());
    auto* pixels = static_cast<std::uint8_t*>(arena.take(width * static_cast<std::size_t>(image.Height())));
    for (int y = 0; y < image.Height(); ++y)
        std::memcpy(pixels + static_cast<std::size_t>(y) * width, image.ScanLine(y), width);
    shared.Pixels = pixels;
    shared.Width = image.Width();
    shared.Height = image.Height();
    shared.Read = true;
}

} // namespace

std::string DetailsLine(TDateTime imageTime, std::uint8_t sector, std::uint8_t channelIndex, int width,
                        int elementResolution, int startElement, int height, int lineResolution, int startLine)
{
    char details[160];
    std::snprintf(details, sizeof details,
                  " details:  elements: %d (%d km, start: %d),  lines: %d (%d km, start: %d)", width,
                  elementResolution, startElement, height, lineResolution, startLine);
    return FormatDateTime("yyyy-mm-dd hhnn  ", imageTime) + SectorText(sector) + " band " +
           std::string(ChannelCatalogue[channelIndex].ChannelDigit) + details;
}

TDecodedScan DecodeScanContained(const TScanJob& job, const TContainmentLimits& limits)
{
    TSharedArena arena(sizeof(TShared) + static_cast<std::size_t>(kMaxScanSamples) +
                       (job.KeepContent ? static_cast<std::size_t>(MaxDecompressedSize) : 0) + 4096);
    auto* shared = new (arena.take(sizeof(TShared))) TShared;
    const TContainedOutcome outcome = RunContained([&] {
        std::vector<char> plain;
        std::span<const char> content = job.Bytes;
        if (job.Compressed) {
            std::optional<std::vector<char>> decompressed = Decompress(job, *shared);
            if (!decompressed)
                return;
            plain = std::move(*decompressed);
            content = plain;
            if (job.KeepContent) {
                auto* kept = static_cast<char*>(arena.take(plain.size()));
                std::memcpy(kept, plain.data(), plain.size());
                shared->Content = kept;
                shared->ContentSize = plain.size();
            }
        }
        shared->Decompressed = true;
        Decode(job, content, *shared, arena);
    }, limits);

    TDecodedScan decoded;
    decoded.Channel = job.Channel;
    if (!outcome.Completed) {
        decoded.WorkerFailure = outcome.Failure;
        return decoded;
    }
    decoded.Decompressed = shared->Decompressed;
    decoded.Damaged = shared->Damaged;
    decoded.EmptyContent = shared->EmptyContent;
    decoded.DecompressionFailure = Take(shared->DecompressionFailure, sizeof shared->DecompressionFailure);
    if (shared->Content)
        decoded.Content.assign(shared->Content, shared->Content + shared->ContentSize);
    decoded.Read = shared->Read;
    decoded.DecodeFailure = Take(shared->DecodeFailure, sizeof shared->DecodeFailure);
    decoded.Details = Take(shared->Details, sizeof shared->Details);
    decoded.Sector = shared->Sector;
    decoded.Channel = shared->Channel;
    decoded.BandUnknown = shared->BandUnknown;
    if (shared->Read) {
        decoded.Image.MakeGreyPalette();
        decoded.Image.SetSize(shared->Width, shared->Height);
        const auto width = static_cast<std::size_t>(shared->Width);
        for (int y = 0; y < shared->Height; ++y)
            std::memcpy(decoded.Image.ScanLine(y), shared->Pixels + static_cast<std::size_t>(y) * width, width);
    }
    return decoded;
}
