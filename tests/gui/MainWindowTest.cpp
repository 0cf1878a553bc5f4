#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLayout>
#include <QLineEdit>
#include <QEventLoop>
#include <QGroupBox>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QtTest/QTest>

#include <filesystem>
#include <fstream>

#include "app/CycleDoubles.h"
#include "app/window/OrvantaForm.h"
#include "base/Files.h"
#include "viewer/SingleImageForm.h"
#include <QEnterEvent>
#include <QImage>
#include <QMouseEvent>
#include "settings/ProgramPaths.h"
#include "settings/RegistryFile.h"
#include "support/TempXdg.h"

namespace {

const std::string kMu = "\xC2\xB5";

class MainWindowTest : public ::testing::Test {
protected:
    void Configure(bool withLog = true)
    {
        TRegistryFile reg(RegistryFilePath());
        ASSERT_TRUE(reg.WriteString(ProgramKey(), "SourcePath", xdg_.Dir("in")));
        ASSERT_TRUE(reg.WriteString(ProgramKey(), "NetCDFPath", xdg_.Dir("raw")));
        ASSERT_TRUE(reg.WriteString(ProgramKey(), "SavePath", xdg_.Dir("img")));
        if (withLog) TTempXdg::WriteText(ProcessLogPath(), "2013-05-30 12:00:00      an old line\n");
    }
    std::unique_ptr<TFormRadaDedOVI> Open(std::vector<std::string> args = {})
    {
        auto form = std::make_unique<TFormRadaDedOVI>(TCommandLine(std::move(args)));
        form->show();
        form->TimerOnStartup.stop();
        form->TimerOnStartupTimer();
        return form;
    }
    static std::string Memo(const TFormRadaDedOVI& f) { return f.MemoLogProcessing->toPlainText().toStdString(); }

