#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <filesystem>
#include <fstream>

#include "app/OrvantaForm.h"
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
    EXPECT_EQ(f->LEDrx->Colour(), clGray);
    EXPECT_EQ(f->ButtonSupport->toolTip(), "Go to support group");

    EXPECT_EQ(f->Labels[0]->text().toStdString(), "1:  0.63 " + kMu + "m  visible");
    EXPECT_EQ(f->Labels[5]->text().toStdString(), "6:  13.3 " + kMu + "m  CO2");
    EXPECT_EQ(f->Labels[1]->toolTip().toStdString(), " 3.9 " + kMu + "m  shortwave IR window");
    EXPECT_EQ(f->Images[4], nullptr);
    EXPECT_EQ(f->findChild<QLabel*>("Image6"), f->Images[5]);

    EXPECT_EQ(f->LabeledEditSourcePath->EditLabel()->text(), "Source path");
    // No settings yet: the Setup page shows the form's texts, and is the page shown.
    EXPECT_EQ(f->LabeledEditSavePath->text(), "Enter path e.g.  D:\\MSG\\Images\\FSD\\/");
    EXPECT_EQ(f->PageControlMain->currentWidget(), f->TabSheetSetup);
    auto* png = f->findChild<TvrnCheckBox*>("CheckBoxSaveAsPNG");
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(png->text(), "Save as PNG");
    EXPECT_FALSE(png->isChecked());
    EXPECT_TRUE(f->findChild<TvrnCheckBox*>("CheckBoxGammaVisual")->isChecked());
    EXPECT_TRUE(f->findChild<TvrnCheckBox*>("CheckBoxFullDiskOnly")->isHidden());
    EXPECT_EQ(f->findChildren<QGroupBox*>().size(), 2);
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
    const std::string file = xdg_.Root() + "/in/goes15.2013.150.120000.1.nc";
    std::ofstream(file) << "x";
    auto f = Open();
    EXPECT_EQ(f->PageControlMain->currentWidget(), f->TabSheetImages);
    EXPECT_NE(Memo(*f).find("an old line\n"), std::string::npos);
    EXPECT_NE(Memo(*f).find("  Starting orvanta V"), std::string::npos);

    f->BitBtnStartStop->click();
    EXPECT_EQ(f->BitBtnStartStop->text(), "Stop   ");
    EXPECT_TRUE(f->Cycle().Running);
    f->Cycle().TimerProcessTimer();  // no product yet: the file fails
    EXPECT_EQ(f->StatusBar->currentMessage().toStdString(), file + " failed");
    EXPECT_NE(Memo(*f).find(file + " failed"), std::string::npos);
    EXPECT_EQ(f->LEDrx->Colour(), clGray);
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

}  // namespace
