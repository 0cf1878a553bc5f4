#pragma once
// Keeps what a browser and a monitoring system read of a running station up to date: after
// every image saved its fixed name in latest/, after every file the day's index, the web page
// and the metrics file. None of it may fail or hold up a file's product: a write that fails
// is said once in the log (and once more when it works again) and the station goes on.

#include <QTimer>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "publish/Metrics.h"
#include "publish/StationStatus.h"
#include "publish/WebPublish.h"

class TStationWatch {
public:
    using TLog = std::function<void(const std::string&)>;
    // Follows the images the file handler saves and the files the cycle handles from now on
    // (each after the cycle and the status have taken it in), and writes the page and the
    // metrics at once.
    TStationWatch(TProcessingCycle& cycle, TGoesFileHandler& images, TStationStatus& status, TLog log,
                  std::string metricsPath = MetricsFilePath(), TStationStatus::TClock clock = {});
    ~TStationWatch();
    // The process is ending: the page shows the status that says so, the last metrics say
    // the station is down, and nothing is written after them.
    void Closed();
    TStationWatch(const TStationWatch&) = delete;
    TStationWatch& operator=(const TStationWatch&) = delete;

    // WebPage is ticked and JPEG or PNG images are saved.
    bool WebPageOn() const;
    void WritePage();
    void WriteMetrics(bool up = true);
    // Both, the page only where it is on.
    void Refresh();

private:
    // Logs a problem once while it lasts, and once when it is over.
    struct TProblem {
        std::string Current;
        void Report(const TLog& log, const std::string& what, const std::string& problem);
    };
    void ImageSaved(std::uint8_t channel, const std::string& saved);
    void FileHandled(const THandledEntry& handled);
    // The index of the image directory now set, read back from its latest/index.json when
    // the directory is new to this run.
    TImageIndex& Index(const std::string& imageDirectory);

    TProcessingCycle& cycle_;
    TStationStatus& status_;
    TLog log_;
    std::string metricsPath_;
    TStationStatus::TClock clock_;
    TStationMetrics metrics_;
    TImageIndex index_;
    std::optional<std::string> indexDirectory_;
    std::vector<std::pair<std::uint8_t, std::string>> saved_;  // the images of the file in hand
    TProblem latestProblem_, pageProblem_, metricsProblem_;
    bool closed_ = false;
    // An idle or stopped station still shows it runs: the page and the metrics are written
    // again as often as the status, or a page would read "not running" between files.
    QTimer refresh_;
    QMetaObject::Connection cycleFinished_;
    TListeners<std::uint8_t, const std::string&>::THandle imageSaved_;
    TListeners<const THandledEntry&>::THandle fileHandled_;
};