    TAsProgram program_;
    TTempXdg xdg_;
};

TEST_F(MainWindowTest, PagesAndControls)
{
    auto f = Open();
    ASSERT_EQ(f->PageControlMain->count(), 4);
    EXPECT_EQ(f->PageControlMain->tabText(0), "Images");
    EXPECT_EQ(f->PageControlMain->tabText(1), "Log");
    EXPECT_EQ(f->PageControlMain->tabText(2), "Setup");
    EXPECT_EQ(f->PageControlMain->tabText(3), "Diags");
    EXPECT_FALSE(f->PageControlMain->isTabVisible(3));
    EXPECT_EQ(f->MemoDiags->toPlainText(), "Interpretation of the geo-location data.");
    EXPECT_EQ(f->size(), QSize(744, 346));
    EXPECT_EQ(f->BitBtnStartStop->text(), "Start  ");
    EXPECT_EQ(f->LEDrx->Colour(), LedIdleColour);
    EXPECT_EQ(f->ButtonSupport->toolTip(), "Go to support group");

    EXPECT_EQ(f->Labels[0]->text().toStdString(), "1:  0.63 " + kMu + "m  visible");
    EXPECT_EQ(f->Labels[5]->text().toStdString(), "6:  13.3 " + kMu + "m  CO2");
    EXPECT_EQ(f->Labels[1]->toolTip().toStdString(), " 3.9 " + kMu + "m  shortwave IR window");
    EXPECT_EQ(f->Images[4], nullptr);
    EXPECT_EQ(f->findChild<QLabel*>("Image6"), f->Images[5]);

    EXPECT_EQ(f->LabeledEditSourcePath->EditLabel()->text(), "Source path");
    // No settings yet: the Setup page is shown, its paths empty with an example beside them,
    // and nothing but what the operator chose is written back.
    EXPECT_EQ(f->LabeledEditSavePath->text(), "");
    EXPECT_EQ(f->LabeledEditSavePath->placeholderText(), "e.g.  /srv/goes/images/");
    EXPECT_EQ(f->PageControlMain->currentWidget(), f->TabSheetSetup);
    f.reset();
    EXPECT_EQ(TRegistryFile(RegistryFilePath()).ReadString(ProgramKey(), "SavePath"), "");
    f = Open();
    auto* png = f->findChild<TvrnCheckBox*>("CheckBoxSaveAsPNG");
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(png->text(), "Save as PNG");
    EXPECT_FALSE(png->isChecked());
    EXPECT_TRUE(f->findChild<TvrnCheckBox*>("CheckBoxGammaVisual")->isChecked());
    EXPECT_TRUE(f->findChild<TvrnCheckBox*>("CheckBoxFullDiskOnly")->isHidden());
    EXPECT_EQ(f->findChildren<QGroupBox*>().size(), 2);

    auto* colour = f->findChild<TvrnComboBox*>("ComboBoxColourTable");
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(colour->currentText(), "");
    EXPECT_GE(colour->findText("enhanced-ir"), 1);
    EXPECT_FALSE(f->findChild<TvrnCheckBox*>("CheckBoxImageStamp")->isChecked());
    // Further settings keep the page's size: every control still lies wholly inside it.
    f->PageControlMain->setCurrentWidget(f->TabSheetSetup);
    QApplication::processEvents();
    EXPECT_LE(f->TabSheetSetup->layout()->minimumSize().height(), f->TabSheetSetup->height());
    for (QWidget* w : f->TabSheetSetup->findChildren<QWidget*>()) {
        if (!w->isVisible() || !(qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) || qobject_cast<QLineEdit*>(w)))
            continue;
        const QRect r(w->mapTo(f->TabSheetSetup, QPoint(0, 0)), w->size());
        EXPECT_TRUE(f->TabSheetSetup->rect().contains(r)) << w->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, GeoSwitchShowsTheDiagsPage)
{
    auto f = Open({"/GEO"});
    EXPECT_TRUE(f->PageControlMain->isTabVisible(3));
    EXPECT_TRUE(f->Cycle().GeoMode);
}

TEST_F(MainWindowTest, SettingsComeFromTheRegistryAndGoBackOnClose)
{
    Configure();
    {
        TRegistryFile reg(RegistryFilePath());
        ASSERT_TRUE(reg.WriteInteger(ProgramKey(), "SaveAsPNG", 1));
        auto f = Open();
        EXPECT_EQ(f->LabeledEditSourcePath->text().toStdString(), xdg_.Root() + "/in/");
        EXPECT_TRUE(f->Options().Ticked("SaveAsPNG"));
        EXPECT_EQ(f->Options().SourcePath(), xdg_.Root() + "/in/");
        f->findChild<TvrnCheckBox*>("CheckBoxMaskImage")->setChecked(false);
        EXPECT_EQ(reg.ReadInteger(ProgramKey(), "MaskImage"), std::nullopt);
    }
    TRegistryFile reg(RegistryFilePath());
    EXPECT_EQ(reg.ReadInteger(ProgramKey(), "MaskImage"), 0);
    EXPECT_EQ(reg.ReadInteger(ProgramKey(), "SaveAsPNG"), 1);
    EXPECT_TRUE(reg.ReadInteger(ProgramKey(), "FormLeft").has_value());
    EXPECT_EQ(reg.ReadString(ProgramKey(), "LastSaved1"), "");
}

TEST_F(MainWindowTest, StartStopLedLogAndStatus)
{
    Configure();
    auto f = Open();
    // Written once the window is up: opening it may take seconds on a busy machine.
    const std::string file = xdg_.Root() + "/in/goes15.2013.150.120000.1.nc";
    std::ofstream(file) << "x";
    EXPECT_EQ(f->PageControlMain->currentWidget(), f->TabSheetImages);
    EXPECT_NE(Memo(*f).find("an old line\n"), std::string::npos);
    EXPECT_NE(Memo(*f).find("  Starting orvanta V"), std::string::npos);

    f->BitBtnStartStop->click();
    EXPECT_EQ(f->BitBtnStartStop->text(), "Stop   ");
    EXPECT_TRUE(f->Cycle().Running);
    f->Cycle().TimerProcessTimer();  // a one-byte file just written: left for later
    // Waiting for its writer is no failure of the file.
    const std::string waiting = file + " waiting: still being written, left for the next cycle";
    EXPECT_EQ(f->StatusBar->currentMessage().toStdString(), waiting);
    EXPECT_NE(Memo(*f).find(waiting), std::string::npos);
    EXPECT_EQ(f->LEDrx->Colour(), LedIdleColour);
    EXPECT_EQ(f->Cycle().TimerProcess.interval(), 50000);
    f->BitBtnStartStop->click();
    EXPECT_EQ(f->BitBtnStartStop->text(), "Start  ");
    EXPECT_FALSE(f->Cycle().TimerProcess.isActive());
}

TEST_F(MainWindowTest, FirstRunOpensSetupEvenWithStart)
{
    Configure(false);
    auto f = Open({"-start"});
    EXPECT_FALSE(f->Cycle().Running);
    EXPECT_EQ(f->PageControlMain->currentWidget(), f->TabSheetSetup);
    f->close();
    EXPECT_TRUE(std::filesystem::exists(ProcessLogPath()));
    auto g = Open({"-start", "/log"});
    EXPECT_TRUE(g->Cycle().Running);
    EXPECT_EQ(g->PageControlMain->currentWidget(), g->TabSheetLog);
}

TEST_F(MainWindowTest, AFileArgumentRunsOneCycle)
{
    Configure();
    const std::string file = xdg_.Root() + "/goes15.2013.150.120000.4.nc";
    std::ofstream(file) << "x";
    auto f = Open({file});
    EXPECT_TRUE(f->Cycle().SingleFileMode);
    EXPECT_TRUE(f->Cycle().Running);
    f->Cycle().TimerProcessTimer();
    EXPECT_FALSE(f->Cycle().Running);
    EXPECT_EQ(f->BitBtnStartStop->text(), "Start  ");
}

TEST_F(MainWindowTest, ClosingWhileRunningAsksFirst)
{
    Configure();
    auto f = Open({"-start"});
    ASSERT_TRUE(f->Cycle().Running);
    int asked = 0;
    f->ConfirmExit = [&] { ++asked; return false; };
    EXPECT_FALSE(f->close());
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(f->Cycle().TimerProcess.isActive());
    EXPECT_TRUE(f->Cycle().Running);

    f->ConfirmExit = [&] { ++asked; return true; };
    EXPECT_TRUE(f->close());
    EXPECT_FALSE(f->Cycle().Running);
    EXPECT_FALSE(f->Cycle().TimerProcess.isActive());
    const std::string saved = TTempXdg::ReadText(ProcessLogPath());
    EXPECT_NE(saved.find("  Closing orvanta V"), std::string::npos);
    EXPECT_EQ(saved.back(), '\n');
}

TEST_F(MainWindowTest, ClosingWhileStoppedAsksNothing)
{
    Configure();
    auto f = Open();
    f->ConfirmExit = [] {
        ADD_FAILURE() << "asked";
        return false;
    };
    EXPECT_TRUE(f->close());
}

TEST_F(MainWindowTest, MemoFollowsTheLogCap)
{
    auto f = Open();
    for (int i = 0; i < 10001; ++i) f->Log().AddLogLine("l" + std::to_string(i), 0);
    EXPECT_EQ(f->MemoLogProcessing->document()->blockCount(), static_cast<int>(f->Log().Lines().size()));
    EXPECT_EQ(f->MemoLogProcessing->document()->firstBlock().text().toStdString(), f->Log().Lines().front());
}

TEST_F(MainWindowTest, ThumbnailsCarryTheirChannelAndAHandCursor)
{
    auto f = Open();
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u}) {
        ASSERT_NE(f->Images[i], nullptr);
        // At least the old size, in the old shape, growing with the page.
        EXPECT_GE(f->Images[i]->width(), 120);
        EXPECT_NEAR(f->Images[i]->height() * 120.0 / f->Images[i]->width(), 138.0, 1.5);
        EXPECT_EQ(f->Images[i]->cursor().shape(), Qt::PointingHandCursor);
        f->ImageMouseEnter(f->Images[i]);
        EXPECT_EQ(f->ThumbnailUnderMouse, i);
    }
    f->ImageMouseEnter(f->Labels[1]);  // not a thumbnail: nothing changes
    EXPECT_EQ(f->ThumbnailUnderMouse, 5);
    ASSERT_NE(f->ImagePopupMenu, nullptr);
    EXPECT_TRUE(f->ImagePopupMenu->isEmpty());
    // Labels sit 3 pixels under their thumbnail, centred on it.
    EXPECT_EQ(f->Labels[2]->y(), f->Images[2]->y() + f->Images[2]->height() + 3);
    EXPECT_EQ(f->Labels[2]->x(), f->Images[2]->x() + (f->Images[2]->width() - f->Labels[2]->width()) / 2);
    // An ABI band has no thumbnail: its hint and its time reach none, nor read past them.
    f->Station().Product.OnThumbnailHint(AbiChannel(18, 13), "GOES-18 band 13");
    f->ShowImageTime(AbiChannel(18, 13), "2013-05-30 12:00");
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u}) {
        EXPECT_EQ(f->Images[i]->toolTip(), "");
        EXPECT_EQ(f->LabelTimes[i]->text(), "");
    }
}

