#include "product/GoesProduct.h"

#include <bzlib.h>

#include <algorithm>
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
#include "product/composite/ChannelCatalogue.h"
#include "product/DiskGuard.h"
#include "product/outputs/ImageKinds.h"
#include "product/outputs/ImageLegend.h"
#include "netcdf/Sector.h"
#include "product/EventPump.h"
#include "base/DateTime.h"
#include "bzip2/BZ2Parallel.h"
#include "bzip2/BZ2files.h"
#include "bzip2/BZip2.h"
#include "imaging/Canvas.h"
#include "base/Files.h"
#include "base/PartialFile.h"
#include "netcdf/NetCdfG15.h"
#include "settings/ProgramPaths.h"
#include "base/Text.h"

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t MinimumFileSize = 20000;
constexpr const char* StillWritten = "still being written, left for the next cycle";
constexpr TColor BoundaryColour = 0xA0A0A0;

void RemoveQuietly(const std::string& path)
{
    std::error_code ec;
    fs::remove(path, ec);
}

// A file its writer has not finished is no failure: it waits for a later cycle.
void LeaveWaiting(TGoesFileResult& result)
{
    result.FailureReason = StillWritten;
    result.Fate = TFileFate::Waiting;
}

} // namespace

TGoesProduct::TGoesProduct(TProcessingOptions& options, TComposites& composites, const TExtBitmap& mask)
    : options_(options), composites_(composites), mask_(mask)
{
}

void TGoesProduct::UseSettings(const TStationSettings& settings)
{
    settingsHanded_ = true;
    settings_ = settings;
    outputs_ = ImageOutputs(settings_, composites_);
}

const TStationSettings& TGoesProduct::Settings()
{
    if (!settingsHanded_)
        settings_ = StationSettings(options_);
    return settings_;
}

bool TGoesProduct::DecodeGoesFile(const std::string& path, TExtBitmap& image, std::uint8_t& sector,
                                  std::uint8_t channel)
{
    Settings();
    TScanJob job;
    job.Path = path;
    job.ReadPath = path;
    job.Gamma = Gamma();
    job.Channel = channel;
    TDecodedScan decoded = DecodeScanContained(job, DecoderLimits);
    TScanReport report;
    if (!readScan(decoded, image, sector, report))
        return false;
    return reportScan(report);
}

float TGoesProduct::Gamma() const { return settings_.Gamma(); }

void TGoesProduct::LogOnce(const std::string& line)
{
    if (logged_.insert(line).second && OnLogLine)
        OnLogLine(line);
}

std::optional<TColourTable> TGoesProduct::ColourTableFor(std::uint8_t channel)
{
    std::string why;
    std::optional<TColourTable> table = ChannelColourTable(settings_, channel, &why);
    if (!why.empty())
        LogOnce("Colour table " + why + "; grey images only");
    return table;
}

bool TGoesProduct::readScan(TDecodedScan& decoded, TExtBitmap& image, std::uint8_t& sector, TScanReport& report)
{
    decodeFailure_ = decoded.WorkerFailure.empty() ? decoded.DecodeFailure : decoded.WorkerFailure;
    report.Channel = decoded.Channel;
    if (!decoded.Read)
        return false;
    image = std::move(decoded.Image);
    sector = decoded.Sector;
    report.Details = decoded.Details;
    return true;
}

