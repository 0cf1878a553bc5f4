#include "app/GeoFileRoute.h"

#include <stdexcept>

#include "app/Utils.h"
#include "settings/ProgramPaths.h"

TGeoFileRoute::TGeoFileRoute(TProcessingOptions& options, std::string geoLogPath)
    : options_(options), geoLogPath_(std::move(geoLogPath)), clock_(UtcNow)
{
}

void TGeoFileRoute::ProcessGeoFile(const std::string& path)
{
    TGeoRouteEnvironment environment;
    environment.RawArchiveRoot = [this] { return options_.NetCDFPath(); };
    environment.SaveAsNetCdf = [this] { return options_.Ticked("SaveAsNetCDF"); };
    environment.ParseFileName = [](const std::string& name, double& time) {
        std::uint8_t channel = 0;
        return ParseGoesFileName(name, channel, time);
    };
    environment.UtcNow = clock_;
    environment.GeoLogPath = geoLogPath_;

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
