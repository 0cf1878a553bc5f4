#pragma once
// Every kind of file the station writes for one image: the grey picture, its colour twin and
// the GeoTIFF. Retention, latest/ and reprocessing go by this one list, so a kind the product
// learns to write is known to each of them: retention removes it with its day, latest/ gives
// it a fixed name and a reprocessed scan is done only once every kind the settings make exists.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "product/outputs/ColourTables.h"
#include "base/DateTime.h"
#include "settings/StationSettings.h"

struct TImageKind {
    std::string_view Extension;  // lower case, with the dot
    bool Colour;                 // "<name>-col.<ext>" beside the grey "<name>.<ext>"
    bool TStationSettings::*Setting; // the switch that makes it
};

// In the order the product writes them.
inline constexpr std::array<TImageKind, 5> ImageKinds{{
    {".png", false, &TStationSettings::SaveAsPNG},
    {".jpg", false, &TStationSettings::SaveAsJPEG},
    {".png", true, &TStationSettings::SaveAsPNG},
    {".jpg", true, &TStationSettings::SaveAsJPEG},
    {".tif", false, &TStationSettings::SaveAsGeoTIFF},
}};
inline constexpr const TImageKind& GeoTiffKind = ImageKinds[4];

// The file of a kind for an image: name is any kind's file of that image.
std::string ImageKindFile(const std::string& name, const TImageKind& kind);

// The files of every kind of the image that name is one kind of, itself included.
std::vector<std::string> ImageKindFiles(const std::string& name);

// The kinds the settings make for a channel; coloured: a colour table applies to it.
std::vector<TImageKind> KindsMade(const TStationSettings& settings, bool coloured);

// What a file name of some kind is: the grey image name it belongs to (".jpg", ".png" or
// ".tif" kept, "-col" taken off) and its kind; nullopt when it is of no kind.
struct TImageKindName {
    std::string Grey;
    TImageKind Kind;
};
std::optional<TImageKindName> SplitImageKind(std::string_view name);

// Whether the name is a grey JPEG or PNG picture's, the kind a composite is restored from.
bool IsGreyPictureName(std::string_view name);

// Whether a saved image is the one a restart goes on from, its channel's "LastSaved": a grey
// picture, never a colour one; the GeoTIFF only where the settings save no picture, for the
// clean copy it restores.
bool IsRestartImage(const TStationSettings& settings, std::string_view name);

// The colour table the settings name for the channel, read now so that a table edited by hand
// takes effect with the next image; nullopt when none is named (the visible band has no
// temperatures to colour) or it cannot be read, which why then says ("<path>: line N: ...").
std::optional<TColourTable> ChannelColourTable(const TStationSettings& settings, std::uint8_t channel,
                                               std::string* why = nullptr);

// The newest short-named image of a channel in the dated image tree with one of the
// extensions (".jpg", ".png", ".tif"), never one named for a time after notAfter (a foreign
// file, or a clock set back); empty when there is none.
std::string NewestImageInTree(const std::string& imageRoot, std::uint8_t channel,
                              const std::vector<std::string_view>& extensions, TDateTime notAfter);
