#pragma once
// The settings of the Setup page: value names, defaults, captions and hints in one table that
// the window builds its controls from and the headless runner reads the registry by. The
// per-file work asks for its options through TProcessingOptions, by registry value name, so it
// does not care whether a window's controls or the registry answer.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Number: a whole number of 0 or more, held as text like a path so that a value typed wrong
// (in the Setup page or the settings file) can be named when it is refused.
// Text: a free text (a name, a longitude), read as it is written.
enum class TSettingKind { Path, Option, Number, Text };

struct TSettingInfo {
    std::string_view ControlName;
    std::string_view ValueName;
    TSettingKind Kind;
    std::string_view DefaultText;  // paths: empty, the edit shows Example as a placeholder; numbers: the default
    bool DefaultTicked;            // options
    std::string_view Caption;
    std::string_view Hint;         // empty: no hint
    bool Visible;
    std::string_view Example = {};  // paths: a directory as a station might have it
};

inline constexpr std::array<TSettingInfo, 26> ProgramSettings{{
    // An example as the value would be written back as a setting; it is only shown.
    {"LabeledEditSourcePath", "SourcePath", TSettingKind::Path, "", false, "Source path",
     "E.g. received\\HVS-2\\E2H-TPG-1", true, "/srv/goes/incoming/"},
    {"LabeledEditNetCDFPath", "NetCDFPath", TSettingKind::Path, "", false, "Saved NetCDF files path",
     "E.g. MSG\\Images\\FSD\\", true, "/srv/goes/raw/"},
    {"LabeledEditSavePath", "SavePath", TSettingKind::Path, "", false, "Saved image files path",
     "E.g. MSG\\Images\\FSD\\", true, "/srv/goes/images/"},
    {"CheckBoxBoundaries", "Boundaries", TSettingKind::Option, "", false, "Boundaries",
     "Overlay country boundaries", true},
    {"CheckBoxClearImages", "ClearImages", TSettingKind::Option, "", false, "Clear images",
     "Clear images when new cycle started", true},
    {"CheckBoxGammaVisual", "GammaVisual", TSettingKind::Option, "", true, "Gamma correct",
     "Apply a gamma adjustment to the visible channel", true},
    {"CheckBoxIncludeNorth", "IncludeNorth", TSettingKind::Option, "", true, "Include north image", "", true},
    {"CheckBoxIncludeSouth", "IncludeSouth", TSettingKind::Option, "", true, "Include south image", "", true},
    {"CheckBoxMaskImage", "MaskImage", TSettingKind::Option, "", true, "Mask image", "Hide off-satellite data", true},
    {"CheckBoxShortImageNames", "ShortImageNames", TSettingKind::Option, "", true, "Short image names",
     "Use short-format filenames for images", true},
    {"CheckBoxSaveAsNetCDF", "SaveAsNetCDF", TSettingKind::Option, "", false, "Save as NetCDF",
     "Save the unprocessed source files, with compression removed", true},
    {"CheckBoxSaveAsJPEG", "SaveAsJPEG", TSettingKind::Option, "", true, "Save as JPEG", "Save data as JPEG images", true},
    {"CheckBoxSaveAsPNG", "SaveAsPNG", TSettingKind::Option, "", false, "Save as PNG", "Save data as PNG images", true},
    // Stored like the others; nothing reads it.
    {"CheckBoxFullDiskOnly", "FullDiskOnly", TSettingKind::Option, "", false, "Full disk only",
     "Only process full-disk images", false},
    // Whole days; 0 keeps for ever, so a station that sets nothing keeps everything as before.
    {"LabeledEditKeepImagesDays", "KeepImagesDays", TSettingKind::Number, "0", false, "Image days",
     "Remove the dated image folders older than this many days; 0 keeps them for ever", true},
    {"LabeledEditKeepNetCDFDays", "KeepNetCDFDays", TSettingKind::Number, "0", false, "NetCDF days",
     "Remove the archived NetCDF files of days older than this; 0 keeps them for ever", true},
    {"LabeledEditKeepFailedDays", "KeepFailedDays", TSettingKind::Number, "0", false, "Failed days",
     "Remove files put aside in failed/ older than this many days; 0 keeps them for ever", true},
    {"LabeledEditMinFreeMB", "MinFreeMB", TSettingKind::Number, "1024", false, "Min. free MB",
     "Process nothing while a directory written has less free space; files wait in the incoming directory", true},
    {"CheckBoxPruneWhenLow", "PruneWhenLow", TSettingKind::Option, "", false, "Prune when low",
     "When the disk is low, remove the oldest days of images first (never today's, never the last saved)", true},
    {"CheckBoxSaveAsGeoTIFF", "SaveAsGeoTIFF", TSettingKind::Option, "", false, "Save as GeoTIFF",
     "Save each image's data beside it as a GeoTIFF that GIS programs place by themselves", true},
    // Only where JPEG or PNG images are saved: the page shows them.
    {"CheckBoxWebPage", "WebPage", TSettingKind::Option, "", true, "Web page",
     "Keep latest/ and index.html in the image directory: the newest image of each channel and a page showing them", true},
    // Empty saves nothing new; a table's name, or names by band ("4=enhanced-ir,3=water-vapour").
    {"ComboBoxColourTable", "ColourTable", TSettingKind::Text, "", false, "Colour",
     "Also save each infrared image as <name>-col.jpg (and .png) in this colour table's colours", true},
    // Off: it changes the saved grey images.
    {"CheckBoxImageStamp", "ImageStamp", TSettingKind::Option, "", false, "Legend stamp",
     "Write the time, sector and band at the bottom of each saved JPEG/PNG, and a colour bar on colour images", true},
    // Degrees east. GOES-15 stood at 135 W until its move in 2018: an archive of those years
    // is mapped right only with -135.
    {"LabeledEditSatelliteLongitude", "SatelliteLongitude", TSettingKind::Text, "-128", false, "Satellite lon.",
     "Where the satellite stands, degrees east (west negative): -128 for GOES-15 from late 2018, -135 "
     "before; places the coastlines, the viewer's readout and the GeoTIFF", true},
    // The ABI bands nearest the GOES-15 channels: 0.64, 3.9, 6.2, 10.3 and 13.3 um.
    {"LabeledEditAbiBands", "AbiBands", TSettingKind::Text, "2,7,8,13,16", false, "ABI bands",
     "GOES-16 to GOES-19 bands (1-16) made into images, e.g. 2,7,8,13,16; files of the other bands are only "
     "archived", true},
    // CONUS files come every 5 minutes and mesoscale ones every minute: one image per slot.
    {"LabeledEditAbiImageMinutes", "AbiImageMinutes", TSettingKind::Number, "10", false, "ABI minutes",
     "One GOES-16 to GOES-19 image per band for every this many minutes of scan start (1-1440)", true},
}};

