#include "product/ScanDecoding.h"

#include <bzlib.h>

#include <cerrno>
#include <cstdio>
#include <condition_variable>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <utility>

#include "product/composite/ChannelCatalogue.h"
#include "netcdf/Sector.h"
#include "bzip2/BZ2Parallel.h"
#include "bzip2/BZ2files.h"
#include "bzip2/BZip2.h"
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
    int Width = 0, Height = 0, ScanWidth = 0;
    bool Placed = false;
    const std::uint8_t* Pixels = nullptr;
    std::uint64_t ContentSize = 0;
    const char* Content = nullptr;
    // An ABI file's window, projection and quality counts.
    bool Abi = false;
    int X = 0, Y = 0;
    const std::uint8_t* Valid = nullptr;
    TAbiProjection Projection;
    TAbiQuality Quality;
};

void Put(char* field, std::size_t size, const std::string& text) { std::snprintf(field, size, "%s", text.c_str()); }

std::string Take(const char* field, std::size_t size) { return {field, ::strnlen(field, size)}; }

std::span<const std::uint8_t> Unsigned(std::span<const char> bytes)
{
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// The scan read while its content is still being decompressed: rows are calibrated as their
// bytes arrive, on a thread of their own, so that little is left to do once the last block
// is decoded. Only what it can vouch for is used: anything it cannot read this way (another
// format, samples that are not the file's last bytes, a content that ends up another length
// than its header declares, a decoding that starts over) is read whole afterwards, as before.
class TArrivingScan {
public:
    explicit TArrivingScan(const TScanJob& job)
        : job_(job), reading_(job.Compressed ? std::thread([this] { read(); }) : std::thread())
    {
    }
    ~TArrivingScan() { end(); }
    TArrivingScan(const TArrivingScan&) = delete;
    TArrivingScan& operator=(const TArrivingScan&) = delete;

    // From the decompression: see TContentProgress.
    void held(std::span<const char> held)
    {
        std::unique_lock guard(lock_);
        if (held.empty()) {
            abandoned_ = true;
            changed_.notify_all();
            changed_.wait(guard, [this] { return finished_; });
            return;
        }
        held_ = held;
        changed_.notify_all();
    }

    // No more bytes will come; returns once the reading has stopped.
    void end()
    {
        {
            std::lock_guard guard(lock_);
            ended_ = true;
        }
        changed_.notify_all();
        if (reading_.joinable())
            reading_.join();
    }

    struct TReady {
        TNetCdfGoes15* Reader = nullptr;
        const TExtBitmap* Image = nullptr;  // placed, where the job asked for it and it was made
        bool Placed = false;
    };
    // The reader and image of the content, when they are what reading it whole would give.
    TReady ready(std::span<const char> content)
    {
        end();
        if (!read_ || abandoned_ || content.data() != held_.data() || content.size() != length_)
            return {};
        if (placing_)
            return {&reader_, &placed_, true};
        return {&reader_, &image_, false};
    }

private:
    // Waits until the first `end` bytes are held; false when they never will be.
    bool arrived(std::uint64_t end)
    {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [&] { return abandoned_ || ended_ || held_.size() >= end; });
        return !abandoned_ && held_.size() >= end;
    }

    void read()
    {
        try {
            readArriving();
        } catch (const std::exception&) {
            // Out of memory, most likely: the whole reading afterwards says so.
            read_ = false;
        }
        std::lock_guard guard(lock_);
        finished_ = true;
        changed_.notify_all();
    }

    void readArriving()
    {
        if (arrived(BoundHeadBytes)) {
            std::span<const char> head;
            {
                std::lock_guard guard(lock_);
                head = held_;
            }
            const auto extent = ClassicTrailingVariable(
                std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(head.data()), head.size()), "data");
            if (extent && arrived(extent->Begin) && reader_.OpenMemory(job_.Path, {head.data(), extent->End}) &&
                reader_.ReadHeader()) {
                length_ = extent->End;
                preparePlacing();
                read_ = reader_.MakeBitmapAsArriving(
                    &image_, job_.Gamma, [this](std::uint64_t end) { return arrived(end); },
                    [this](int first, int rows) {
                        if (placing_)
                            for (int y = first; y < first + rows; ++y)
                                (*placing_)(image_.ScanLine(y), placed_.ScanLine(y));
                    });
            }
        }
    }

    // The rows are resampled to the composite's scale as they are calibrated, exactly as the
    // product would resample the whole scan (the same resampling, row by row).
    void preparePlacing()
    {
        const int sector = reader_.Sector, width = static_cast<int>(reader_.Width), height = static_cast<int>(reader_.Height);
        if (!job_.Place || sector < SectorFullDisk || sector > SectorSouthern)
            return;
        const int newWidth = SectorPlacement(sector, width, height).NewWidth;
        const std::optional<TInterpolation> how = TExtBitmap::InterpolationFor(width, height, newWidth, height);
        if (!how)
            return;
        placed_.MakeGreyPalette();
        placed_.SetSize(newWidth, height);
        placing_.emplace(width, newWidth, 1, *how);
    }

    const TScanJob& job_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::span<const char> held_;
    bool abandoned_ = false, ended_ = false, finished_ = false;
    TNetCdfGoes15 reader_;
    TExtBitmap image_;
    TExtBitmap placed_;
    std::optional<TRowResampler> placing_;
    std::uint64_t length_ = 0;
    bool read_ = false;
    std::thread reading_;  // last: started once everything it uses is made
};

