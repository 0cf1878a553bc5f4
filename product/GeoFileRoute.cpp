#include "product/GeoFileRoute.h"

#include <cctype>
#include <cmath>
#include <stdexcept>
#include <string_view>

#include "base/DateTime.h"
#include "base/Files.h"
#include "product/composite/ChannelCatalogue.h"
#include "settings/ProgramPaths.h"
#include "settings/StationSettings.h"

TGeoFileRoute::TGeoFileRoute(TProcessingOptions& options, std::string geoLogPath)
    : options_(options), geoLogPath_(std::move(geoLogPath)), clock_(UtcNow)
{
}

void TGeoFileRoute::ProcessGeoFile(const std::string& path)
{
    // The settings as they are for this file, read once like a cycle's.
    const TStationSettings settings = StationSettings(options_);
    TGeoRouteEnvironment environment;
    environment.RawArchiveRoot = [settings] { return settings.NetCDFPath; };
    environment.SaveAsNetCdf = [settings] { return settings.SaveAsNetCDF; };
    environment.IncomingDirectory = [settings] { return settings.SourcePath; };
    environment.ParseFileName = [](const std::string& name, double& time) {
        std::uint8_t channel = 0;
        return ParseGoesFileName(name, channel, time);
    };
    environment.UtcNow = clock_;
    environment.GeoLogPath = geoLogPath_;
    const double satelliteLongitude = settings.SatelliteLongitude;
    diagnostics_.SetSatelliteLongitude(satelliteLongitude);

    bool processed = false;
    try {
        processed = diagnostics_.ProcessGeoFile(path, environment, lines_);
    } catch (...) {
        if (OnReport)
            OnReport(lines_);
        throw;
    }
    if (OnReport)
        OnReport(lines_);
    if (!processed)
        throw std::runtime_error(lines_.empty() ? std::string("not processed") : lines_.back());
    // A station set for the satellite's other place (an archive from before its move, or
    // after) draws its lines hundreds of kilometres off; the grids tell.
    const std::optional<float> grids = diagnostics_.GridSspLongitude();
    if (grids && OnLogLine &&
        std::fabs(std::remainder(static_cast<double>(*grids) - satelliteLongitude, 360.0)) > 1.0)
        OnLogLine(FormatC("Geolocation file %s: the satellite stands at %.1f %c by its grids, the setting "
                          "SatelliteLongitude says %g; set SatelliteLongitude to %g for scans of this time",
                          ExtractFileName(path).c_str(), std::fabs(static_cast<double>(*grids)), *grids < 0 ? 'W' : 'E',
                          satelliteLongitude, std::round(static_cast<double>(*grids) * 10.0) / 10.0));
}

TLines DiagsSummary(const TLines& report)
{
    const auto startsWith = [](const std::string& line, std::string_view head) { return line.rfind(head, 0) == 0; };
    TLines summary;
    std::string fit;
    for (const std::string& line : report) {
        if (startsWith(line, "Fitting the ")) {
            // "Fitting the vertical (latitude) pixels" names the fit that follows.
            fit = line.substr(12);
            if (const auto pixels = fit.rfind(" pixels"); pixels != std::string::npos)
                fit.erase(pixels);
            fit[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(fit[0])));
        } else if (startsWith(line, "Least squares fit:")) {
            summary.push_back(fit + " fit:" + line.substr(18));
        } else if (startsWith(line, "Suggest offsets:")) {
            summary.insert(summary.begin(), line);
        } else if (startsWith(line, "Refused") || startsWith(line, "Inconsistency") || startsWith(line, "Too few rows")) {
            summary.push_back(line);
        }
    }
    return summary;
}

std::string DiagsReportPath() { return StateDirectory() + ProgramName() + "-diags.txt"; }

bool WriteDiagsReport(const TLines& lines, std::FILE* out)
{
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    if (out) {
        std::fwrite(text.data(), 1, text.size(), out);
        std::fflush(out);
    }
    ForceDirectories(StateDirectory());
    return WriteFileAtomically(DiagsReportPath(), text);
}
