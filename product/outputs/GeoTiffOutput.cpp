#include "product/outputs/GeoTiffOutput.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <vector>

#include "product/composite/ChannelCatalogue.h"
#include "product/outputs/ImageKinds.h"
#include "base/Files.h"
#include "settings/ProgramPaths.h"
#include "geotiff/GeoTiffFile.h"
#include "mapping/AbiGrid.h"
#include "mapping/CompositeLayout.h"
#include "mapping/DiscMask.h"
#include "mapping/GeostationaryView.h"
#include "mapping/SegmentStuff.h"
#include "netcdf/NetCdfG15.h"
#include "netcdf/Sector.h"

namespace {

TExtBitmap& CleanCopy(TComposites& composites, std::uint8_t channel)
{
    TExtBitmap& clean = composites.Clean[channel];
    if (!HasCompositeSize(clean, channel))
        MakeBlankComposite(clean, channel);
    return clean;
}

} // namespace

std::string SaveCleanGeoTiff(TComposites& composites, const TStationSettings& settings, const TPlacedScan& scan,
                             const std::string& name)
{
    // Worked out for every file, next to nothing beside writing it: it follows SatelliteLongitude,
    // or the ABI file's own projection.
    const TGeostationaryView view =
        scan.Abi ? AbiGeostationaryView(*scan.Abi)
                 : GeostationaryView(CompositeMappingAt(settings.SatelliteLongitude)).value_or(TGeostationaryView());
    const std::vector<TDiscRun>& disc = scan.Abi ? AbiDisc(*scan.Abi) : CompositeDiscRuns();
    if (view.SatelliteHeight <= 0)
        return "the composite's mapping has no geostationary description";
    // Placed as the drawn composite was, only without the lines.
    PlaceScan(CleanCopy(composites, scan.Channel), *scan.Image, scan.X, scan.Y, scan.Channel, settings.ClearImages,
              scan.Mask, scan.Valid);
    TExtBitmap& clean = composites.Clean[scan.Channel];

    const TChannelInfo& info = ChannelInfo(scan.Channel);
    // An ABI band's greys mean what those of the GOES-15 channel nearest to it mean.
    const std::uint8_t nearest = NearestGoes15Channel(scan.Channel);
    const int band = nearest + 1;
    const std::string satellite = SatelliteName(scan.Channel);
    const std::string instrument = IsAbiChannel(scan.Channel) ? " ABI band " : " imager band ";
    const std::string wavelength = std::string(info.Wavelength) + " \xC2\xB5m";
    // The visible band's counts follow the gamma the scan was calibrated with.
    const float gamma = settings.Gamma();
    TGeoTiffContent content;
    content.Image = &clean;
    content.View = view;
    content.Valid = &disc;
    content.Metadata = {
        {"TIFFTAG_DATETIME", FormatDateTime("yyyy:mm:dd hh:nn:ss", scan.ImageTime)},
        {"TIFFTAG_SOFTWARE", ProgramNameAndVersion()},
        {"TIFFTAG_IMAGEDESCRIPTION", satellite + instrument + std::string(info.ChannelDigit) + ", " + wavelength +
                                         ", composite of " + FormatDateTime("yyyy-mm-dd hh:nn", scan.ImageTime) +
                                         " UTC"},
        {"IMAGE_TIME", FormatDateTime("yyyy-mm-ddThh:nn:ss", scan.ImageTime) + "Z"},
        {"SATELLITE", satellite},
        {"BAND", std::string(info.ChannelDigit)},
        {"WAVELENGTH", wavelength},
        {"BAND_DESCRIPTION", wavelength + " " + std::string(info.ChannelHint.substr(info.ChannelHint.rfind("  ") + 2))},
        {"SECTOR", SectorWords(scan.Sector)},
        {"GREY_MEANING", GreyMeaning(band, gamma, CompositeBackground(nearest))},
    };
    return WriteGeoTiff(name, content);
}

std::string GeoTiffBeside(const std::string& savedImage)
{
    return std::filesystem::path(savedImage).replace_extension(".tif").string();
}

void RestoreCleanComposite(TComposites& composites, std::uint8_t channel, const std::string& savedImage,
                           const std::string& imageRoot, const std::function<void(const std::string&)>& notRestored)
{
    const std::string file = GeoTiffBeside(savedImage);
    std::string why;
    std::error_code ec;
    TExtBitmap& clean = CleanCopy(composites, channel);
    if (!std::filesystem::exists(file, ec))
        why = "no such file";
    else if (ReadGeoTiffGrey(file, clean, why))
        return;
    // A kill between the image and its GeoTIFF, a disk full during the GeoTIFF or retention
    // took it: the chain goes on from the channel's newest GeoTIFF up to the image's time
    // instead of from nothing, which every later GeoTIFF would show.
    const TDateTime notAfter = GetFileDateTime(savedImage).value_or(UtcNow());
    const std::string newest = NewestImageInTree(imageRoot, channel, {".tif"}, notAfter);
    if (std::string newestWhy; !newest.empty() && newest != file && ReadGeoTiffGrey(newest, clean, newestWhy)) {
        if (notRestored)
            notRestored("GeoTIFF " + file + " not restored (" + why + "); its clean copy continues from " + newest);
        return;
    }
    if (notRestored)
        notRestored("GeoTIFF " + file + " not restored (" + why + "); its clean copy starts blank");
}

void RestoreCleanComposites(TComposites& composites,
                            const std::array<std::unique_ptr<TRegistryString>, ChannelCount>& lastSaved,
                            const std::string& imageRoot, const std::function<void(const std::string&)>& notRestored)
{
    for (std::size_t i = 0; i < ChannelCount; ++i)
        if (ChannelExists(i) && lastSaved[i] && !lastSaved[i]->Value.empty())
            RestoreCleanComposite(composites, static_cast<std::uint8_t>(i), lastSaved[i]->Value, imageRoot, notRestored);
}