// The decompressed content, or nothing with the reason written to shared.
std::optional<std::vector<char>> Decompress(const TScanJob& job, TShared& shared, TArrivingScan& arriving)
{
    try {
        // Only as much as the netCDF header declares is held: a file that expands to more
        // costs no memory, only the time to count it against the limit.
        const TContentProgress progress = [&arriving](std::span<const char> held) { arriving.held(held); };
        std::optional<std::vector<char>> plain =
            job.Bytes.empty()
                ? DecompressBZ2FileToMemory(job.ReadPath, false, NetCdfKeepBound, progress)
                : DecompressBZ2Bytes(Unsigned(job.Bytes), BZ2DecompressionWorkers(), NetCdfKeepBound, progress);
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

// Copies an 8-bit picture into the arena, rows without padding.
const std::uint8_t* Share(const TExtBitmap& image, TSharedArena& arena)
{
    const std::size_t width = static_cast<std::size_t>(image.Width());
    auto* pixels = static_cast<std::uint8_t*>(arena.take(width * static_cast<std::size_t>(image.Height())));
    for (int y = 0; y < image.Height(); ++y)
        std::memcpy(pixels + static_cast<std::size_t>(y) * width, image.ScanLine(y), width);
    return pixels;
}

TExtBitmap Unshare(const std::uint8_t* pixels, int width, int height)
{
    TExtBitmap image;
    image.MakeGreyPalette();
    image.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        std::memcpy(image.ScanLine(y), pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(width),
                    static_cast<std::size_t>(width));
    return image;
}

std::uint8_t AbiSectorCode(TAbiSector sector)
{
    switch (sector) {
    case TAbiSector::FullDisk: return SectorAbiFullDisk;
    case TAbiSector::Conus: return SectorConus;
    case TAbiSector::Meso1: return SectorMeso1;
    case TAbiSector::Meso2: return SectorMeso2;
    }
    return SectorUnknown;
}

void DecodeAbi(const TScanJob& job, std::span<const char> content, TShared& shared, TSharedArena& arena)
{
    TAbiScan scan;
    const std::string& name = content.empty() && !job.ReadPath.empty() ? job.ReadPath : job.Path;
    if (const std::string why = ReadAbiScan(name, content, job.Gamma, scan); !why.empty()) {
        Put(shared.DecodeFailure, sizeof shared.DecodeFailure, why);
        shared.Read = true;
        return;
    }
    shared.Abi = true;
    shared.Sector = AbiSectorCode(scan.Name.Sector);
    shared.X = scan.X;
    shared.Y = scan.Y;
    shared.Projection = scan.Projection;
    shared.Quality = scan.Quality;
    shared.Pixels = Share(scan.Grey, arena);
    shared.Valid = Share(scan.Valid, arena);
    shared.Width = shared.ScanWidth = scan.Grey.Width();
    shared.Height = scan.Grey.Height();
    const int factor = AbiBandFactor(scan.Name.Band);
    Put(shared.Details, sizeof shared.Details,
        AbiDetailsLine(scan.Name.Start, shared.Sector, shared.Channel, shared.Width * factor, shared.X * factor,
                       shared.Height * factor, shared.Y * factor, scan.Quality));
    shared.Read = true;
}

void Decode(const TScanJob& job, std::span<const char> content, TShared& shared, TSharedArena& arena,
            TArrivingScan& arriving)
{
    TDateTime imageTime = 0;
    shared.Channel = job.Channel;
    if (!ParseScanFileName(job.Path, shared.Channel, imageTime)) {
        Put(shared.DecodeFailure, sizeof shared.DecodeFailure, "file name not understood");
        return;
    }
    if (IsAbiChannel(shared.Channel))
        return DecodeAbi(job, content, shared, arena);
    std::string failure;
    TExtBitmap wholeImage;
    TNetCdfGoes15 wholeReader;
    const auto ready = arriving.ready(content);
    TNetCdfGoes15& reader = ready.Reader != nullptr ? *ready.Reader : wholeReader;
    const TExtBitmap& image = ready.Image != nullptr ? *ready.Image : wholeImage;
    if (ready.Reader == nullptr) {
        // A file that cannot be read still yields its (empty) image; why is kept for the log.
        const std::string& name = content.empty() && !job.ReadPath.empty() ? job.ReadPath : job.Path;
        if (!reader.OpenMemory(name, content))
            failure = reader.openProblem().empty() ? "not a netCDF file" : reader.openProblem();
        else if (!reader.ReadHeader())
            failure = "no usable grid of samples";
        reader.MakeBitmap(&wholeImage, job.Gamma);
        // A scan whose samples cannot all be read would draw a black or streaked block over a
        // good picture.
        if (failure.empty())
            failure = reader.SampleProblem();
    }
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
    shared.Pixels = Share(image, arena);
    shared.Width = image.Width();
    shared.Height = image.Height();
    shared.ScanWidth = static_cast<int>(reader.Width);
    shared.Placed = ready.Placed;
    shared.Read = true;
}

} // namespace

std::string AbiDetailsLine(TDateTime scanStart, std::uint8_t sector, std::uint8_t channelIndex, int width,
                           int startElement, int height, int startLine, const TAbiQuality& quality)
{
    const int factor = AbiBandFactor(AbiBandOf(channelIndex));
    const double km = 2.0 / std::max(factor, 1);
    char details[256];
    std::snprintf(details, sizeof details,
                  " details:  elements: %d (%g km, start: %d),  lines: %d (%g km, start: %d),  %s", width, km,
                  startElement, height, km, startLine, QualityText(quality).c_str());
    const std::string label = SectorLabel(sector);
    return FormatDateTime("yyyy-mm-dd hhnn  ", scanStart) + label.substr(0, label.find(' ')) + " " +
           SatelliteName(channelIndex) + " band " + std::string(ChannelInfo(channelIndex).ChannelDigit) + details;
}

std::string QualityText(const TAbiQuality& q)
{
    // The file's own share of good pixels counts those on the Earth only (a fraction, as NOAA
    // writes it); ours would count the space around a full disk as bad.
    const std::int64_t all = q.Good + q.Conditional + q.OutOfRange + q.NoValue;
    const double good = q.PercentGood >= 0 && q.PercentGood <= 1 ? 100.0 * q.PercentGood
                        : all > 0 ? 100.0 * static_cast<double>(q.Good) / static_cast<double>(all)
                                  : 0.0;
    char text[160];
    std::snprintf(text, sizeof text, "quality: good %.1f %%, conditional %lld, out of range %lld, no value %lld", good,
                  static_cast<long long>(q.Conditional), static_cast<long long>(q.OutOfRange),
                  static_cast<long long>(q.NoValue));
    return text;
}

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

TDecodedScan DecodeScanContained(const TScanJob& job, const TContainmentLimits& limits,
                                 const std::function<void()>& meanwhile)
{
    // An ABI window comes with its map of valid pixels: two full 2 km grids at most.
    TSharedArena arena(sizeof(TShared) + static_cast<std::size_t>(kMaxScanSamples) +
                       2 * static_cast<std::size_t>(AbiGridSize) * AbiGridSize +
                       (job.KeepContent ? static_cast<std::size_t>(MaxDecompressedSize) : 0) + 4096);
    auto* shared = new (arena.take(sizeof(TShared))) TShared;
    const TContainedOutcome outcome = RunContained([&] {
        std::vector<char> plain;
        std::span<const char> content = job.Bytes;
        TArrivingScan arriving(job);
        if (job.Compressed) {
            std::optional<std::vector<char>> decompressed = Decompress(job, *shared, arriving);
            arriving.end();
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
        Decode(job, content, *shared, arena, arriving);
    }, limits, meanwhile);

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
    decoded.ScanWidth = shared->ScanWidth;
    decoded.Placed = shared->Placed;
    decoded.Abi = shared->Abi;
    decoded.X = shared->X;
    decoded.Y = shared->Y;
    decoded.Projection = shared->Projection;
    decoded.Quality = shared->Quality;
    if (shared->Read && shared->Pixels)
        decoded.Image = Unshare(shared->Pixels, shared->Width, shared->Height);
    if (shared->Valid)
        decoded.Valid = Unshare(shared->Valid, shared->Width, shared->Height);
    return decoded;
}
