#include "publish/StationAssembly.h"

#include "base/DateTime.h"
#include "settings/ProgramPaths.h"
#include "settings/RegistryFile.h"

TStationAssembly::TStationAssembly(TProcessingOptions& options, TCycleView& view, bool geoMode)
    : options_(options), log_(std::make_unique<TProcessLog>(ProcessLogPath()))
{
    cycle_ = std::make_unique<TProcessingCycle>(options_, *log_, view);
    cycle_->GeoMode = geoMode;
    cycle_->GeoLogPath = GeoLogPath();
    geoRoute_ = std::make_unique<TGeoFileRoute>(options_, cycle_->GeoLogPath);
    geoRoute_->OnLogLine = [this](const std::string& text) { say(text); };
    cycle_->SetGeoFileHandler(geoRoute_.get());
}

TStationAssembly::~TStationAssembly()
{
    if (settingsReported_)
        SetSettingsReportReceiver({});
    watch_.reset();
    status_.reset();
    cycle_.reset();
    station_.reset();
    log_->SetSink(nullptr);
}

void TStationAssembly::say(const std::string& text) { log_->AddLogLine(text, UtcNow()); }

void TStationAssembly::MakeStation(std::unique_ptr<IAnimationNotifier> notifier, TComposites::TMaking making)
{
    station_ = std::make_unique<TStation>(options_, std::move(notifier), making);
    TGoesProduct& product = station_->Product;
    product.SingleFileMode = [this] { return cycle_->SingleFileMode; };
    product.GeoLogPath = GeoLogPath();
    cycle_->SetGoesFileHandler(&product);
}

void TStationAssembly::RunOn(const TSay& say)
{
    cycle_->EnableInstantPickUp();
    if (const std::string problem = station_->Product.UseStrikeJournal(StrikeJournalPath()); !problem.empty())
        say(problem);
    status_ = std::make_unique<TStationStatus>(*cycle_, station_->LineStoreSource);
    status_->OnLogLine = [this](const std::string& text) { this->say(text); };
    // Made after the status it shows; it hears of each file after the status has counted it
    // all the same (see TListenerTurn).
    watch_ = std::make_unique<TStationWatch>(*cycle_, station_->Product, *status_,
                                             [this](const std::string& text) { this->say(text); });
}

void TStationAssembly::LogStart()
{
    say("Starting " + ProgramNameAndVersion());
    for (const std::string& line : station_->CoastlinesLogLines())
        say(line);
    station_->OnLogLine = [this](const std::string& text) { say(text); };
    SetSettingsReportReceiver([this](const std::string& text) { log_->AddLogLine(text, 0); });
    settingsReported_ = true;
}

bool TStationAssembly::Close()
{
    say("Closing " + ProgramNameAndVersion());
    if (status_)
        status_->Closed();
    if (watch_)
        watch_->Closed();
    return log_->Lines().empty() || log_->SaveToFile();
}