// nullptr for a name that is not in the table.
const TSettingInfo* FindSetting(std::string_view valueName);

// A path text as the cycle and the product use it: ending with '/'. Empty stays empty.
std::string WithTrailingDelimiter(std::string path);

// A number setting's text as a value: digits only, surrounding blanks allowed; nullopt for
// anything else (empty, negative, a fraction, more than nine digits).
std::optional<std::int64_t> SettingNumber(std::string_view text);

// A longitude setting's text as degrees east: a decimal number from -180 to 180, surrounding
// blanks allowed; nullopt for anything else (empty, "128W", a decimal comma).
std::optional<double> SettingLongitude(std::string_view text);

// The ABI bands a setting's text names ("2, 7,13"): bit b set for band b; nullopt for anything
// but a comma-separated list of bands 1 to 16 (an empty list keeps none).
std::optional<std::uint32_t> SettingBandList(std::string_view text);

// What a number or longitude setting's text must be when it is not ("a whole number of 0 or
// more"); empty when it is, and for the other settings.
std::string_view SettingTextFault(const TSettingInfo& s, std::string_view text);

// Why a path text cannot serve as one of the station's directories: "is not set", "is not an
// absolute path", "does not exist"; empty when it can. A relative path would follow the
// working directory, which nobody chose.
std::string DirectoryProblem(const std::string& path);

class TProcessingOptions {
public:
    virtual ~TProcessingOptions() = default;
    // A check box's state by its registry value name ("SaveAsPNG"); false for unknown names.
    virtual bool Ticked(std::string_view valueName) const = 0;
    // An edit's text (a path or a number) by its registry value name ("SourcePath"); empty for
    // unknown names.
    virtual std::string PathText(std::string_view valueName) const = 0;
    // Called at the start of every cycle, so that a source that can change underneath (the
    // registry file, edited by an operator) is looked at again.
    virtual void Refresh() {}

    // The directories as the cycle and the product use them: with a trailing '/'.
    std::string SourcePath() const { return WithTrailingDelimiter(PathText("SourcePath")); }
    std::string NetCDFPath() const { return WithTrailingDelimiter(PathText("NetCDFPath")); }
    std::string SavePath() const { return WithTrailingDelimiter(PathText("SavePath")); }
    // Where files that cannot be processed are put aside.
    std::string FailedPath() const { return NetCDFPath() + "failed/"; }
    // A number setting ("KeepImagesDays"); nullopt when its text is no whole number of 0 or
    // more (SettingsProblem says so).
    std::optional<std::int64_t> Number(std::string_view valueName) const { return SettingNumber(PathText(valueName)); }
    // Where the satellite stands, degrees east; the default while the text is no longitude
    // (SettingsProblem says so).
    double SatelliteLongitude() const;

    // The first of the three directories that cannot be used, the first number that is no
    // whole number of 0 or more, or a longitude that is none, as a log line ("Saved image
    // files path "x/" does not exist", "Keep images (days) "-3" is not a whole number of 0 or
    // more"); empty when all can.
    std::string SettingsProblem() const;
};

// Options held in memory, starting from the table's defaults: for tools and tests, and the
// store behind TRegistryOptions.
class TFixedOptions : public TProcessingOptions {
public:
    TFixedOptions();
    bool Ticked(std::string_view valueName) const override;
    std::string PathText(std::string_view valueName) const override;
    void SetTicked(std::string_view valueName, bool ticked);
    void SetPathText(std::string_view valueName, std::string text);

protected:
    void ResetToDefaults();
    std::array<std::string, ProgramSettings.size()> texts_;
    std::array<bool, ProgramSettings.size()> ticked_{};
};

// The options as the registry holds them (defaults where it holds nothing); it never writes.
// Path texts get a trailing '/' as the window gives its edits when shown.
class TRegistryOptions : public TFixedOptions {
public:
    TRegistryOptions();
    void Refresh() override;
};
