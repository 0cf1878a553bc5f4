#include "app/GoesProduct.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Version.h"
#include "app/ChannelCatalogue.h"
#include "app/Publisher.h"
#include "app/SectorPlacement.h"
#include "app/Utils.h"
#include "imaging/BZ2files.h"
#include "imaging/Canvas.h"
#include "imaging/JPEG_IO.h"
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

// Appends one line to a text file, creating it when missing.
void AppendLine(const std::string& path, const std::string& line)
{
    std::ofstream out(path, std::ios::app | std::ios::binary);
    out << line << "\n";
}

}  // namespace

std::string DatedDirectory(const std::string& root, TDateTime imageTime)
{
    return root + FormatDateTime("yyyy/mm/dd/", imageTime);
}

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

bool TGoesProduct::DecodeGoesFile(const std::string& path, TExtBitmap& image, std::uint8_t& sector)
{
    std::uint8_t channel = 0;
    TDateTime imageTime = 0;
    if (!ParseGoesFileName(path, channel, imageTime))
        return false;
    try {
        TNetCdfGoes15 reader;
        reader.Open(path);
        reader.ReadHeader();
        reader.MakeBitmap(&image, options_.Ticked("GammaVisual") ? 1.8f : 1.0f);
        sector = reader.Sector;

        const std::string details =
            DetailsLine(imageTime, reader.Sector, channel, static_cast<int>(reader.Width),
                        reader.GetElementResolution(), reader.StartElement, static_cast<int>(reader.Height),
                        reader.GetLineResolution(), reader.StartLine);
        const std::string head = details.substr(0, details.find("details:"));
        if (OnStatusText)
            OnStatusText("Processed  " + head + ", " + std::string(ChannelCatalogue[channel].ChannelDescription));
        if (OnCaption)
            OnCaption(std::string("Orvanta V") + ORVANTA_FILE_VERSION + " from Quillon, Brackmoor  -  " + head);
        if (channel == 3 && !GeoLogPath.empty())
            AppendLine(GeoLogPath, details);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool TGoesProduct::ProcessGoesFile(const std::string& path, TGoesFileResult& result)
{
    result.SavedFileName.clear();
    result.Skipped = false;
    result.SlotTime = 0;

    std::error_code ec;
    if (!fs::exists(path, ec))
        return false;

    // A file whose size cannot be measured is left alone: it may be one we may not read yet,
    // and it is never deleted unread.
    const std::optional<std::int64_t> size = FileSizeOf(path);
    if (!size)
        return false;
    std::uint8_t channel = result.ChannelIndex;
    TDateTime imageTime = 0;
    if (*size < MinimumFileSize || !ParseGoesFileName(path, channel, imageTime) || !ChannelExists(channel)) {
        RemoveQuietly(path);
        return false;
    }
    result.ChannelIndex = channel;
    result.ImageTime = imageTime;
    result.SlotTime = imageTime;

    PeekMessages();
    const bool singleFile = SingleFileMode && SingleFileMode();
    if (!singleFile && IsFileInUse(path)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(InUseWaitMs));
        if (IsFileInUse(path))
            return false;
    }

    const std::string rawDirectory = DatedDirectory(options_.NetCDFPath(), imageTime);
    const std::string imageDirectory = DatedDirectory(options_.SavePath(), imageTime);
    ForceDirectories(rawDirectory);
    ForceDirectories(imageDirectory);
    std::string archived = rawDirectory + ExtractFileName(path);
    bool ok = CopyFileAtomically(path, archived);

    if (HasExtension(archived, ".BZ2")) {
        ok = false;
        PeekMessages();
        bool decompressed = false;
        if (fs::exists(archived, ec)) {
            try {
                decompressed = DecompressBZ2File(archived);
            } catch (const std::exception&) {
                decompressed = false;
            }
        }
        RemoveQuietly(archived);
        if (decompressed) {
            archived = BZ2TargetName(archived);
            ok = true;
        }
    }
    if (singleFile)
        ok = true;
    if (!ok)
        return false;

    TExtBitmap& composite = composites_.Images[channel];
    try {
        TExtBitmap image;
        PeekMessages();
        std::uint8_t sector = result.Sector;
        // A scan that cannot be read gives nothing to place: nothing is saved or announced
        // from it, and the incoming file stays for another try.
        if (!DecodeGoesFile(archived, image, sector) || image.Width() == 0 || image.Height() == 0) {
            if (!options_.Ticked("SaveAsNetCDF") && archived != path)
                RemoveQuietly(archived);
            return false;
        }
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
            if (options_.Ticked("MaskImage"))
                ApplyMask(mask_, composite, channel);
            if (options_.Ticked("Boundaries") && DrawBoundaries) {
                composite.Canvas().Pen.Color = BoundaryColour;
                DrawBoundaries(composite);
            }

            const bool shortNames = options_.Ticked("ShortImageNames");
            const std::string jpegName =
                shortNames ? ShortImageName(imageDirectory, imageTime, channel, ".jpg") : LongImageName(archived, ".jpg");
            const std::string pngName =
                shortNames ? ShortImageName(imageDirectory, imageTime, channel, ".png") : LongImageName(archived, ".png");
            RemoveQuietly(jpegName);
            RemoveQuietly(pngName);
            const std::string title = FormatDateTime("yyyy-mm-dd hh:nn", imageTime);
            PeekMessages();
            if (options_.Ticked("SaveAsPNG") &&
                SavePNGWithText(composite, pngName, PublisherAddress, PngDescription, PngSoftware, title)) {
                SetFileDateTime(pngName, imageTime);
                result.SavedFileName = pngName;
            }
            if (options_.Ticked("SaveAsJPEG") && SaveJPEG(composite, jpegName, JpegQuality, false, PublisherAddress)) {
                SetFileDateTime(jpegName, imageTime);
                result.SavedFileName = jpegName;
            }
        }

        if (!options_.Ticked("SaveAsNetCDF") && archived != path)
            RemoveQuietly(archived);
        RemoveQuietly(path);

        if (!result.SavedFileName.empty()) {
            const TDateTime slot = std::trunc((static_cast<long double>(imageTime) + 1.0L / 210.0L) * 48.0L) / 48.0L;
            result.SlotTime = slot;
            const int code = ChannelCatalogue[channel].NotifyCode;
            if (code != 0)
                NotifyAnimationProgram(Notifier, code, slot);
        }
        return true;
    } catch (const std::exception&) {
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
    LoadSavedImage(composites_.Images[channelIndex], savedFileName);
}