struct TKeyCase {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    bool running;           // the cycle runs afterwards
    const char* page;       // the page shown afterwards
    bool open;              // the window is still open
};

class KeyboardTest : public MainWindowTest, public ::testing::WithParamInterface<TKeyCase> {};

TEST_P(KeyboardTest, KeysReachTheirActionsOnlyWhereTheyAreShown)
{
    Configure();
    auto f = Open();
    ASSERT_EQ(f->PageControlMain->currentWidget(), f->TabSheetImages);
    const bool gammaBefore = f->findChild<TvrnCheckBox*>("CheckBoxGammaVisual")->isChecked();
    f->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f.get()));
    QTest::keyClick(f.get(), GetParam().key, GetParam().modifiers);
    QTest::qWait(250);  // a mnemonic presses its button the animated way
    EXPECT_EQ(f->Cycle().Running, GetParam().running);
    EXPECT_EQ(f->PageControlMain->currentWidget()->objectName().toStdString(), GetParam().page);
    EXPECT_EQ(f->isVisible(), GetParam().open);
    // The Setup page's letters sleep while that page is hidden.
    EXPECT_EQ(f->findChild<TvrnCheckBox*>("CheckBoxGammaVisual")->isChecked(), gammaBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyboardTest,
    ::testing::Values(TKeyCase{"CtrlS", Qt::Key_S, Qt::ControlModifier, true, "TabSheetImages", true},
                      TKeyCase{"AltT", Qt::Key_T, Qt::AltModifier, true, "TabSheetImages", true},
                      TKeyCase{"Ctrl2", Qt::Key_2, Qt::ControlModifier, false, "TabSheetLog", true},
                      TKeyCase{"AltS", Qt::Key_S, Qt::AltModifier, false, "TabSheetSetup", true},
                      TKeyCase{"Ctrl4HiddenDiags", Qt::Key_4, Qt::ControlModifier, false, "TabSheetImages", true},
                      TKeyCase{"AltGOnImages", Qt::Key_G, Qt::AltModifier, false, "TabSheetImages", true},
                      TKeyCase{"CtrlQ", Qt::Key_Q, Qt::ControlModifier, false, "TabSheetImages", false}),
    [](const auto& info) { return std::string(info.param.name); });

