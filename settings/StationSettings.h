#pragma once
// The settings as one cycle uses them: read from the options once, at the start of the cycle,
// into typed fields, so that the work of the cycle sees one consistent set (an operator may
// edit the registry file or tick a box meanwhile) and no value is looked up by a name that
// could be misspelt. The value names stay in ProgramSettings, for the registry file and the
// Setup page.

#include <cstdint>
#include <optional>
#include <string>

class TProcessingOptions;

struct TStationSettings {
    // With a trailing '/'; empty when not set.
    std::string SourcePath, NetCDFPath, SavePath;
    // Where files that cannot be processed are put aside: <NetCDFPath>failed/.
    std::string FailedPath;

    bool SaveAsJPEG = false, SaveAsPNG = false, SaveAsNetCDF = false, SaveAsGeoTIFF = false;
    bool GammaVisual = false, MaskImage = false, ClearImages = false, Boundaries = false;
    bool ShortImageNames = false, IncludeNorth = false, IncludeSouth = false;
    bool PruneWhenLow = false, WebPage = false, ImageStamp = false;

    // nullopt when the text is no whole number of 0 or more (SettingsProblem says so).
    std::optional<std::int64_t> KeepImagesDays, KeepNetCDFDays, KeepFailedDays, MinFreeMB;
    // As written: a table's name, names by band, or empty.
    std::string ColourTable;
    // Degrees east; the default while the text is no longitude.
    double SatelliteLongitude = 0;
    // The ABI bands made into images (bit b for band b), and the minutes of scan start one
    // image of a band stands for; the defaults while the texts are none.
    std::uint32_t AbiBands = 0;
    int AbiImageMinutes = 10;
    bool KeepsAbiBand(int band) const { return band >= 1 && band <= 16 && (AbiBands >> band & 1) != 0; }

    // A JPEG or PNG picture of each image: what the web page shows and a composite is
    // restored from when there is one.
    bool SavesPictures() const { return SaveAsJPEG || SaveAsPNG; }
    // Any image file at all of each scan, the GeoTIFF included.
    bool SavesImages() const { return SavesPictures() || SaveAsGeoTIFF; }
    // Whether anything of an incoming file is kept: an image or the archived netCDF. When
    // nothing is, processing would delete every incoming file and keep nothing.
    bool KeepsSomething() const { return SavesImages() || SaveAsNetCDF; }
    // The visible band's calibration.
    float Gamma() const { return GammaVisual ? 1.8f : 1.0f; }
};

// Every value of the options, read now.
TStationSettings StationSettings(const TProcessingOptions& options);
