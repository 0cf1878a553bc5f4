#pragma once
// The main window: four pages (thumbnails, log, setup, diagnostics), Start/Stop with its LED,
// and the status bar. It owns the settings controls, the processing log and the cycle, and
// shows the cycle's state.

#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>

#include "station/CommandLine.h"
#include "app/window/LED.h"
#include "station/ProcessLog.h"
#include "station/ProcessingCycle.h"
#include "station/Station.h"
#include "publish/StationAssembly.h"
#include "settings/controls/RegistryFormInfo.h"
#include "settings/controls/vrnCheckBox.h"
#include "settings/controls/vrnControlOptions.h"
#include "settings/controls/vrnLabeledEdit.h"

class QBoxLayout;
class QGridLayout;
class TFormSingleImage;

class TFormRadaDedOVI : public QWidget, public TCycleView, public TLogSink {
    Q_OBJECT
public:
    explicit TFormRadaDedOVI(TCommandLine commandLine, QWidget* parent = nullptr);
    ~TFormRadaDedOVI() override;

    TProcessingCycle& Cycle() { return assembly_->Cycle(); }
    TStation& Station() { return assembly_->Station(); }
    TProcessLog& Log() { return assembly_->Log(); }
    TProcessingOptions& Options() { return options_; }

    // TCycleView
    void SetLamp(TLamp lamp) override;
    void ShowRunning(bool running) override;
    void SetStatusText(const std::string& text) override;
    void RepaintStatus() override;
    void ShowImageTime(std::uint8_t channelIndex, const std::string& text) override;

    // TLogSink: the memo mirrors the log.
    void LogLineAdded(const std::string& line) override;
    void LogLinesRemoved(std::size_t count) override;
    void LogReset() override;

    void BitBtnStartStopClick();
    void TimerOnStartupTimer();
    void ButtonBrowsePathClick();
    void ScrollLogToEnd();
    void ShowNextCycle();
    // The full-size viewer, created hidden after this window; not owned.
    void AttachViewer(TFormSingleImage* viewer);
    TFormSingleImage* Viewer() const { return viewer_; }
    void ImageMouseEnter(QObject* sender);
    // Enter or Space opens the viewer on a focused thumbnail, the arrows move between them.
    bool ThumbnailKey(QObject* sender, int key);
    // True when the viewer was opened.
    bool ImageThumbClick(QObject* sender);
    void ImagePopupMenuPopup() {}
    // The close path of a shutdown: no question asked. The file in hand is finished first;
    // then "Closing" is logged, the log saved and `then` run (the program's end). Without
    // `then` the window stays, and a later close logs and saves again.
    void ShutdownRequested(const std::string& why, std::function<void()> then = {});

    QTabWidget* PageControlMain = nullptr;
    QWidget* TabSheetImages = nullptr;
    QWidget* TabSheetLog = nullptr;
    QWidget* TabSheetSetup = nullptr;
    QWidget* TabSheetDiags = nullptr;
    // "Image" + digit; none for index 4. An ABI band's ("Imageg18-c13") once it has an image.
    std::array<QLabel*, AllChannelCount> Images{};
    std::array<QLabel*, AllChannelCount> Labels{};
    // Under each channel label: when the picture was taken, and its sector.
    std::array<QLabel*, AllChannelCount> LabelTimes{};
    QMenu* ImagePopupMenu = nullptr;
    std::uint8_t ThumbnailUnderMouse = 0;
    // Files done of files found, and the file in hand, while a long cycle works.
    QLabel* LabelProgress = nullptr;
    QPlainTextEdit* MemoLogProcessing = nullptr;
    QPlainTextEdit* MemoDiags = nullptr;
    TvrnLabeledEdit* LabeledEditSourcePath = nullptr;
    TvrnLabeledEdit* LabeledEditNetCDFPath = nullptr;
    TvrnLabeledEdit* LabeledEditSavePath = nullptr;
    QPushButton* ButtonSourceSearch = nullptr;
    QPushButton* ButtonNetCDFsaveSearch = nullptr;
    QPushButton* ButtonSaveSearch = nullptr;
    QPushButton* BitBtnStartStop = nullptr;
    TLED* LEDrx = nullptr;
    QPushButton* ButtonSupport = nullptr;
    QPushButton* ButtonClose = nullptr;
    QStatusBar* StatusBar = nullptr;
    // At the status bar's right while processing is on: when the next cycle comes.
    QLabel* LabelNextCycle = nullptr;
    // Beside it: how old the newest image is, so a station that has stopped receiving shows.
    QLabel* LabelNewestImage = nullptr;
    QTimer TimerOnStartup;

    // Answers the close confirmation instead of a message box (tests).
    std::function<bool()> ConfirmExit;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void FormClose();
    // The close that waited for the file in hand.
    void FinishClosing();
    void BuildImagesPage();
    // At once (the window not yet shown), or scaled on the thumbnail thread and put in place
    // when done: scaling a whole composite takes longer than a page switch may.
    void RefreshThumbnail(std::size_t channel, bool now = false);
    // The thumbnails in as many rows as make them largest on the page as it is now.
    void FlowThumbnails();
    // The channel's thumbnail; none for index 4, nor for an ABI band before its first image.
    QLabel* Thumbnail(std::size_t channel) const { return channel < AllChannelCount ? Images[channel] : nullptr; }
    // A channel's thumbnail, label and time on the Images page, after those there are.
    void AddThumbnail(std::size_t channel);
    // Repaints the channel's thumbnail whenever its composite changes.
    void WatchComposite(std::size_t channel);
    void BuildSetupPage();
    void BuildKeyboard();
    void BuildLayout();
    // The lamp's tooltip and the Start/Stop glyph say why a running station processes nothing.
    void ShowHalt();
    // An edit of the Setup page bound to its setting, its label above it.
    TvrnLabeledEdit* AddEdit(const TSettingInfo& s, QWidget* parent = nullptr);
    // A short edit for a number, its label on its left, appended to row.
    TvrnLabeledEdit* AddShortEdit(QBoxLayout* row, const TSettingInfo& s, QWidget* parent);
    TvrnLabeledEdit* AddPathEdit(QBoxLayout* page, const TSettingInfo& s, QPushButton*& browse);

    TCommandLine commandLine_;
    TvrnControlOptions options_;
    std::unique_ptr<TStationAssembly> assembly_;
    std::array<bool, AllChannelCount> thumbnailDirty_{};
    std::array<bool, AllChannelCount> thumbnailScaling_{}; // on the thumbnail thread
    std::array<bool, AllChannelCount> thumbnailAgain_{}; // changed while being scaled
    // The channel the viewer shows: its readout maps by that channel's satellite.
    std::size_t viewedChannel_ = 0;
    QThreadPool thumbnailThread_;
    QGridLayout* thumbnailGrid_ = nullptr;
    std::vector<QWidget*> thumbnailCells_;
    int thumbnailColumns_ = 0;
    std::unique_ptr<TRegistryFormInfo> formInfo_;
    QIcon glyphOff_, glyphOn_, glyphHalted_;
    TFormSingleImage* viewer_ = nullptr;
    QTimer nextCycleTick_;
    QTimer thumbnailResize_;
    bool shown_ = false;
    bool logFoundAtStart_ = false;
    std::vector<std::string> linesAfterStart_;  // logged after the "Starting" line
    bool closed_ = false;
    bool closePending_ = false;  // a close or shutdown waits for the cycle to end
    std::function<void()> afterClose_;
};