struct TViewerCase {
    int height;
    bool opens;
};

class ThumbnailClickTest : public MainWindowTest, public ::testing::WithParamInterface<TViewerCase> {};

TEST_P(ThumbnailClickTest, OpensTheViewerOnlyForMoreThan1000Lines)
{
    auto f = Open();
    TFormSingleImage viewer;
    f->AttachViewer(&viewer);
    TExtBitmap& composite = f->Station().Composites.Images[3];
    composite.SetSize(composite.Width(), GetParam().height);
    f->Images[3]->setToolTip("2013-05-30 1200  FD  band 4  [10.7 µm  longwave IR window]");
    f->ImageMouseEnter(f->Images[3]);
    EXPECT_EQ(f->ImageThumbClick(f->Images[3]), GetParam().opens);
    EXPECT_EQ(viewer.isVisible(), GetParam().opens);
    if (GetParam().opens) {
        EXPECT_EQ(viewer.SourceImage, &composite);
        EXPECT_EQ(viewer.ChannelIndex, 3);
        EXPECT_EQ(viewer.windowTitle(), f->Images[3]->toolTip());
        ASSERT_TRUE(viewer.PixelToGeo);
        float lon = 0, lat = 0;
        viewer.PixelToGeo(0, 0, lon, lat);  // off the disc: the mapping's fallback
        EXPECT_FLOAT_EQ(lon, -128.0f);
        EXPECT_FLOAT_EQ(lat, 0.0f);
        // Minimised, it comes back when a thumbnail is opened again.
        viewer.showMinimized();
        EXPECT_TRUE(f->ImageThumbClick(f->Images[3]));
        EXPECT_FALSE(viewer.isMinimized());
    }
}

INSTANTIATE_TEST_SUITE_P(Heights, ThumbnailClickTest,
                         ::testing::Values(TViewerCase{100, false}, TViewerCase{1000, false},
                                           TViewerCase{1001, true}, TViewerCase{3248, true}));

// Thumbnails are scaled on a thread of their own: a change that lands while the last one is
// being scaled must still reach the screen.
TEST_F(MainWindowTest, AThumbnailShowsTheLastOfChangesMadeWhileItWasScaled)
{
    auto f = Open();
    TExtBitmap& composite = f->Station().Composites.Images[3];
    const auto centre = [&] {
        const QImage shown = f->Images[3]->pixmap().toImage();
        return qGray(shown.pixel(shown.width() / 2, shown.height() / 2));
    };
    QTest::qWait(300);  // the window has settled: no resize redraws the thumbnails
    for (const std::uint8_t grey : {30, 90, 150}) {
        composite.Fill(grey);
        composite.Changed();
        QTest::qWait(5);  // the first starts scaling; the others come meanwhile
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return centre() == 150; }, 10000)) << centre();
}

