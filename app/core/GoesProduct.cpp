#include "app/core/GoesProduct.h"

#include <bzlib.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <future>
#include <span>
#include <thread>

#include "Version.h"
#include "app/core/ChannelCatalogue.h"
#include "app/core/GeoTiffOutput.h"
#include "app/core/Publisher.h"
#include "app/core/SectorPlacement.h"
#include "app/core/ProcessLog.h"
#include "app/core/Utils.h"
#include "imaging/BZ2Parallel.h"
#include "imaging/BZ2files.h"
#include "imaging/BZip2.h"
#include "imaging/Canvas.h"
#include "imaging/JPEG_IO.h"
#include "base/PartialFile.h"
#include "imaging/PNG_IO.h"
#include "netcdf/NetCdfG15.h"
#include "settings/ProgramPaths.h"

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t MinimumFileSize = 20000;
constexpr int JpegQuality = 99;
constexpr TColor BoundaryColour = 0xA0A0A0;
const char* const PngSoftware = "Quillon's Orvanta";
const char* const PngDescription = "GOES-15 image from netCDF";

std::string SectorText(std::uint8_t sector)
{
    switch (sector) {
    case 1: return "FD";
    case 2: return "NH";
    case 3: return "SH";
    default: return "";
    }
}

std::span<const std::uint8_t> BytesOf(const std::vector<char>& data)
{
    return {reinterpret_cast<const std::uint8_t*>(data.data()), data.size()};
}

bool HasExtension(const std::string& name, const char* upperExtension)
{
    const std::string ext = UpperCase(fs::path(name).extension().string());
    return ext == upperExtension;
}

void RemoveQuietly(const std::string& path)
{
    std::error_code ec;
    fs::remove(path, ec);
}

bool LiesIn(const std::string& path, const std::string& directory)
{
    std::error_code ec;
    const fs::path parent = fs::absolute(path, ec).parent_path();
    return !directory.empty() && !ec && fs::equivalent(parent, directory, ec);
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

}  // namespace

std::string LongImageName(const std::string& archivedFile, const char* extension)
{
    return fs::path(archivedFile).replace_extension(extension).string();
}

