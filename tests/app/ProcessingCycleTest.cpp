#include <gtest/gtest.h>

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "CycleDoubles.h"
#include "product/composite/ChannelCatalogue.h"
#include "product/DiskGuard.h"
#include "base/Files.h"
#include "settings/ProgramPaths.h"
#include "settings/RegistryFile.h"
#include "support/TempXdg.h"

namespace {

const std::string kMu = "\xC2\xB5";

class ProcessingCycleTest : public ::testing::Test {
protected:
    ProcessingCycleTest()
        : log_(tmp_.Dir("state") + "orvanta-process.log", [] { return *TryEncodeDate(2013, 5, 30) + 0.5; }),
          cycle_(options_, log_, view_)
    {
        in_ = tmp_.Dir("in");
        options_.SetPathText("SourcePath", in_);
        options_.SetPathText("NetCDFPath", tmp_.Dir("raw"));
        options_.SetPathText("SavePath", tmp_.Dir("img"));
        cycle_.SetGoesFileHandler(&goes_);
        cycle_.SetGeoFileHandler(&geo_);
        cycle_.GeoLogPath = tmp_.Dir("state") + "orvanta-geo.log";
        cycle_.SetSleep([this](int ms) { sleeps_.push_back(ms); });
    }

    std::string Drop(const std::string& name)
    {
        std::ofstream(in_ + name) << "data";
        return in_ + name;
    }
    // Log lines without their stamps.
    std::vector<std::string> Logged() const
    {
        std::vector<std::string> out;
        for (const auto& l : log_.Lines()) out.push_back(l.substr(25));
        return out;
    }
    void RunOneCycle()
    {
        if (!cycle_.Running) cycle_.BitBtnStartStopClick();
        cycle_.TimerProcessTimer();
    }
    // A handler that parses the name, as the product does, and "saves" a JPEG.
    static bool SaveAs(const std::string& path, TGoesFileResult& r, std::uint8_t sector)
    {
        if (!ParseGoesFileName(path, r.ChannelIndex, r.ImageTime)) return false;
        r.SlotTime = r.ImageTime;
        r.Sector = sector;
        r.SavedFileName = "/img/" + ExtractFileName(path) + ".jpg";
        std::filesystem::remove(path);
        return true;
    }