TEST_F(MainWindowTest, ClickingAThumbnailWithTheMouse)
{
    auto f = Open();
    TFormSingleImage viewer;
    f->AttachViewer(&viewer);
    QLabel* thumb = f->Images[5];
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), thumb->mapToGlobal(QPointF(5, 5)));
    QCoreApplication::sendEvent(thumb, &enter);
    EXPECT_EQ(f->ThumbnailUnderMouse, 5);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), thumb->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), thumb->mapToGlobal(QPointF(5, 5)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(thumb, &press);
    QCoreApplication::sendEvent(thumb, &release);
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_EQ(viewer.ChannelIndex, 5);
    EXPECT_EQ(viewer.SourceImage, &f->Station().Composites.Images[5]);
    // Closing the main window takes the viewer down with it, so the program can end.
    EXPECT_TRUE(f->close());
    EXPECT_FALSE(viewer.isVisible());
}

TEST_F(MainWindowTest, NoViewerNoClick)
{
    auto f = Open();
    EXPECT_FALSE(f->ImageThumbClick(f->Images[0]));
    TFormSingleImage viewer;
    f->AttachViewer(&viewer);
    EXPECT_FALSE(f->ImageThumbClick(f->Labels[0]));
    EXPECT_FALSE(viewer.isVisible());
}

TEST_F(MainWindowTest, CompositesComeBackFromTheLastSavedImages)
{
    Configure();
    const std::string saved = xdg_.Root() + "/img/last-band2.png";
    QImage picture(CompositeWidth, CompositeHeight, QImage::Format_Grayscale8);
    picture.fill(77);
    ASSERT_TRUE(picture.save(QString::fromStdString(saved), "PNG"));
    ASSERT_TRUE(SetFileDateTime(saved, *TryEncodeDate(2013, 5, 30) + *TryEncodeTime(11, 55, 10, 0)));
    TRegistryFile reg(RegistryFilePath());
    ASSERT_TRUE(reg.WriteString(ProgramKey(), "LastSaved2", saved));
    ASSERT_TRUE(reg.WriteString(ProgramKey(), "LastSaved3", xdg_.Root() + "/img/gone.png"));
    // A picture of another size must not become the composite.
    const std::string small = xdg_.Root() + "/img/small.png";
    QImage smallPicture(100, 80, QImage::Format_Grayscale8);
    smallPicture.fill(55);
    ASSERT_TRUE(smallPicture.save(QString::fromStdString(small), "PNG"));
    ASSERT_TRUE(reg.WriteString(ProgramKey(), "LastSaved4", small));
    {
        auto f = Open();
        const TExtBitmap& band4 = f->Station().Composites.Images[3];
        EXPECT_EQ(band4.Width(), CompositeWidth);
        EXPECT_EQ(band4.Height(), CompositeHeight);
        EXPECT_EQ(band4.ScanLine(50)[50], 240);
        EXPECT_NE(Memo(*f).find("LastSaved4 " + small + " not restored (100 x 80, not 2816 x 3248)"),
                  std::string::npos);
        const TExtBitmap& band2 = f->Station().Composites.Images[1];
        ASSERT_EQ(band2.Height(), CompositeHeight);
        EXPECT_EQ(band2.ScanLine(1000)[1000], 77);
        EXPECT_EQ(f->Images[1]->toolTip().toStdString(), "Restored from full disk: last-band2.png");
        EXPECT_EQ(f->LabelTimes[1]->text(), "2013-05-30 12:00");
        EXPECT_EQ(f->LabelTimes[2]->text(), "");
        // A missing file leaves the composite blank and the hint alone.
        EXPECT_EQ(f->Station().Composites.Images[2].ScanLine(1000)[1000], 240);
        EXPECT_EQ(f->Images[2]->toolTip(), "");
        EXPECT_FALSE(f->Images[1]->pixmap().isNull());
    }
    ASSERT_TRUE(reg.WriteInteger(ProgramKey(), "ClearImages", 1));
    auto g = Open();
    EXPECT_EQ(g->Station().Composites.Images[1].ScanLine(1000)[1000], 240);
    EXPECT_EQ(g->Images[1]->toolTip(), "");
}

