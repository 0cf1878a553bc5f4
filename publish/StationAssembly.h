#pragma once
// The objects of one running station, built and wired to the log in one way for the window
// and for the headless runner: the log, the cycle and its geolocation route, the station with
// its product, and, for a station that runs on (not the run of one file), the strike journal,
// the status and what is published. What the two do differently is handed in or added by
// them. It lies here, in publish/, the lowest folder that may use all it builds: the status
// and the watch are this folder's, the rest lies below.

#include <functional>
#include <memory>
#include <string>

#include "product/AnimationNotify.h"
#include "product/GeoFileRoute.h"
#include "product/composite/Composites.h"
#include "publish/StationStatus.h"
#include "publish/StationWatch.h"
#include "settings/ProgramSettings.h"
#include "station/ProcessLog.h"
#include "station/ProcessingCycle.h"
#include "station/Station.h"

class TStationAssembly {
public:
    using TSay = std::function<void(const std::string&)>;

    // The log (not loaded yet, no sink), the cycle showing its state in view, and the route of
    // geolocation files, which goes to the geo log.
    TStationAssembly(TProcessingOptions& options, TCycleView& view, bool geoMode);
    // The status and the watch first, then the cycle, while the station and the log they
    // use still stand.
    ~TStationAssembly();
    TStationAssembly(const TStationAssembly&) = delete;
    TStationAssembly& operator=(const TStationAssembly&) = delete;

    // The station and its product, handed the cycle's image files.
    void MakeStation(std::unique_ptr<IAnimationNotifier> notifier, TComposites::TMaking making);
    // A station that runs on: new files picked up at once, the strikes kept across restarts
    // (say hears why the journal could not be read), the status and the published page and
    // metrics from now on.
    void RunOn(const TSay& say);
    // "Starting", the coastlines, and from now on the station's and the settings' own lines.
    void LogStart();
    // "Closing", the last status, page and metrics, and the log saved; false when the log
    // could not be saved.
    bool Close();

    TProcessLog& Log() { return *log_; }
    TGeoFileRoute& GeoRoute() { return *geoRoute_; }
    TProcessingCycle& Cycle() { return *cycle_; }
    TStation& Station() { return *station_; }
    // Null until RunOn.
    TStationStatus* Status() { return status_.get(); }

private:
    void say(const std::string& text);

    TProcessingOptions& options_;
    std::unique_ptr<TProcessLog> log_;
    std::unique_ptr<TGeoFileRoute> geoRoute_;
    std::unique_ptr<TProcessingCycle> cycle_;
    std::unique_ptr<TStation> station_;
    std::unique_ptr<TStationStatus> status_;
    std::unique_ptr<TStationWatch> watch_;
    bool settingsReported_ = false;
};