bool TGoesProduct::reportScan(const TScanReport& report)
{
    try {
        const std::string& details = report.Details;
        const std::string head = details.substr(0, details.find("details:"));
        if (OnStatusText)
            OnStatusText("Processed  " + head + ", " + std::string(ChannelInfo(report.Channel).ChannelDescription));
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
    // The next file's worker is started from a thread of its own while this one goes on,
    // which a sanitizer build's allocator does not survive (see WorkersMayStartFromThreads).
    if (NextFile.empty() || NextFile == current || (SingleFileMode && SingleFileMode()) || !WorkersMayStartFromThreads)
        return;
    takeReadAhead({});
    std::uint8_t channel = UnknownChannel;
    TDateTime imageTime = 0;
    ParseScanFileName(NextFile, channel, imageTime, settings_.AbiImageMinutes);
    TScanJob job;
    job.Path = NextFile;
    job.Compressed = HasBZ2Extension(NextFile);
    job.KeepContent = settings_.SaveAsNetCDF;
    job.Place = true;
    job.Gamma = Gamma();
    job.Channel = channel;
    readAhead_ = StartBehindUser([job, limits = DecoderLimits]() mutable {
        TReadAhead ahead;
        ahead.Path = job.Path;
        if (!ReadFileContent(job.Path, ahead.Content, MaxKeptContent))
            return ahead;
        job.Bytes = ahead.Content.Data;
        ahead.Job = job;
        ahead.Decoded = DecodeScanContained(job, limits);
        return ahead;
    });
}

std::optional<TGoesProduct::TReadAhead> TGoesProduct::takeReadAhead(const std::string& path)
{
    if (!readAhead_.valid())
        return std::nullopt;
    WaitPumping(readAhead_);
    TReadAhead ahead = readAhead_.get();
    if (ahead.Path != path || ahead.Content.Data.empty())
        return std::nullopt;
    return ahead;
}

std::string TGoesProduct::UseStrikeJournal(const std::string& path)
{
    journal_ = TStrikeJournal(path);
    std::string problem = journal_.Load();
    journal_.RecordCrashes();
    return problem;
}

std::string TGoesProduct::FailedDirectory() const { return settings_.FailedPath; }

TAbiProjection TGoesProduct::AbiProjection(int satellite) const
{
    const int slot = satellite - AbiFirstSatellite;
    if (slot < 0 || slot >= AbiSatelliteCount)
        return {};
    if (const auto& seen = abiSeen_[static_cast<std::size_t>(slot)])
        return *seen;
    TAbiProjection nominal;
    nominal.SubLongitude = AbiNominalLongitude(satellite);
    return nominal;
}

bool TGoesProduct::ProcessGoesFile(const std::string& path, TGoesFileResult& result)
{
    // Failed unless a stage says otherwise.
    result.Fate = TFileFate::Failed;
    const bool ok = runStages(path, result);
    if (ok)
        result.Fate = TFileFate::Finished;
    return ok;
}

// One file on its way through the stages: what a stage learns, the later ones use. A stage
// that stops the file says why in Reason (the result's failure reason).
struct TGoesProduct::TFileInHand {
    TFileInHand(const std::string& path, TGoesFileResult& result)
        : Path(path), Result(result), Reason(result.FailureReason)
    {
    }
    const std::string& Path;
    TGoesFileResult& Result;
    std::string& Reason;
    std::optional<TReadAhead> Ahead;
    bool SingleFile = false;
    // Only what lies in the incoming directory is ours to remove: a file named on the command
    // line may be an operator's own copy, or the archive's only one.
    bool InIncoming = false;
    std::uint8_t Channel = UnknownChannel;
    TDateTime ImageTime = 0;
    std::uint64_t Size = 0;
    // The scan in the dated raw archive: first as received, then decompressed.
    std::string Archived;
    bool ArchiveWritten = false;  // or the run of one file goes on without it
    bool AlreadyArchived = false;
    bool FromArchive = false;  // read from the archived copy, not from memory
    bool KeepNetCdf = false;
    TFileContent Received;
    TScanJob Job;
    TDecodedScan Decoded;
    TExtBitmap Image;  // the scan, then as placed into the composite
    std::uint8_t Sector = 0;
    TSectorPlacement Placement;
};

void TGoesProduct::PutAside(TFileInHand& file)
{
    const std::string& path = file.Path;
    std::string& reason = file.Reason;
    const std::string directory = FailedDirectory();
    // An earlier file of the same name put aside stays: the new one takes the next free suffix.
    std::string target = directory + ExtractFileName(path);
    std::error_code ec;
    for (int n = 1; fs::exists(fs::symlink_status(target, ec)) && n < 1000; ++n)
        target = directory + ExtractFileName(path) + "." + std::to_string(n);
    if (const std::string room = MoveRoomProblem(settings_, path, directory); !room.empty()) {
        reason += "; not moved to " + directory + ": " + room;
    } else if (ForceDirectories(directory) && MoveFileReplacing(path, target)) {
        reason += "; moved to " + directory;
        file.Result.Fate = TFileFate::PutAside;
    } else {
        reason += "; could not be moved to " + directory + ": " + std::strerror(errno);
    }
}

void TGoesProduct::FileFailed(TFileInHand& file)
{
    if (!file.InIncoming)
        return;
    // A file the receiver is still writing fails for want of its end: that is waiting, not a
    // fault of the file.
    if (ModifiedWithin(file.Path, SettledAfterMs)) {
        LeaveWaiting(file.Result);
        return;
    }
    if (journal_.Strike(file.Path, file.Reason, Clock()) < FailedCyclesAllowed)
        return;
    journal_.Forget(file.Path);
    PutAside(file);
}

bool TGoesProduct::runStages(const std::string& path, TGoesFileResult& result)
{
    result.SavedFileName.clear();
    result.Skipped = false;
    result.SlotTime = 0;
    result.FailureReason.clear();
    result.Quality.reset();
    if (!settingsHanded_)
        outputs_ = ImageOutputs(Settings(), composites_);
    TFileInHand file(path, result);
    // Read ahead while the previous file was finished; its reading thread is done with the
    // file (which must not look in use to us) before anything is decided about it.
    file.Ahead = takeReadAhead(path);
    if (!accept(file))
        return false;
    // A file that took the station down while in hand as often as others fail is not handed to
    // the decoders again.
    if (file.InIncoming && journal_.Strikes(path) >= FailedCyclesAllowed) {
        file.Reason = journal_.LastReason(path);
        journal_.Forget(path);
        PutAside(file);
        journal_.Released();
        return false;
    }
    // Recorded before the decoders see it, and released whatever comes of it.
    if (file.InIncoming)
        journal_.InHand(path);
    const std::unique_ptr<TStrikeJournal, void (*)(TStrikeJournal*)> release(
        file.InIncoming ? &journal_ : nullptr, [](TStrikeJournal* journal) { journal->Released(); });

    if (!archive(file) || !decode(file) || !knowBand(file))
        return false;
    TExtBitmap& composite = composites_.Image(file.Channel);
    try {
        if (!readImage(file))
            return false;
        if (!file.Result.Skipped) {
            place(file, composite);
            const std::optional<TColourTable> colourTable = ColourTableFor(file.Channel);
            const std::optional<TExtBitmap> beforeLines = drawLines(
                composite, colourTable.has_value(), file.Decoded.Abi ? &file.Decoded.Projection : nullptr);
            if (!save(file, composite, colourTable ? &*colourTable : nullptr, beforeLines ? &*beforeLines : nullptr))
                return false;
        }
        cleanUp(file);
        announce(file);
        return true;
    } catch (const std::exception& e) {
        file.Reason = e.what();
        return false;
    }
}

bool TGoesProduct::accept(TFileInHand& file)
{
    const std::string& path = file.Path;
    std::string& reason = file.Reason;
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        reason = "no such file";
        return false;
    }
    file.SingleFile = SingleFileMode && SingleFileMode();
    file.InIncoming = LiesIn(path, settings_.SourcePath);

    // A file still being written is left alone before anything else is decided about it: at
    // that moment it may still be empty, or not yet renamed to its final name.
    PeekMessages();
    // Another user's file takes no lease from us; the watch still sees it written to.
    const auto inUse = [&] { return IsFileInUse(path) || (BeingWritten && BeingWritten(path)); };
    if (!file.SingleFile && inUse()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(InUseWaitMs));
        if (inUse()) {
            LeaveWaiting(file.Result);
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
    // A name without a band digit leaves the band to the file itself.
    const bool named = ParseScanFileName(path, file.Channel, file.ImageTime, settings_.AbiImageMinutes) &&
                       (file.Channel == UnknownChannel || KnownChannel(file.Channel));
    // A file larger than any real scan would fill the archive's disk at every try.
    const bool oversized = static_cast<std::uint64_t>(*size) > MaxIncomingFileSize;
    if (*size < MinimumFileSize || !named || oversized) {
        if (!file.SingleFile && ModifiedWithin(path, SettledAfterMs)) {
            LeaveWaiting(file.Result);
            return false;
        }
        // An ABI name says what in it cannot be (a satellite, a band, a day that does not exist).
        const std::string abiProblem =
            LowerCase(ExtractFileName(path)).rfind("or_abi-", 0) == 0 ? AbiNameProblem(path) : "";
        reason = !named ? "file name not understood" + (abiProblem.empty() ? "" : " (" + abiProblem + ")")
                 : oversized
                     ? "larger than " + std::to_string(WholeMB(MaxIncomingFileSize)) + " MB, more than any real scan"
                     : "smaller than " + std::to_string(MinimumFileSize) + " bytes";
        if (file.InIncoming)
            PutAside(file);
        return false;
    }
    file.Size = static_cast<std::uint64_t>(*size);
    // A try never fills a disk: without the room the file needs it waits where it is.
    if (std::string room = FileRoomProblem(settings_, path, file.Size); !room.empty()) {
        reason = std::move(room);
        return false;
    }
    if (file.Channel != UnknownChannel)
        file.Result.ChannelIndex = file.Channel;
    file.Result.ImageTime = file.ImageTime;
    file.Result.SlotTime = file.ImageTime;
    return true;
}

bool TGoesProduct::archive(TFileInHand& file)
{
    const std::string rawDirectory = DatedDirectory(settings_.NetCDFPath, file.ImageTime);
    const std::string imageDirectory = DatedDirectory(settings_.SavePath, file.ImageTime);
    if (!ImagesOnly || !settings_.ShortImageNames)
        ForceDirectories(rawDirectory);
    ForceDirectories(imageDirectory);
    file.Archived = rawDirectory + ExtractFileName(file.Path);
    // The file named on the command line may be the archived copy itself; a reprocessed one
    // counts as archived where it lies.
    std::error_code ec;
    file.AlreadyArchived = ImagesOnly || fs::equivalent(file.Path, file.Archived, ec);
    // The incoming file is read once: its bytes are archived, then decompressed and decoded
    // in memory.
    if (file.Ahead)
        file.Received = std::move(file.Ahead->Content);
    file.ArchiveWritten = file.AlreadyArchived || CopyFileAtomically(file.Path, file.Archived, file.Received);
    if (!file.ArchiveWritten) {
        file.Reason = std::string("cannot archive: ") + std::strerror(errno);
        // The run of one file goes on without its archived copy.
        if (!file.SingleFile)
            return false;
    }
    // A file too large to hold is read from its archived copy instead.
    file.FromArchive = file.AlreadyArchived || !file.Received.Kept;
    file.KeepNetCdf = settings_.SaveAsNetCDF && !ImagesOnly;
    return true;
}

bool TGoesProduct::decode(TFileInHand& file)
{
    const bool compressed = HasBZ2Extension(file.Archived);
    TScanJob& job = file.Job;
    job.Path = compressed ? BZ2TargetName(file.Archived) : file.Archived;
    job.ReadPath = file.ArchiveWritten && !ImagesOnly ? file.Archived : file.Path;
    if (!file.FromArchive)
        job.Bytes = file.Received.Data;
    job.Compressed = compressed;
    job.KeepContent = file.KeepNetCdf;
    job.Place = true;
    job.Gamma = Gamma();
    job.Channel = file.Channel;
    PeekMessages();
    // What was read ahead serves only while the file, and what its decoding depended on, is
    // still the same.
    const std::optional<TReadAhead>& ahead = file.Ahead;
    const bool aheadServes = ahead && file.Received.ReadBefore && ahead->Job.Compressed == job.Compressed &&
                             ahead->Job.KeepContent == job.KeepContent && ahead->Job.Gamma == job.Gamma &&
                             ahead->Job.Channel == job.Channel;
    // The first file's mask, and its channel's composite restored from the last saved image,
    // are decoded here while the worker decodes its scan, instead of after it; the window
    // answers its user meanwhile.
    const auto prepare = [this, channel = file.Channel] {
        if (masksImages())
            PrepareMask();
        if (KnownChannel(channel))
            composites_.Prepare(channel);
    };
    TDecodedScan& decoded = file.Decoded;
    // While a worker has the bytes, a stop of the station is not the file's doing.
    const bool inWorker = !aheadServes && file.InIncoming;
    if (inWorker)
        journal_.Decoding(true);
    if (aheadServes) {
        decoded = std::move(file.Ahead->Decoded);
    } else if (!WaitAnswersUser()) {
        // Started from this thread, which prepares the mask while the worker decodes: a worker
        // started from a thread of its own would race this thread's allocations, which a
        // sanitizer build's allocator does not survive.
        decoded = DecodeScanContained(job, DecoderLimits, prepare);
    } else {
        // The job goes along as a copy: the worker is forked from that thread, and in a
        // forked process the stacks of the other threads are free memory that the worker's
        // own threads may take over.
        auto pending = StartBehindUser([job, limits = DecoderLimits] { return DecodeScanContained(job, limits); });
        // The mask too is decoded away from the window's thread; nothing reads it until the
        // scan is placed, after both waits.
        if (masksImages()) {
            auto mask = StartBehindUser(PrepareMask);
            WaitPumping(mask);
            mask.get();
        }
        WaitPumping(pending);
        decoded = pending.get();
    }
    if (inWorker)
        journal_.Decoding(false);
    file.Ahead.reset();
    startReadAhead(file.Path);

    std::string& reason = file.Reason;
    if (!decoded.WorkerFailure.empty()) {
        reason = decoded.WorkerFailure;
        if (file.ArchiveWritten && !file.AlreadyArchived)
            RemoveQuietly(file.Archived);
        FileFailed(file);
        return false;
    }
    return !job.Compressed || keepDecompressed(file);
}

bool TGoesProduct::keepDecompressed(TFileInHand& file)
{
    TDecodedScan& decoded = file.Decoded;
    const TScanJob& job = file.Job;
    std::string failure = decoded.DecompressionFailure;
    // The decompressed file is written only when kept, or to leave an empty content's
    // empty file behind.
    try {
        if (decoded.Decompressed && file.KeepNetCdf) {
            if (file.FromArchive)
                WriteDecompressedContent(file.Archived, decoded.Content);
            else if (!WriteFileAtomically(job.Path, {decoded.Content.data(), decoded.Content.size()},
                                          &file.Received.Modified))
                throw std::runtime_error("write");
        } else if (decoded.EmptyContent && !ImagesOnly) {
            TPartialFile(job.Path).commit();
        }
    } catch (const std::exception&) {
        failure = std::string("cannot decompress into the archive: ") + std::strerror(errno);
        decoded.Decompressed = false;
        decoded.Damaged = false;
    }
    if (file.ArchiveWritten && !file.AlreadyArchived)
        RemoveQuietly(file.Archived);
    if (!decoded.Decompressed) {
        file.Reason = failure;
        if (decoded.Damaged)
            FileFailed(file);
        return false;
    }
    file.Archived = job.Path;
    return true;
}

bool TGoesProduct::masksImages() const { return settings_.MaskImage && PrepareMask; }

void TGoesProduct::removeArchived(const TFileInHand& file)
{
    std::error_code ec;
    if (!file.KeepNetCdf && !ImagesOnly && !fs::equivalent(file.Archived, file.Path, ec))
        RemoveQuietly(file.Archived);
}

bool TGoesProduct::knowBand(TFileInHand& file)
{
    if (file.Decoded.BandUnknown) {
        file.Reason = file.Decoded.DecodeFailure;
        removeArchived(file);
        if (file.InIncoming)
            PutAside(file);
        return false;
    }
    file.Channel = file.Decoded.Channel;
    file.Result.ChannelIndex = file.Channel;
    return true;
}

bool TGoesProduct::readImage(TFileInHand& file)
{
    PeekMessages();
    file.Sector = file.Result.Sector;
    // A scan that cannot be read gives nothing to place: nothing is saved or announced
    // from it, and the incoming file stays for another try.
    TScanReport report;
    bool read = readScan(file.Decoded, file.Image, file.Sector, report);
    read = read && reportScan(report);
    if (!read || !decodeFailure_.empty() || file.Image.Width() == 0 || file.Image.Height() == 0) {
        file.Reason = decodeFailure_.empty() ? "no samples" : decodeFailure_;
        removeArchived(file);
        FileFailed(file);
        return false;
    }
    journal_.Forget(file.Path);
    file.Result.Sector = file.Sector;
    if (file.Decoded.Abi) {
        file.Result.Quality = file.Decoded.Quality;
        abiSeen_[static_cast<std::size_t>(AbiSatelliteOf(file.Channel) - AbiFirstSatellite)] = file.Decoded.Projection;
        // Placed by its own coordinates on the fixed grid; only the bands asked for are drawn.
        file.Placement = {file.Image.Width(), file.Decoded.X, file.Decoded.Y, false};
        file.Result.Skipped = !settings_.KeepsAbiBand(AbiBandOf(file.Channel));
        return true;
    }
    // A scan placed by its worker already has its width in the composite.
    const int scanWidth = file.Decoded.Placed ? file.Decoded.ScanWidth : file.Image.Width();
    file.Placement = SectorPlacement(file.Sector, scanWidth, file.Image.Height());
    if (file.Sector == SectorNorthern)
        file.Result.Skipped = !settings_.IncludeNorth;
    else if (file.Sector == SectorSouthern)
        file.Result.Skipped = !settings_.IncludeSouth;
    return true;
}

void TGoesProduct::place(TFileInHand& file, TExtBitmap& composite)
{
    TExtBitmap& image = file.Image;
    const TSectorPlacement& placement = file.Placement;
    if (file.Sector >= SectorFullDisk && file.Sector <= SectorSouthern) {
        RunPumping([&] {
            if (!file.Decoded.Placed)
                image.Interpolate(placement.NewWidth, image.Height(), -1);
            if (placement.CutTwoColumns)
                image.Crop(0, 0, image.Width() - 2, image.Height());
        });
    }
    const bool clear = settings_.ClearImages, masked = settings_.MaskImage;
    if (masksImages())
        PrepareMask();
    const std::uint8_t channel = file.Channel;
    const TExtBitmap* mask = maskOf(file);
    const TExtBitmap* valid = file.Decoded.Abi ? &file.Decoded.Valid : nullptr;
    ChangePumping(composite, [&](TExtBitmap& placed) {
        PlaceScan(placed, image, placement.X, placement.Y, channel, clear, masked ? mask : nullptr, valid);
        return true;
    });
}

const TExtBitmap* TGoesProduct::maskOf(const TFileInHand& file) const
{
    if (!settings_.MaskImage)
        return nullptr;
    return file.Decoded.Abi ? &AbiMask(file.Decoded.Projection) : &mask_;
}

std::optional<TExtBitmap> TGoesProduct::drawLines(TExtBitmap& composite, bool coloured, const TAbiProjection* abi)
{
    const bool boundaries = settings_.Boundaries && DrawBoundaries;
    // The colour image keeps the drawn lines grey: they are found against the composite as
    // it was before them.
    std::optional<TExtBitmap> beforeLines;
    if (coloured && boundaries)
        beforeLines = composite;
    if (boundaries) {
        composite.Canvas().Pen.Color = BoundaryColour;
        DrawBoundaries(composite, abi);
    }
    return beforeLines;
}

bool TGoesProduct::save(TFileInHand& file, const TExtBitmap& composite, const TColourTable* colourTable,
                        const TExtBitmap* beforeLines)
{
    const std::uint8_t channel = file.Channel;
    TGoesFileResult& result = file.Result;
    TImageToSave image;
    image.Channel = channel;
    image.Sector = file.Sector;
    image.ImageTime = file.ImageTime;
    image.Composite = &composite;
    image.ColourTable = colourTable;
    image.BeforeLines = beforeLines;
    image.Placed = {channel,
                    file.Sector,
                    file.ImageTime,
                    &file.Image,
                    file.Placement.X,
                    file.Placement.Y,
                    maskOf(file),
                    file.Decoded.Abi ? &file.Decoded.Valid : nullptr,
                    file.Decoded.Abi ? &file.Decoded.Projection : nullptr};
    const auto nameOf = [&](const TImageKind& kind) {
        const std::string name =
            ImageName(settings_, file.Archived, file.ImageTime, channel, std::string(kind.Extension).c_str());
        return kind.Colour ? ColourImageName(name) : name;
    };
    // A kind no longer made goes. An image of a kind still made is replaced only by renaming
    // the complete new file over it: the northern and southern scans of a half hour share a
    // name, and a crash or a full disk must not leave neither.
    std::vector<TImageOutput*> writing;
    for (const TImageKind& kind : ImageKinds) {
        const auto output =
            std::find_if(outputs_.begin(), outputs_.end(), [&](const auto& o) { return &o->Kind == &kind; });
        if (output != outputs_.end() && (*output)->Writes(image))
            writing.push_back(output->get());
        else
            RemoveQuietly(nameOf(kind));
    }
    if (!settings_.SaveAsGeoTIFF)
        composites_.Clean[channel] = TExtBitmap();
    PeekMessages();
    TImagePictures pictures(image, settings_.ImageStamp ? LegendText(file.ImageTime, file.Sector, channel) : "",
                            [this](const std::string& line) { LogOnce(line); });
    // Encoded away from the window's thread.
    pictures.Encode = [](const std::function<bool()>& encode) { return RunPumping(encode); };
    bool allSaved = true;
    for (TImageOutput* output : writing) {
        const std::string name = nameOf(output->Kind);
        if (std::string why = output->Write(pictures, name); !why.empty()) {
            file.Reason = std::move(why);
            allSaved = false;
            continue;
        }
        SetFileDateTime(name, file.ImageTime);
        // Every image is said to the listeners; the channel's saved image is the one a restart
        // goes on from.
        if (IsRestartImage(settings_, name))
            result.SavedFileName = name;
        if (OnImageSaved)
            OnImageSaved(channel, name);
    }
    // The incoming file goes only once its images are safe; a full image disk keeps it for
    // the next cycle.
    if (!allSaved) {
        result.SavedFileName.clear();
        removeArchived(file);
        return false;
    }
    if (outputs_.empty())
        file.Reason = "no image format is ticked; the netCDF file is archived";
    return true;
}

void TGoesProduct::cleanUp(TFileInHand& file)
{
    removeArchived(file);
    if (file.InIncoming)
        RemoveIfUnchanged(file.Path, file.Received.Status);
}

void TGoesProduct::announce(TFileInHand& file)
{
    if (file.Result.SavedFileName.empty())
        return;
    // An ABI file's image time is already its slot's start.
    const TDateTime slot = IsAbiChannel(file.Channel) ? file.ImageTime : ImageSlot(file.ImageTime);
    file.Result.SlotTime = slot;
    const int code = ChannelInfo(file.Channel).NotifyCode;
    if (code != 0)
        NotifyAnimationProgram(Notifier, code, slot);
}

void TGoesProduct::ShowSavedImage(std::uint8_t channelIndex, const std::string& savedFileName,
                                  const std::string& hint)
{
    if (!KnownChannel(channelIndex))
        return;
    if (OnThumbnailHint)
        OnThumbnailHint(channelIndex, hint);
    // A GeoTIFF has no picture to read back: it continues the clean copy only.
    if (!ReadsBackSavedImages || !IsGreyPictureName(savedFileName))
        return;
    ChangePumping(composites_.Image(channelIndex),
                  [&](TExtBitmap& composite) { return LoadSavedImage(composite, savedFileName); });
}