    TAsProgram program_;
    TTempXdg tmp_;
    std::string in_;
    TFixedOptions options_;
    TProcessLog log_;
    TRecordingView view_;
    TFakeGoesHandler goes_;
    TFakeGeoHandler geo_;
    TProcessingCycle cycle_;
    std::vector<int> sleeps_;
};

TEST_F(ProcessingCycleTest, EmptySourceDirectory)
{
    cycle_.BitBtnStartStopClick();
    EXPECT_TRUE(cycle_.Running);
    EXPECT_TRUE(cycle_.TimerProcess.isActive());
    EXPECT_EQ(cycle_.TimerProcess.interval(), 100);
    cycle_.TimerProcessTimer();
    EXPECT_EQ(view_.Events, (std::vector<std::string>{"Stop   ", "led yellow", "led grey"}));
    EXPECT_TRUE(log_.Lines().empty());
    EXPECT_TRUE(cycle_.TimerProcess.isActive());
    EXPECT_EQ(cycle_.TimerProcess.interval(), 50000);

    // Once a cycle has ended running, a new Start waits the full 50 s.
    cycle_.BitBtnStartStopClick();
    EXPECT_FALSE(cycle_.TimerProcess.isActive());
    EXPECT_EQ(view_.Events.back(), "Start  ");
    cycle_.BitBtnStartStopClick();
    EXPECT_EQ(cycle_.TimerProcess.interval(), 50000);
}

TEST_F(ProcessingCycleTest, NotRunningOnlyGreysTheLed)
{
    Drop("goes15.2013.150.120000.1.nc");
    cycle_.TimerProcessTimer();
    EXPECT_EQ(view_.Events, (std::vector<std::string>{"led grey"}));
    EXPECT_TRUE(goes_.Calls.empty());
    EXPECT_FALSE(cycle_.TimerProcess.isActive());
}

struct TDirectoryCase {
    const char* valueName;
    const char* text;    // "<tmp>" stands for the test's own directory
    const char* logged;  // empty: the file is processed
    friend void PrintTo(const TDirectoryCase& c, std::ostream* os) { *os << c.valueName << "=" << c.text; }
};

class CycleDirectoryTest : public ProcessingCycleTest, public ::testing::WithParamInterface<TDirectoryCase> {};

TEST_P(CycleDirectoryTest, AnUnusableDirectoryIsLoggedOnceAndNothingIsProcessed)
{
    const TDirectoryCase& c = GetParam();
    std::string text = c.text, logged = c.logged;
    for (std::string* s : {&text, &logged})
        if (const auto at = s->find("<tmp>"); at != std::string::npos) s->replace(at, 5, tmp_.Root());
    const std::string before = options_.PathText(c.valueName);
    options_.SetPathText(c.valueName, text);
    const std::string file = Drop("goes15.2013.150.120000.1.nc");
    RunOneCycle();
    RunOneCycle();
    if (logged.empty()) {
        EXPECT_EQ(goes_.Calls, (std::vector<std::string>{file, file}));
        return;
    }
    EXPECT_TRUE(goes_.Calls.empty());
    EXPECT_EQ(Logged(), (std::vector<std::string>{logged}));
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(cycle_.TimerProcess.interval(), TProcessingCycle::CycleInterval);
    EXPECT_EQ(cycle_.HaltReason(), logged);
    EXPECT_EQ(view_.Events.back(), "led red");

    // Mended between cycles (the directory made, the setting set back): the alarm goes at
    // once, not a cycle later.
    if (!text.empty() && text.back() == '/')
        std::filesystem::create_directories(text);
    else
        options_.SetPathText(c.valueName, before);
    cycle_.Recheck();
    EXPECT_EQ(cycle_.HaltReason(), "");
    EXPECT_EQ(view_.Status, "");
    EXPECT_EQ(view_.Events.back(), "led grey");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, CycleDirectoryTest,
    ::testing::Values(TDirectoryCase{"SourcePath", "<tmp>/in", ""},
                      TDirectoryCase{"NetCDFPath", "", "Saved NetCDF files path is not set; nothing is processed"},
                      TDirectoryCase{"SavePath", "Enter path e.g.  D:\\MSG\\Images\\FSD\\",
                                     "Saved image files path \"Enter path e.g.  D:\\MSG\\Images\\FSD\\/\" is not "
                                     "an absolute path; nothing is processed"},
                      TDirectoryCase{"SourcePath", "<tmp>/gone/",
                                     "Source path \"<tmp>/gone/\" does not exist; nothing is processed"},
                      // A limit typed wrong must not read as 0 (keep for ever) or as no limit.
                      TDirectoryCase{"KeepImagesDays", "-3",
                                     "Image days \"-3\" is not a whole number of 0 or more; nothing is processed"},
                      TDirectoryCase{"MinFreeMB", "1 GB",
                                     "Min. free MB \"1 GB\" is not a whole number of 0 or more; nothing is processed"},
                      TDirectoryCase{"KeepFailedDays", " 7 ", ""},
                      // Read as 0 or as the default, coastlines would be drawn thousands of km off.
                      TDirectoryCase{"SatelliteLongitude", "128W",
                                     "Satellite lon. \"128W\" is not a number of degrees east from -180 to 180 (west "
                                     "negative: -128 for 128 W); nothing is processed"},
                      TDirectoryCase{"SatelliteLongitude", "-180.5",
                                     "Satellite lon. \"-180.5\" is not a number of degrees east from -180 to 180 (west "
                                     "negative: -128 for 128 W); nothing is processed"},
                      TDirectoryCase{"SatelliteLongitude", " +135.25 ", ""},
                      // A list typed wrong would silently keep no band, or the wrong ones.
                      TDirectoryCase{"AbiBands", "2;7",
                                     "ABI bands \"2;7\" is not a list of bands from 1 to 16 separated by commas "
                                     "(2,7,8,13,16); nothing is processed"},
                      TDirectoryCase{"AbiBands", "2,17",
                                     "ABI bands \"2,17\" is not a list of bands from 1 to 16 "
                                     "separated by commas (2,7,8,13,16); nothing is processed"},
                      TDirectoryCase{"AbiBands", " 13, 2 ", ""},
                      TDirectoryCase{"AbiImageMinutes", "0",
                                     "ABI minutes \"0\" is not a whole number of minutes from 1 to 1440; nothing "
                                     "is processed"}));

TEST_F(ProcessingCycleTest, ALowDiskHoldsTheFilesSaysSoOnceAndGoesOnWhenSpaceIsBack)
{
    // More than any disk here has free.
    options_.SetPathText("MinFreeMB", "999999999");
    const std::string file = Drop("goes15.2013.150.120000.1.nc");
    RunOneCycle();
    RunOneCycle();
    EXPECT_TRUE(goes_.Calls.empty());
    EXPECT_TRUE(std::filesystem::exists(file));
    ASSERT_EQ(Logged().size(), 1u);
    EXPECT_EQ(Logged()[0].rfind("Disk low: " + tmp_.Dir("raw") + " has ", 0), 0u) << Logged()[0];
    EXPECT_NE(Logged()[0].find(" MB free, below the limit of 999999999 MB; files wait in the incoming directory"),
              std::string::npos) << Logged()[0];
    EXPECT_EQ(cycle_.DiskLow(), Logged()[0]);
    EXPECT_EQ(view_.Events.back(), "led red");

    options_.SetPathText("MinFreeMB", "0");
    cycle_.Recheck();  // set back between cycles: the lamp does not wait for the next one
    EXPECT_TRUE(cycle_.DiskLow().empty());
    EXPECT_EQ(view_.Events.back(), "led grey");
    RunOneCycle();
    EXPECT_EQ(goes_.Calls, (std::vector<std::string>{file}));
    EXPECT_EQ(Logged()[1], "Disk space is back: every directory written has at least 0 MB free; processing goes on");
    EXPECT_TRUE(cycle_.DiskLow().empty());
}

struct TLowDiskCase {
    const char* name;
    // Band 4's LastSaved image. In every path "@n/" stands for the dated folder of n days ago
    // and that day's date: "img/@3/1200-g10-ir.jpg".
    const char* lastSaved;
    std::vector<std::string> files; // stamped with their image time, as the station saves them
    std::vector<std::string> gone; // every other file stays
    friend void PrintTo(const TLowDiskCase& c, std::ostream* os) { *os << c.name; }
};

class CycleLowDiskTest : public ProcessingCycleTest, public ::testing::WithParamInterface<TLowDiskCase> {
protected:
    // The path, and the image time its name gives.
    std::pair<std::string, TDateTime> Dated(const std::string& text) const
    {
        const auto at = text.find('@');
        const TDateTime day = std::floor(UtcNow()) - (text[at + 1] - '0');
        const std::string rest = text.substr(at + 3);
        const TDateTime time = day + *TryEncodeTime(std::stoi(rest.substr(0, 2)), std::stoi(rest.substr(2, 2)), 0, 0);
        return {tmp_.Root() + "/" + text.substr(0, at) + FormatDateTime("yyyy/mm/dd/yyyymmdd", day) + rest, time};
    }
};

// A disk that stays low takes every older day of images, yet never today's nor what a restart
// goes on from: the LastSaved image with every kind beside it, or, its GeoTIFF gone, the
// GeoTIFF its clean copy continues from (the newest up to its time).
TEST_P(CycleLowDiskTest, TakesOldImagesButNeverWhatARestartGoesOnFrom)
{
    const TLowDiskCase& c = GetParam();
    for (const std::string& f : c.files) {
        const auto [path, time] = Dated(f);
        TTempXdg::WriteText(path, "0123456789");
        ASSERT_TRUE(SetFileDateTime(path, time));
    }
    cycle_.LastSavedSettings[3]->Value = Dated(c.lastSaved).first;
    options_.SetTicked("PruneWhenLow", true);
    options_.SetPathText("MinFreeMB", "999999999");
    RunOneCycle();
    for (const std::string& f : c.files) {
        const bool gone = std::find(c.gone.begin(), c.gone.end(), f) != c.gone.end();
        EXPECT_EQ(std::filesystem::exists(Dated(f).first), !gone) << f;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CycleLowDiskTest,
    ::testing::Values(TLowDiskCase{"EveryKindOfTheLastSavedStays",
                                   "img/@3/1200-g10-ir.jpg",
                                   {"img/@3/1200-g10-ir.jpg", "img/@3/1200-g10-ir.png", "img/@3/1200-g10-ir-col.jpg",
                                    "img/@3/1200-g10-ir.tif", "img/@3/1130-g10-ir.jpg", "img/@1/1200-g10-vis.jpg",
                                    "img/@0/0000-g10-ir.jpg"},
                                   {"img/@3/1130-g10-ir.jpg", "img/@1/1200-g10-vis.jpg"}},
                      // A GeoTIFF newer than the LastSaved image (a reprocessed outage) is not where it goes on.
                      TLowDiskCase{"TheGeoTiffTheNextGoesOnFromStays",
                                   "img/@3/1200-g10-ir.jpg",
                                   {"img/@3/1200-g10-ir.jpg", "img/@2/1200-g10-ir.tif", "img/@4/1200-g10-ir.tif",
                                    "img/@5/1200-g10-ir.tif"},
                                   {"img/@2/1200-g10-ir.tif", "img/@5/1200-g10-ir.tif"}}),
    [](const ::testing::TestParamInfo<TLowDiskCase>& info) { return std::string(info.param.name); });

// A file is taken only when what it writes leaves the limit free, its images included: a disk
// must not fall below the limit by the images of the last file let in.
TEST_F(ProcessingCycleTest, TheRoomAFileNeedsCountsTheImagesItMakes)
{
    const std::string raw = tmp_.Dir("raw");
    const std::uint64_t free = *FreeBytes(raw) >> 20;
    ASSERT_GT(free, 100u);
    options_.SetPathText("MinFreeMB", std::to_string(free - 40));
    for (const char* format : {"SaveAsJPEG", "SaveAsPNG", "SaveAsGeoTIFF"}) options_.SetTicked(format, false);
    EXPECT_EQ(FileRoomProblem(StationSettings(options_), raw + "x.nc", 30000), "");
    for (const char* format : {"SaveAsJPEG", "SaveAsPNG", "SaveAsGeoTIFF"}) options_.SetTicked(format, true);
    options_.SetPathText("ColourTable", "enhanced-ir");
    EXPECT_NE(FileRoomProblem(StationSettings(options_), raw + "x.nc", 30000).find(" MB free and keeps "),
              std::string::npos);
}

TEST_F(ProcessingCycleTest, FilesInNameOrderOnlyMatchingOnes)
{
    const auto c = Drop("goes15.2013.150.120000.4.nc.bz2");
    const auto a = Drop("goes15.2013.150.113000.1.nc.bz2");
    const auto b = Drop("GOES15.2013.150.120000.1.NC");
    Drop("goes15.1999.150.120000.1.nc");
    Drop("readme.nc");
    Drop("goes15.2013.150.120000.1.bz2");
    RunOneCycle();
    EXPECT_EQ(goes_.Calls, (std::vector<std::string>{a, b, c}));
    EXPECT_EQ(goes_.Next, (std::vector<std::string>{b, c, ""}));  // what may be read ahead
    EXPECT_EQ(goes_.NextFile, "");
    EXPECT_EQ(Logged(), (std::vector<std::string>{a + " failed", b + " failed", c + " failed"}));
    EXPECT_EQ(view_.Status, c + " failed");
    // Gone from the directory, the files fail no more: the next cycle clears the line.
    for (const auto& f : {a, b, c}) std::filesystem::remove(f);
    RunOneCycle();
    EXPECT_EQ(view_.Status, "");
}

TEST_F(ProcessingCycleTest, ProcessedLineHintAndLastSaved)
{
    const auto vis = Drop("goes15.2013.150.120100.1.nc");
    const auto ir = Drop("goes15.2013.150.122700.4.nc");
    goes_.Process = [](const std::string& p, TGoesFileResult& r) {
        return SaveAs(p, r, p.find(".1.nc") != std::string::npos ? SectorFullDisk : SectorNorthern);
    };
    RunOneCycle();
    EXPECT_EQ(Logged(), (std::vector<std::string>{
                            "Processed  2013-05-30 12:00 FD  band 1  0.63 " + kMu + "m  visible",
                            "Processed  2013-05-30 12:30 NH  band 4  10.7 " + kMu + "m  thermal"}));
    EXPECT_EQ(goes_.Shown, (std::vector<std::string>{
                               "0|/img/goes15.2013.150.120100.1.nc.jpg|2013-05-30 1200  FD  band 1  [0.63 " + kMu + "m  visible]",
                               "3|/img/goes15.2013.150.122700.4.nc.jpg|2013-05-30 1230  NH  band 4  [10.7 " + kMu + "m  thermal]"}));
    // The thumbnails say when and what: the slot and the sector, not the scan's own minute.
    EXPECT_EQ(view_.Times, (std::vector<std::string>{"0 2013-05-30 12:00  FD", "3 2013-05-30 12:30  NH"}));
    // Every saved image is remembered, whatever its sector, and at once.
    TRegistryFile reg(RegistryFilePath());
    EXPECT_EQ(reg.ReadString(ProgramKey(), "LastSaved1"), "/img/goes15.2013.150.120100.1.nc.jpg");
    EXPECT_EQ(reg.ReadString(ProgramKey(), "LastSaved4"), "/img/goes15.2013.150.122700.4.nc.jpg");
    EXPECT_EQ(cycle_.LastSavedSettings[0]->Value, "/img/goes15.2013.150.120100.1.nc.jpg");
    EXPECT_FALSE(cycle_.LastSavedSettings[4]);
    EXPECT_FALSE(std::filesystem::exists(vis));
    EXPECT_FALSE(std::filesystem::exists(ir));
    EXPECT_EQ(cycle_.LastOutcome(), TFileOutcome::Processed);
}

TEST_F(ProcessingCycleTest, SkippedSectorWaitsAQuarterSecond)
{
    Drop("goes15.2013.150.120000.2.nc");
    goes_.Process = [](const std::string& p, TGoesFileResult& r) {
        ParseGoesFileName(p, r.ChannelIndex, r.ImageTime);
        r.SlotTime = r.ImageTime;
        r.Sector = SectorSouthern;
        r.Skipped = true;
        return true;
    };
    RunOneCycle();
    EXPECT_EQ(Logged(), (std::vector<std::string>{"Skipped  2013-05-30 12:00 SH  band 2   3.9 " + kMu + "m  SW IR"}));
    EXPECT_EQ(view_.Status, "2013-05-30 1200  band  2  skipped");
    EXPECT_EQ(sleeps_, (std::vector<int>{250}));
    EXPECT_TRUE(goes_.Shown.empty());
    EXPECT_EQ(cycle_.LastOutcome(), TFileOutcome::Skipped);
}

TEST_F(ProcessingCycleTest, EveryFailedLineSaysWhy)
{
    const auto f = Drop("goes15.2013.150.120000.6.nc");
    const auto g = Drop("goes15.2013.150.123000.6.nc.bz2");
    goes_.Process = [&](const std::string& p, TGoesFileResult& r) {
        r.Sector = SectorFullDisk;
        if (p == g) r.FailureReason = "bzip2 data is truncated";
        return p == f;  // true: neither format ticked
    };
    RunOneCycle();
    EXPECT_EQ(Logged(), (std::vector<std::string>{f + " failed: no image saved", g + " failed: bzip2 data is truncated"}));
    EXPECT_EQ(view_.Status, g + " failed: bzip2 data is truncated");
    EXPECT_TRUE(sleeps_.empty());
    EXPECT_EQ(cycle_.LastOutcome(), TFileOutcome::Failed);
}

TEST_F(ProcessingCycleTest, WithNothingToKeepFilesAreLeftWhereTheyAre)
{
    const auto f = Drop("goes15.2013.150.120000.1.nc");
    options_.SetTicked("SaveAsJPEG", false);
    options_.SetTicked("SaveAsPNG", false);
    options_.SetTicked("SaveAsNetCDF", false);
    RunOneCycle();
    RunOneCycle();
    EXPECT_TRUE(goes_.Calls.empty());
    EXPECT_EQ(Logged(), (std::vector<std::string>{NothingKeptText}));
    EXPECT_TRUE(std::filesystem::exists(f));
    EXPECT_TRUE(cycle_.TimerProcess.isActive());
    // Any one kind kept is enough: the GeoTIFF alone too, as --reprocess makes it.
    for (const char* kept : {"SaveAsNetCDF", "SaveAsGeoTIFF"}) {
        for (const char* format : {"SaveAsJPEG", "SaveAsPNG", "SaveAsNetCDF", "SaveAsGeoTIFF"})
            options_.SetTicked(format, format == std::string(kept));
        goes_.Calls.clear();
        RunOneCycle();
        EXPECT_EQ(goes_.Calls, (std::vector<std::string>{f})) << kept;
    }
}

TEST_F(ProcessingCycleTest, OnlyRegularFilesAreTakenInOthersAreReportedOnce)
{
    cycle_.GeoMode = true;
    const std::string fifo = in_ + "goes15.2013.150.120000.1.nc";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string target = tmp_.Dir("private") + "scan.nc";
    std::ofstream(target) << "secret";
    const std::string link = in_ + "goes15.2013.150.120000.3.nc";
    std::filesystem::create_symlink(target, link);
    const std::string dir = in_ + "goes15.2013.150.120000_geo.nc";
    std::filesystem::create_directory(dir);
    RunOneCycle();
    RunOneCycle();
    EXPECT_TRUE(goes_.Calls.empty());
    EXPECT_TRUE(geo_.Calls.empty());
    EXPECT_EQ(Logged(), (std::vector<std::string>{fifo + " left alone: a FIFO, not a regular file",
                                                  link + " left alone: a symbolic link, not a regular file",
                                                  dir + " left alone: a directory, not a regular file"}));
    EXPECT_TRUE(std::filesystem::exists(target));
}

// Two stations on one set of directories, whatever their settings files: the second takes
// nothing and says who holds the directories.
TEST_F(ProcessingCycleTest, ASecondStationOnTheSameDirectoriesProcessesNothing)
{
    const auto f = Drop("goes15.2013.150.120000.1.nc");
    TProcessLog otherLog(tmp_.Dir("state") + "other-process.log", [] { return 0.0; });
    TRecordingView otherView;
    TFakeGoesHandler otherGoes;
    TProcessingCycle other(options_, otherLog, otherView);
    other.SetGoesFileHandler(&otherGoes);
    RunOneCycle();
    other.BitBtnStartStopClick();
    other.TimerProcessTimer();
    other.TimerProcessTimer();
    EXPECT_EQ(goes_.Calls, (std::vector<std::string>{f}));
    EXPECT_TRUE(otherGoes.Calls.empty());
    ASSERT_EQ(otherLog.Lines().size(), 1u);
    EXPECT_NE(otherLog.Lines()[0].find("is already processing the directories of " + in_ + " (process " +
                                       std::to_string(::getpid())),
              std::string::npos) << otherLog.Lines()[0];
}

TEST_F(ProcessingCycleTest, GeoFilesWithoutGeoModeAreDeletedWithTheGeoLog)
{
    const auto g = Drop("goes15.2013.150.120000_GEO.nc.bz2");
    TTempXdg::WriteText(cycle_.GeoLogPath, "old\n");
    RunOneCycle();
    EXPECT_FALSE(std::filesystem::exists(g));
    EXPECT_FALSE(std::filesystem::exists(cycle_.GeoLogPath));
    EXPECT_TRUE(log_.Lines().empty());
    EXPECT_TRUE(goes_.Calls.empty());
    EXPECT_TRUE(geo_.Calls.empty());
}

TEST_F(ProcessingCycleTest, GeoFilesInGeoModeGoToTheGeoHandler)
{
    cycle_.GeoMode = true;
    const auto g = Drop("goes15.2013.150.120000_geo.nc");
    const auto i = Drop("goes15.2013.150.120000.1.nc");
    RunOneCycle();
    EXPECT_EQ(goes_.Calls, (std::vector<std::string>{i}));
    EXPECT_EQ(goes_.Next, (std::vector<std::string>{""}));  // a geolocation file is not read ahead
    EXPECT_EQ(geo_.Calls, (std::vector<std::string>{g}));
    EXPECT_TRUE(std::filesystem::exists(g));  // the real handler archives it; the double does not
}

TEST_F(ProcessingCycleTest, AnErrorLeavesTheFileAndKeepsTheStationRunning)
{
    cycle_.GeoMode = true;
    geo_.Throw = true;
    const auto g = Drop("goes15.2013.150.113000_geo.nc");
    const auto bad = Drop("goes15.2013.150.120000.1.nc");
    const auto good = Drop("goes15.2013.150.120000.3.nc");
    goes_.Process = [&](const std::string& p, TGoesFileResult& r) -> bool {
        if (p == bad) throw std::runtime_error("Read error");
        return SaveAs(p, r, SectorFullDisk);
    };
    RunOneCycle();
    EXPECT_EQ(Logged(), (std::vector<std::string>{
                            g + " failed: Error in GaussJordan: matrix is singular",
                            bad + " failed: Read error",
                            "Processed  2013-05-30 12:00 FD  band 3  6.48 " + kMu + "m  WV upper"}));
    EXPECT_TRUE(std::filesystem::exists(bad));
    EXPECT_TRUE(cycle_.TimerProcess.isActive());
    EXPECT_EQ(cycle_.TimerProcess.interval(), 50000);
    EXPECT_EQ(view_.Events.back(), "led grey");
}

TEST_F(ProcessingCycleTest, StopDuringAFileFinishesItAndStartsNoOther)
{
    const auto a = Drop("goes15.2013.150.120000.1.nc");
    Drop("goes15.2013.150.120000.3.nc");
    goes_.Process = [&](const std::string& p, TGoesFileResult& r) {
        // The click arrives while the file is worked on and is delivered when messages are
        // pumped after it.
        QTimer::singleShot(0, &cycle_, [&] { cycle_.BitBtnStartStopClick(); });
        return SaveAs(p, r, SectorFullDisk);
    };
    RunOneCycle();
    EXPECT_EQ(goes_.Calls, (std::vector<std::string>{a}));
    EXPECT_EQ(Logged().size(), 1u);
    EXPECT_FALSE(cycle_.Running);
    EXPECT_FALSE(cycle_.TimerProcess.isActive());
    EXPECT_EQ(view_.Events.back(), "led grey");
}

TEST_F(ProcessingCycleTest, StopAndStartWithinACycleDoNotNestCycles)
{
    Drop("goes15.2013.150.120000.1.nc");
    Drop("goes15.2013.150.120000.3.nc");
    int depth = 0, deepest = 0;
    goes_.Process = [&](const std::string& p, TGoesFileResult& r) {
        ++depth;
        deepest = std::max(deepest, depth);
        cycle_.BitBtnStartStopClick();
        cycle_.BitBtnStartStopClick();
        cycle_.TimerProcessTimer();  // as if the re-armed timer fired while messages are pumped
        --depth;
        return SaveAs(p, r, SectorFullDisk);
    };
    RunOneCycle();
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(goes_.Calls.size(), 2u);
    EXPECT_TRUE(cycle_.TimerProcess.isActive());
    EXPECT_EQ(cycle_.TimerProcess.interval(), 50000);
}

TEST_F(ProcessingCycleTest, SingleFileModeHandlesThatFileAndStops)
{
    Drop("goes15.2013.150.113000.1.nc");
    const std::string single = tmp_.Dir("elsewhere") + "goes15.2013.150.120000.4.nc";
    std::ofstream(single) << "x";
    cycle_.SingleFileMode = true;
    cycle_.SingleFileName = single;
    goes_.Process = [](const std::string& p, TGoesFileResult& r) { return SaveAs(p, r, SectorFullDisk); };
    int finished = 0;
    QObject::connect(&cycle_, &TProcessingCycle::CycleFinished, [&] { ++finished; });
    RunOneCycle();
    EXPECT_EQ(goes_.Calls, (std::vector<std::string>{single}));
    EXPECT_FALSE(cycle_.Running);
    EXPECT_FALSE(cycle_.TimerProcess.isActive());
    EXPECT_EQ(view_.Events.back(), "Start  ");
    EXPECT_EQ(finished, 1);
}

TEST_F(ProcessingCycleTest, SingleFileModeStoppedByHandStaysStopped)
{
    const std::string single = Drop("goes15.2013.150.120000.4.nc");
    cycle_.SingleFileMode = true;
    cycle_.SingleFileName = single;
    goes_.Process = [&](const std::string&, TGoesFileResult&) {
        cycle_.BitBtnStartStopClick();
        return false;
    };
    RunOneCycle();
    EXPECT_FALSE(cycle_.Running);
    EXPECT_FALSE(cycle_.TimerProcess.isActive());
}

TEST_F(ProcessingCycleTest, TheTimerDrivesTheCycle)
{
    Drop("goes15.2013.150.120000.1.nc");
    QEventLoop loop;
    QObject::connect(&cycle_, &TProcessingCycle::CycleFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    cycle_.BitBtnStartStopClick();
    loop.exec();
    EXPECT_EQ(goes_.Calls.size(), 1u);
    EXPECT_EQ(cycle_.TimerProcess.interval(), 50000);
}

TEST_F(ProcessingCycleTest, ControlCharactersInANameStayInOneLine)
{
    const auto f = Drop("goes15.20\nforged.nc");
    RunOneCycle();
    ASSERT_EQ(log_.Lines().size(), 1u);
    EXPECT_EQ(Logged()[0], in_ + "goes15.20?forged.nc failed");
    EXPECT_EQ(ProgressText(0, 6, ExtractFileName(f)), "0 of 6 done, now goes15.20?forged.nc");
}

}  // namespace

namespace {

struct TProgressCase {
    int files;
    bool reported;
    std::size_t above = TProcessingCycle::ProgressThreshold;
};

class CycleProgressTest : public ProcessingCycleTest, public ::testing::WithParamInterface<TProgressCase> {};

TEST_P(CycleProgressTest, ReportsOnlyLongCyclesAndKeepsTheLogAsItWas)
{
    for (int i = 0; i < GetParam().files; ++i)
        Drop("goes15.2013.150.12" + std::to_string(10 + i) + "00.1.nc");
    std::vector<std::string> seen;
    cycle_.ProgressAbove = GetParam().above;
    cycle_.OnProgress = [&](std::size_t done, std::size_t found, const std::string& file) {
        seen.push_back(ProgressText(done, found, file));
    };
    RunOneCycle();
    const std::size_t n = static_cast<std::size_t>(GetParam().files);
    if (!GetParam().reported) {
        EXPECT_TRUE(seen.empty());
    } else {
        ASSERT_EQ(seen.size(), n + 1);
        EXPECT_EQ(seen.front(), "0 of " + std::to_string(n) + " done, now goes15.2013.150.121000.1.nc");
        EXPECT_EQ(seen[1], "1 of " + std::to_string(n) + " done, now goes15.2013.150.121100.1.nc");
        EXPECT_EQ(seen.back(), std::to_string(n) + " of " + std::to_string(n) + " done");
    }
    // The log has one line per file whether or not progress is shown.
    EXPECT_EQ(Logged().size(), n);
}

INSTANTIATE_TEST_SUITE_P(FileCounts, CycleProgressTest,
                         ::testing::Values(TProgressCase{0, false}, TProgressCase{5, false},
                                           TProgressCase{6, true}, TProgressCase{12, true},
                                           // the window's setting: a short run is reported too
                                           TProgressCase{0, false, 0}, TProgressCase{2, true, 0}));

TEST_F(ProcessingCycleTest, ProgressStopsWhereStopWasPressed)
{
    for (int i = 0; i < 8; ++i) Drop("goes15.2013.150.12" + std::to_string(10 + i) + "00.1.nc");
    std::vector<std::string> seen;
    cycle_.OnProgress = [&](std::size_t done, std::size_t found, const std::string& file) {
        seen.push_back(ProgressText(done, found, file));
        if (done == 2 && !file.empty()) cycle_.StopProcessing();
    };
    RunOneCycle();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "3 of 8 done");
}

// The watched directory brings the next cycle forward; the 50 s timer never fires within these
// tests, so a file handled at all was picked up by the watcher.
class InstantPickUpTest : public ProcessingCycleTest {
protected:
    InstantPickUpTest()
    {
        goes_.Process = [](const std::string& path, TGoesFileResult& r) { return SaveAs(path, r, SectorFullDisk); };
        QObject::connect(&cycle_, &TProcessingCycle::CycleFinished, [this] { ++cycles_; });
        cycle_.EnableInstantPickUp();
        RunOneCycle();  // the first cycle, on an empty directory; the next timed one is 50 s away
        cycles_ = 0;
    }
    // Runs the event loop until the handler has seen count files (or a generous bound).
    void WaitForCalls(std::size_t count)
    {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (goes_.Calls.size() >= count) loop.quit();
        });
        poll.start(10);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    int cycles_ = 0;
};

TEST_F(InstantPickUpTest, AFileWrittenOrMovedInIsHandledBeforeTheTimer)
{
    ASSERT_TRUE(cycle_.InstantPickUp());
    Drop("goes15.2013.150.120000.1.nc");
    WaitForCalls(1);
    EXPECT_EQ(goes_.Calls.size(), 1u);

    const std::string elsewhere = tmp_.Dir("receiver") + "goes15.2013.150.123000.1.nc";
    std::ofstream(elsewhere) << "data";
    std::filesystem::rename(elsewhere, in_ + "goes15.2013.150.123000.1.nc");
    WaitForCalls(2);
    ASSERT_EQ(goes_.Calls.size(), 2u);
    EXPECT_EQ(goes_.Calls[1], in_ + "goes15.2013.150.123000.1.nc");
    EXPECT_EQ(cycle_.TimerProcess.interval(), 50000);
}

// An incoming directory removed and made again, or renamed away and replaced, is watched again
// at once; and a file written to and not closed yet is known as such whoever owns it.
TEST_F(InstantPickUpTest, TheWatchFollowsANewDirectoryAndSeesFilesStillOpen)
{
    std::filesystem::remove_all(in_);
    std::filesystem::create_directory(in_);
    QCoreApplication::processEvents();
    Drop("goes15.2013.150.120000.1.nc");
    WaitForCalls(1);
    EXPECT_EQ(goes_.Calls.size(), 1u);

    std::filesystem::rename(in_, tmp_.Root() + "/old-in");
    std::filesystem::create_directory(in_);
    QCoreApplication::processEvents();
    Drop("goes15.2013.150.123000.1.nc");
    WaitForCalls(2);
    EXPECT_EQ(goes_.Calls.size(), 2u);
    EXPECT_TRUE(cycle_.InstantPickUp());

    const std::string open = in_ + "goes15.2013.150.130000.1.nc.part";
    std::ofstream writer(open);
    writer << "half" << std::flush;
    EXPECT_TRUE(goes_.BeingWritten(open));
    writer.close();
    EXPECT_FALSE(goes_.BeingWritten(open));
}

TEST_F(InstantPickUpTest, ABurstOfFilesTakesOneOrAFewCycles)
{
    for (int i = 0; i < 50; ++i) Drop("goes15.2013.150.12" + std::to_string(10 + i) + "00.1.nc");
    WaitForCalls(50);
    EXPECT_EQ(goes_.Calls.size(), 50u);
    EXPECT_GE(cycles_, 1);
    EXPECT_LE(cycles_, 3);
}

TEST_F(InstantPickUpTest, AFileThatArrivesDuringACycleIsNotLeftForTheTimer)
{
    // The cycle has listed the directory when the second file comes.
    goes_.Process = [this](const std::string& path, TGoesFileResult& r) {
        if (goes_.Calls.size() == 1) Drop("goes15.2013.150.123000.1.nc");
        return SaveAs(path, r, SectorFullDisk);
    };
    Drop("goes15.2013.150.120000.1.nc");
    WaitForCalls(2);
    ASSERT_EQ(goes_.Calls.size(), 2u);
    EXPECT_EQ(goes_.Calls[1], in_ + "goes15.2013.150.123000.1.nc");
}

}  // namespace