std::string ShortImageName(const std::string& imageDirectory, TDateTime imageTime, std::uint8_t channelIndex,
                           const char* extension)
{
    return imageDirectory + FormatDateTime("yyyymmddhhnn", imageTime) + "-g10-" +
           std::string(ChannelCatalogue[channelIndex].ChannelTag) + extension;
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

TGoesProduct::TGoesProduct(TProcessingOptions& options, TComposites& composites, const TExtBitmap& mask)
    : options_(options), composites_(composites), mask_(mask)
{
}

bool TGoesProduct::DecodeGoesFile(const std::string& path, TExtBitmap& image, std::uint8_t& sector,
                                  std::uint8_t channel)
{
    TScanReport report;
    return readScan(path, {}, image, sector, channel, report) && reportScan(report);
}

bool TGoesProduct::readScan(const std::string& path, std::span<const char> content, TExtBitmap& image,
                            std::uint8_t& sector, std::uint8_t channel, TScanReport& report)
{
    decodeFailure_.clear();
    TDateTime imageTime = 0;
    report.Channel = channel;
    if (!ParseGoesFileName(path, report.Channel, imageTime)) {
        decodeFailure_ = "file name not understood";
        return false;
    }
    try {
        TNetCdfGoes15 reader;
        // A file that cannot be read still yields its (empty) image; why is kept for the log.
        if (!reader.OpenMemory(path, content))
            decodeFailure_ = "not a netCDF file";
        else if (!reader.ReadHeader())
            decodeFailure_ = "no usable grid of samples";
        reader.MakeBitmap(&image, options_.Ticked("GammaVisual") ? 1.8f : 1.0f);
        // A scan whose samples cannot all be read would draw a black or streaked block over
        // a good picture.
        if (decodeFailure_.empty())
            decodeFailure_ = reader.SampleProblem();
        sector = reader.Sector;
        report.Details = DetailsLine(imageTime, reader.Sector, report.Channel, static_cast<int>(reader.Width),
                                     reader.GetElementResolution(), reader.StartElement,
                                     static_cast<int>(reader.Height), reader.GetLineResolution(), reader.StartLine);
        return true;
    } catch (const std::exception& e) {
        decodeFailure_ = e.what();
        return false;
    }
}

bool TGoesProduct::reportScan(const TScanReport& report)
{
    try {
        const std::string& details = report.Details;
        const std::string head = details.substr(0, details.find("details:"));
        if (OnStatusText)
            OnStatusText("Processed  " + head + ", " + std::string(ChannelCatalogue[report.Channel].ChannelDescription));
        if (OnCaption)
            OnCaption(std::string("Orvanta V") + ORVANTA_FILE_VERSION + " from Quillon, Brackmoor  -  " + head);
        if (report.Channel == 3 && !GeoLogPath.empty())
            AppendTextLine(GeoLogPath, details);
        return true;
    } catch (const std::exception& e) {
        decodeFailure_ = e.what();
        return false;
    }
}

void TGoesProduct::startReadAhead(const std::string& current)
{
    if (NextFile.empty() || NextFile == current || (SingleFileMode && SingleFileMode()))
        return;
    takeReadAhead({});
    readAhead_ = std::async(std::launch::async, [next = NextFile] {
        TReadAhead ahead;
        ahead.Path = next;
        if (!ReadFileContent(next, ahead.Content, MaxKeptContent) || !HasExtension(next, ".BZ2"))
            return ahead;
        ahead.Decompressed = true;
        try {
            ahead.Plain = DecompressBZ2Bytes(BytesOf(ahead.Content.Data), BZ2DecompressionWorkers());
        } catch (...) {
            ahead.Failure = std::current_exception();
        }
        return ahead;
    });
}

std::optional<TGoesProduct::TReadAhead> TGoesProduct::takeReadAhead(const std::string& path)
{
    if (!readAhead_.valid())
        return std::nullopt;
    TReadAhead ahead = readAhead_.get();
    if (ahead.Path != path || ahead.Content.Data.empty())
        return std::nullopt;
    return ahead;
}

std::string TGoesProduct::FailedDirectory() const { return options_.NetCDFPath() + "failed/"; }

void TGoesProduct::PutAside(const std::string& path, std::string& reason)
{
    const std::string directory = FailedDirectory();
    if (ForceDirectories(directory) && MoveFileReplacing(path, directory + ExtractFileName(path)))
        reason += "; moved to " + directory;
    else
        reason += "; could not be moved to " + directory + ": " + std::strerror(errno);
}

void TGoesProduct::FileFailed(const std::string& path, bool inIncoming, std::string& reason)
{
    if (!inIncoming)
        return;
    const std::string name = ExtractFileName(path);
    if (++failedCycles_[name] < FailedCyclesAllowed)
        return;
    failedCycles_.erase(name);
    PutAside(path, reason);
}

bool TGoesProduct::ProcessGoesFile(const std::string& path, TGoesFileResult& result)
{
    result.SavedFileName.clear();
    result.Skipped = false;
    result.SlotTime = 0;
    std::string& reason = result.FailureReason;
    reason.clear();
    // Read ahead while the previous file was finished; its reading thread is done with the
    // file (which must not look in use to us) before anything is decided about it.
    std::optional<TReadAhead> ahead = takeReadAhead(path);

    std::error_code ec;
    if (!fs::exists(path, ec)) {
        reason = "no such file";
        return false;
    }
    const bool singleFile = SingleFileMode && SingleFileMode();
    // Only what lies in the incoming directory is ours to remove: a file named on the command
    // line may be an operator's own copy, or the archive's only one.
    const bool inIncoming = LiesIn(path, options_.SourcePath());

    // A file still being written is left alone before anything else is decided about it: at
    // that moment it may still be empty, or not yet renamed to its final name.
    PeekMessages();
    const char* const stillWritten = "still being written, left for the next cycle";
    if (!singleFile && IsFileInUse(path)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(InUseWaitMs));
        if (IsFileInUse(path)) {
            reason = stillWritten;
            return false;
        }
    }

    // A file whose size cannot be measured is left alone: it may be one we may not read yet,
    // and it is never deleted unread.
    const std::optional<std::int64_t> size = FileSizeOf(path);
    if (!size) {
        reason = std::string("cannot be read: ") + std::strerror(errno);
        return false;
    }
    std::uint8_t channel = result.ChannelIndex;
    TDateTime imageTime = 0;
    const bool named = ParseGoesFileName(path, channel, imageTime) && ChannelExists(channel);
    if (*size < MinimumFileSize || !named) {
        if (!singleFile && ModifiedWithin(path, SettledAfterMs)) {
            reason = stillWritten;
            return false;
        }
        reason = named ? "smaller than " + std::to_string(MinimumFileSize) + " bytes" : "file name not understood";
        if (inIncoming)
            PutAside(path, reason);
        return false;
    }
    result.ChannelIndex = channel;
    result.ImageTime = imageTime;
    result.SlotTime = imageTime;

    const std::string rawDirectory = DatedDirectory(options_.NetCDFPath(), imageTime);
    const std::string imageDirectory = DatedDirectory(options_.SavePath(), imageTime);
    ForceDirectories(rawDirectory);
    ForceDirectories(imageDirectory);
    std::string archived = rawDirectory + ExtractFileName(path);
    // The file named on the command line may be the archived copy itself.
    const bool alreadyArchived = fs::equivalent(path, archived, ec);
    // The incoming file is read once: its bytes are archived, then decompressed and decoded
    // in memory.
    TFileContent received;
    if (ahead)
        received = std::move(ahead->Content);
    bool ok = alreadyArchived || CopyFileAtomically(path, archived, received);
    if (!ok)
        reason = std::string("cannot archive: ") + std::strerror(errno);
    // A file too large to hold is read from its archived copy instead.
    const bool fromArchive = alreadyArchived || !received.Kept;
    const bool keepNetCdf = options_.Ticked("SaveAsNetCDF");
    std::vector<char> scan;  // the netCDF content, when it is decoded from memory
    // Writes the decompressed file while the scan is decoded, when it is kept; gives why it
    // could not be written.
    std::future<std::string> keeping;

    if (ok && HasExtension(archived, ".BZ2")) {
        ok = false;
        PeekMessages();
        bool damaged = false;
        try {
            std::optional<std::vector<char>> plain;
            if (fromArchive) {
                // The archived copy is read as it lies; a kept decompressed file is written
                // before the decoding.
                plain = DecompressBZ2FileToMemory(archived, keepNetCdf);
            } else {
                if (ahead && ahead->Decompressed && received.ReadBefore) {
                    if (ahead->Failure)
                        std::rethrow_exception(ahead->Failure);
                    plain = std::move(ahead->Plain);
                } else {
                    plain = DecompressBZ2Bytes(BytesOf(received.Data), BZ2DecompressionWorkers());
                }
                // An empty content still leaves its empty file, as decompressing the archived
                // copy does.
                if (plain && plain->empty())
                    TPartialFile(BZ2TargetName(archived)).commit();
            }
            if (plain)
                scan = std::move(*plain);
            ok = !scan.empty();
            if (!ok) {
                reason = "bzip2 data is empty";
                damaged = true;
            }
        } catch (const EBZip2Error& e) {
            reason = BZip2FailureReason(e);
            damaged = true;
        } catch (const std::exception&) {
            reason = std::string("cannot decompress into the archive: ") + std::strerror(errno);
        }
        if (!alreadyArchived)
            RemoveQuietly(archived);
        if (ok) {
            archived = BZ2TargetName(archived);
            // A decompressed file that is not kept is never written.
            if (keepNetCdf && !fromArchive)
                keeping = std::async(std::launch::async, [&scan, target = archived, received = received.Modified] {
                    if (WriteFileAtomically(target, {scan.data(), scan.size()}, &received))
                        return std::string();
                    return std::string("cannot decompress into the archive: ") + std::strerror(errno);
                });
        } else if (damaged) {
            FileFailed(path, inIncoming, reason);
        }
    } else if (ok) {
        scan = std::move(received.Data);
    }
    if (singleFile)
        ok = true;
    if (!ok)
        return false;
    ahead.reset();
    startReadAhead(path);
    const auto removeArchived = [&] {
        if (!keepNetCdf && !fs::equivalent(archived, path, ec))
            RemoveQuietly(archived);
    };

    TExtBitmap& composite = composites_.Image(channel);
    try {
        TExtBitmap image;
        PeekMessages();
        std::uint8_t sector = result.Sector;
        // A scan that cannot be read gives nothing to place: nothing is saved or announced
        // from it, and the incoming file stays for another try.
        TScanReport report;
        bool decoded = readScan(archived, scan, image, sector, channel, report);
        if (keeping.valid()) {
            if (std::string failure = keeping.get(); !failure.empty()) {
                reason = failure;
                return false;
            }
        }
        decoded = decoded && reportScan(report);
        if (!decoded || !decodeFailure_.empty() || image.Width() == 0 || image.Height() == 0) {
            reason = decodeFailure_.empty() ? "no samples" : decodeFailure_;
            removeArchived();
            FileFailed(path, inIncoming, reason);
            return false;
        }
        failedCycles_.erase(ExtractFileName(path));
        result.Sector = sector;

        const TSectorPlacement placement = SectorPlacement(sector, image.Width(), image.Height());
        bool skipped = false;
        if (sector == SectorNorthern)
            skipped = !options_.Ticked("IncludeNorth");
        else if (sector == SectorSouthern)
            skipped = !options_.Ticked("IncludeSouth");
        result.Skipped = skipped;
        if (!skipped && sector >= SectorFullDisk && sector <= SectorSouthern) {
            image.Interpolate(placement.NewWidth, image.Height(), -1);
            if (placement.CutTwoColumns)
                image.Crop(0, 0, image.Width() - 2, image.Height());
        }

        if (!skipped) {
            if (options_.Ticked("ClearImages"))
                composite.Fill(CompositeBackground(channel));
            composite.Draw(placement.X, placement.Y, image);
            if (options_.Ticked("MaskImage")) {
                if (PrepareMask)
                    PrepareMask();
                ApplyMask(mask_, composite, channel);
            }
            if (options_.Ticked("Boundaries") && DrawBoundaries) {
                composite.Canvas().Pen.Color = BoundaryColour;
                DrawBoundaries(composite);
            }

            const bool shortNames = options_.Ticked("ShortImageNames");
            const std::string jpegName =
                shortNames ? ShortImageName(imageDirectory, imageTime, channel, ".jpg") : LongImageName(archived, ".jpg");
            const std::string pngName =
                shortNames ? ShortImageName(imageDirectory, imageTime, channel, ".png") : LongImageName(archived, ".png");
            const std::string tifName =
                shortNames ? ShortImageName(imageDirectory, imageTime, channel, ".tif") : LongImageName(archived, ".tif");
            const bool png = options_.Ticked("SaveAsPNG");
            const bool jpeg = options_.Ticked("SaveAsJPEG");
            const bool geoTiff = options_.Ticked("SaveAsGeoTIFF");
            // An image of a format still saved is replaced only by renaming the complete new
            // file over it: the northern and southern scans of a half hour share a name, and
            // a crash or a full disk must not leave neither.
            if (!png)
                RemoveQuietly(pngName);
            if (!jpeg)
                RemoveQuietly(jpegName);
            if (!geoTiff) {
                RemoveQuietly(tifName);
                composites_.Clean[channel] = TExtBitmap();
            }
            const std::string title = FormatDateTime("yyyy-mm-dd hh:nn", imageTime);
            PeekMessages();
            bool allSaved = true;
            // The codecs report a failed write without its cause; the system's error number
            // still holds it.
            const auto save = [&](const std::function<bool()>& write, const std::string& name) {
                errno = 0;
                bool saved = false;
                try {
                    saved = write();
                } catch (const std::exception&) {
                    saved = false;
                }
                if (saved) {
                    SetFileDateTime(name, imageTime);
                    result.SavedFileName = name;
                    if (OnImageSaved)
                        OnImageSaved(channel, name);
                } else {
                    allSaved = false;
                    reason = "cannot write image " + name + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
                }
            };
            if (png)
                save([&] { return SavePNGWithText(composite, pngName, PublisherAddress, PngDescription, PngSoftware, title); },
                     pngName);
            if (jpeg)
                save([&] { return SaveJPEG(composite, jpegName, JpegQuality, false, PublisherAddress); }, jpegName);
            if (geoTiff) {
                const TPlacedScan placed{channel, sector, imageTime, &image, placement.X, placement.Y};
                if (const std::string why = SaveCleanGeoTiff(composites_, options_, placed, tifName); why.empty()) {
                    SetFileDateTime(tifName, imageTime);
                } else {
                    allSaved = false;
                    reason = "cannot write GeoTIFF " + tifName + ": " + why;
                }
            }
            // The incoming file goes only once its images are safe; a full image disk keeps
            // it for the next cycle.
            if (!allSaved) {
                result.SavedFileName.clear();
                removeArchived();
                return false;
            }
            if (!png && !jpeg && !geoTiff)
                reason = "no image format is ticked; the netCDF file is archived";
        }

        removeArchived();
        if (inIncoming)
            RemoveQuietly(path);

        if (!result.SavedFileName.empty()) {
            const TDateTime slot = ImageSlot(imageTime);
            result.SlotTime = slot;
            const int code = ChannelCatalogue[channel].NotifyCode;
            if (code != 0)
                NotifyAnimationProgram(Notifier, code, slot);
        }
        return true;
    } catch (const std::exception& e) {
        reason = e.what();
        return false;
    }
}

void TGoesProduct::ShowSavedImage(std::uint8_t channelIndex, const std::string& savedFileName,
                                  const std::string& hint)
{
    if (!ChannelExists(channelIndex))
        return;
    if (OnThumbnailHint)
        OnThumbnailHint(channelIndex, hint);
    LoadSavedImage(composites_.Image(channelIndex), savedFileName);
}

TDateTime ImageSlot(TDateTime imageTime)
{
    return static_cast<TDateTime>(std::trunc((static_cast<long double>(imageTime) + 1.0L / 210.0L) * 48.0L) / 48.0L);
}
