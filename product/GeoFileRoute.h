#pragma once
// The geolocation handler the processing cycle calls in "geo" mode: the diagnostics of
// mapping/DecodeGeometry fed with the station's settings, the clock and the file-name parser,
// and their report handed on to whoever shows it (the Diags page, or the headless report file).

#include <cstdio>
#include <functional>
#include <string>

#include "product/FileResult.h"
#include "settings/ProgramSettings.h"
#include "mapping/DecodeGeometry.h"

class TGeoFileRoute : public TGeoFileHandler {
public:
    TGeoFileRoute(TProcessingOptions& options, std::string geoLogPath);

    // Archives, decompresses and diagnoses one geolocation file and appends its summary line to
    // the geo log. A file that cannot be archived or decompressed, and a failed fit, raise
    // (the cycle logs the file as failed); the report is published first either way.
    void ProcessGeoFile(const std::string& path) override;

    // The report of the latest file, as the Diags memo shows it.
    const TLines& Report() const { return lines_; }
    // Called with the report after every file.
    std::function<void(const TLines&)> OnReport;
    // A line for the station's log: a full disk whose grids put the satellite more than a
    // degree from SatelliteLongitude.
    std::function<void(const std::string&)> OnLogLine;

    TGeoDiagnostics& Diagnostics() { return diagnostics_; }
    // Replaces the clock (tests).
    void SetClock(std::function<TDateTime()> clock) { clock_ = std::move(clock); }

private:
    TProcessingOptions& options_;
    std::string geoLogPath_;
    std::function<TDateTime()> clock_;
    TGeoDiagnostics diagnostics_;
    TLines lines_;
};

// What a person reading the report wants first: the suggested offsets, then each fit's
// coefficients and correlation, or why no fit was made. Empty when the report has none of these.
TLines DiagsSummary(const TLines& report);

// ${XDG_STATE_HOME:-$HOME/.local/state}/Quillon/<program>-diags.txt: the headless runner's
// stand-in for the Diags page.
std::string DiagsReportPath();

// Replaces the report file with the lines and, when `out` is given, prints them there too.
// False when the file could not be written.
bool WriteDiagsReport(const TLines& lines, std::FILE* out);