TEST_F(MainWindowTest, ProgressShowsBesideTheLedAndClearsAtTheEnd)
{
    Configure();
    for (int i = 0; i < 7; ++i)
        std::ofstream(xdg_.Root() + "/in/goes15.2013.150.12" + std::to_string(10 + i) + "00.1.nc") << "x";
    auto f = Open({"-start"});
    std::vector<QString> shown;
    auto report = f->Cycle().OnProgress;
    f->Cycle().OnProgress = [&](std::size_t done, std::size_t found, const std::string& file) {
        report(done, found, file);
        shown.push_back(f->LabelProgress->text());
    };
    const std::size_t before = f->Log().Lines().size();
    f->Cycle().TimerProcessTimer();
    ASSERT_EQ(shown.size(), 8u);
    EXPECT_EQ(shown[0], "0 of 7 done, now goes15.2013.150.121000.1.nc");
    EXPECT_EQ(shown.back(), "");
    EXPECT_EQ(f->Log().Lines().size(), before + 7);
    EXPECT_LT(f->LabelProgress->x(), f->ButtonSupport->x());
    EXPECT_GT(f->LabelProgress->x(), f->LEDrx->x());
}

TEST_F(MainWindowTest, ShutdownRequestLogsAndSavesWithoutAsking)
{
    Configure();
    auto f = Open({"-start"});
    f->ConfirmExit = [] {
        ADD_FAILURE() << "asked";
        return false;
    };
    f->ShutdownRequested("Windows shutdown request received");
    EXPECT_FALSE(f->Cycle().Running);
    EXPECT_FALSE(f->Cycle().TimerProcess.isActive());
    EXPECT_EQ(f->BitBtnStartStop->text(), "Closing  ");
    const std::string saved = TTempXdg::ReadText(ProcessLogPath());
    const auto shutdown = saved.find("  Windows shutdown request received\n");
    ASSERT_NE(shutdown, std::string::npos);
    const auto closing = saved.find("  Closing orvanta V", shutdown);
    EXPECT_NE(closing, std::string::npos);
    // The session went on after all (a logout cancelled): a later close logs and saves again.
    f->Log().AddLogLine("Processed afterwards", 0);
    EXPECT_TRUE(f->close());
    const std::string later = TTempXdg::ReadText(ProcessLogPath());
    const auto afterwards = later.find("  Processed afterwards\n", closing);
    ASSERT_NE(afterwards, std::string::npos);
    EXPECT_NE(later.find("  Closing orvanta V", afterwards), std::string::npos);
}

struct TShutdownCase {
    bool bySignal;  // otherwise the close button, pressed while the file is worked on
    friend void PrintTo(const TShutdownCase& c, std::ostream* os) { *os << (c.bySignal ? "signal" : "close"); }
};

class ShutdownDuringAFileTest : public MainWindowTest, public ::testing::WithParamInterface<TShutdownCase> {};

TEST_P(ShutdownDuringAFileTest, FinishesTheFileThenLogsClosingAndSaves)
{
    Configure();
    std::ofstream(xdg_.Root() + "/in/goes15.2013.150.120000.1.nc") << "x";
    auto f = Open({"-start"});
    f->ConfirmExit = [] { return true; };
    int ended = 0;
    TFakeGoesHandler handler;
    handler.Process = [&](const std::string& path, TGoesFileResult&) {
        // The request is seen while the file's work peeks at the event queue.
        if (GetParam().bySignal) f->ShutdownRequested("Windows shutdown request received", [&] { ++ended; });
        else f->close();
        EXPECT_EQ(TTempXdg::ReadText(ProcessLogPath()).find("Closing"), std::string::npos) << path;
        return false;
    };
    f->Cycle().SetGoesFileHandler(&handler);
    f->Cycle().TimerProcessTimer();
    const std::string saved = TTempXdg::ReadText(ProcessLogPath());
    const auto failed = saved.find("goes15.2013.150.120000.1.nc failed\n");
    ASSERT_NE(failed, std::string::npos);
    EXPECT_NE(saved.find("  Closing orvanta V", failed), std::string::npos);
    EXPECT_EQ(ended, GetParam().bySignal ? 1 : 0);
    EXPECT_EQ(f->isVisible(), GetParam().bySignal);
}

INSTANTIATE_TEST_SUITE_P(Requests, ShutdownDuringAFileTest, ::testing::Values(TShutdownCase{true}, TShutdownCase{false}));

}  // namespace
