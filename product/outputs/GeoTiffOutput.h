#pragma once
// The GeoTIFF beside each saved image: the channel's composite as data (without the lines
// drawn over the picture), placed by the geostationary projection, with the pixels off the
// Earth's disc marked as holding none. The drawn composite cannot serve, its lines are part
// of it, so while GeoTIFFs are saved each channel keeps a clean copy placed exactly as the
// drawn one.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "product/composite/Composites.h"
#include "base/DateTime.h"
#include "netcdf/AbiL1b.h"
#include "settings/StationSettings.h"
#include "settings/RegistryVariables.h"

// One scan as the product has just placed it into the drawn composite.
struct TPlacedScan {
    std::uint8_t Channel = 0;
    std::uint8_t Sector = 0;
    TDateTime ImageTime = 0;
    const TExtBitmap* Image = nullptr;
    int X = 0;
    int Y = 0;
    // The mask the drawn composite was masked with; none when images are not masked.
    const TExtBitmap* Mask = nullptr;
    // An ABI scan: where it holds data, and the satellite's view of the grid.
    const TExtBitmap* Valid = nullptr;
    const TAbiProjection* Abi = nullptr;
};

// Places the scan into the channel's clean copy as the drawn composite got it (cleared first
// when that option says so, masked by the scan's mask) and writes the copy as the GeoTIFF name, complete or
// not at all. Returns why it could not be written (GDAL's message); empty on success.
std::string SaveCleanGeoTiff(TComposites& composites, const TStationSettings& settings, const TPlacedScan& scan,
                             const std::string& name);

// The GeoTIFF beside a saved JPEG or PNG image.
std::string GeoTiffBeside(const std::string& savedImage);

// Makes the channel's clean copy from the GeoTIFF beside savedImage or, when that one is
// missing or cannot be read, from the channel's newest GeoTIFF in the dated tree imageRoot
// up to the saved image's time.
void RestoreCleanComposite(TComposites& composites, std::uint8_t channel, const std::string& savedImage,
                           const std::string& imageRoot, const std::function<void(const std::string&)>& notRestored);
// Makes each channel's clean copy from the GeoTIFF beside its last saved image, as the drawn
// composites are restored. notRestored gets a line for each file that could not be taken.
void RestoreCleanComposites(TComposites& composites,
                            const std::array<std::unique_ptr<TRegistryString>, ChannelCount>& lastSaved,
                            const std::string& imageRoot, const std::function<void(const std::string&)>& notRestored);
