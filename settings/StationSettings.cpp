#include "settings/StationSettings.h"

#include "settings/ProgramSettings.h"

TStationSettings StationSettings(const TProcessingOptions& options)
{
    TStationSettings s;
    s.SourcePath = options.SourcePath();
    s.NetCDFPath = options.NetCDFPath();
    s.SavePath = options.SavePath();
    s.FailedPath = options.FailedPath();
    s.SaveAsJPEG = options.Ticked("SaveAsJPEG");
    s.SaveAsPNG = options.Ticked("SaveAsPNG");
    s.SaveAsNetCDF = options.Ticked("SaveAsNetCDF");
    s.SaveAsGeoTIFF = options.Ticked("SaveAsGeoTIFF");
    s.GammaVisual = options.Ticked("GammaVisual");
    s.MaskImage = options.Ticked("MaskImage");
    s.ClearImages = options.Ticked("ClearImages");
    s.Boundaries = options.Ticked("Boundaries");
    s.ShortImageNames = options.Ticked("ShortImageNames");
    s.IncludeNorth = options.Ticked("IncludeNorth");
    s.IncludeSouth = options.Ticked("IncludeSouth");
    s.PruneWhenLow = options.Ticked("PruneWhenLow");
    s.WebPage = options.Ticked("WebPage");
    s.ImageStamp = options.Ticked("ImageStamp");
    s.KeepImagesDays = options.Number("KeepImagesDays");
    s.KeepNetCDFDays = options.Number("KeepNetCDFDays");
    s.KeepFailedDays = options.Number("KeepFailedDays");
    s.MinFreeMB = options.Number("MinFreeMB");
    s.ColourTable = options.PathText("ColourTable");
    s.SatelliteLongitude = options.SatelliteLongitude();
    const auto defaultText = [](std::string_view name) { return FindSetting(name)->DefaultText; };
    s.AbiBands = SettingBandList(options.PathText("AbiBands")).value_or(*SettingBandList(defaultText("AbiBands")));
    const std::optional<std::int64_t> minutes = options.Number("AbiImageMinutes");
    s.AbiImageMinutes = minutes && *minutes >= 1 && *minutes <= 1440 ? static_cast<int>(*minutes) : 10;
    return s;
}
