#include <gtest/gtest.h>

#include <bzlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "CycleDoubles.h"
#include "product/GeoFileRoute.h"
#include "mapping/GeoFileWriter.h"
#include "settings/ProgramPaths.h"
#include "support/TempXdg.h"

namespace {

namespace fs = std::filesystem;

// A grid of 0.1 degree cells from its north-western corner.
void WriteGrid(const std::string& path, int columns, int rows, float west, float north)
{
    std::vector<float> lon, lat;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            lon.push_back(west + 0.1f * static_cast<float>(c));
            lat.push_back(north - 0.1f * static_cast<float>(r));
        }
    geotest::WriteGeoFile(path, static_cast<std::size_t>(columns), static_cast<std::size_t>(rows), lon, lat);
}

// A northern sector grid that reaches the equator and the sub-satellite meridian.
void WriteNorthernGrid(const std::string& path) { WriteGrid(path, 400, 401, -160.0f, 40.0f); }

class GeoFileRouteTest : public ::testing::Test {
protected:
    GeoFileRouteTest()
        : log_(tmp_.Dir("state") + "orvanta-process.log", [] { return *TryEncodeDate(2013, 5, 30) + 0.5; }),
          route_(options_, tmp_.Dir("state") + "orvanta-geo.log"), cycle_(options_, log_, view_)
    {
        in_ = tmp_.Dir("in");
        raw_ = tmp_.Dir("raw");
        options_.SetPathText("SourcePath", in_);
        options_.SetPathText("NetCDFPath", raw_);
        options_.SetPathText("SavePath", tmp_.Dir("img"));
        route_.SetClock([] { return *TryEncodeDate(2013, 6, 1) + 0.25; });
        route_.OnReport = [this](const TLines& lines) { reports_.push_back(lines); };
        route_.OnLogLine = [this](const std::string& line) { log_.AddLogLine(line, 0); };
        cycle_.SetGeoFileHandler(&route_);
        cycle_.GeoMode = true;
        cycle_.GeoLogPath = tmp_.Dir("state") + "orvanta-geo.log";
        cycle_.SetSleep([](int) {});
    }

    void RunOneCycle()
    {
        if (!cycle_.Running)
            cycle_.BitBtnStartStopClick();
        cycle_.TimerProcessTimer();
    }

    TAsProgram program_;
    TTempXdg tmp_;
    std::string in_, raw_;
    TFixedOptions options_;
    TProcessLog log_;
    TRecordingView view_;
    TGeoFileRoute route_;
    TProcessingCycle cycle_;
    std::vector<TLines> reports_;
};

TEST_F(GeoFileRouteTest, CycleHandsGeoFilesToTheDiagnostics)
{
    WriteNorthernGrid(in_ + "goes15.2013.150.120018_geo.nc");
    RunOneCycle();

    EXPECT_FALSE(fs::exists(in_ + "goes15.2013.150.120018_geo.nc"));
    // Archived under the slot's date, then removed: "Save as NetCDF" is off by default.
    EXPECT_TRUE(fs::is_directory(raw_ + "2013/05/30"));
    EXPECT_FALSE(fs::exists(raw_ + "2013/05/30/goes15.2013.150.120018_geo.nc"));
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0][0], raw_ + "2013/05/30/goes15.2013.150.120018_geo.nc");
    EXPECT_EQ(route_.Report(), reports_[0]);
    // The summary leads with the offsets, then both fits with their correlations.
    const TLines summary = DiagsSummary(reports_[0]);
    ASSERT_EQ(summary.size(), 3u);
    EXPECT_EQ(summary[0].rfind("Suggest offsets:  row: ", 0), 0u) << summary[0];
    EXPECT_EQ(summary[1].rfind("Vertical (latitude) fit:  ", 0), 0u) << summary[1];
    EXPECT_EQ(summary[2].rfind("Horizontal (longitude) fit:  ", 0), 0u) << summary[2];
    EXPECT_NE(summary[2].find(",  correlation: "), std::string::npos);
    const auto geoLog = TTempXdg::ReadText(cycle_.GeoLogPath);
    EXPECT_EQ(geoLog.rfind("goes15.2013.150.120018_geo.nc NH  Xc:0400 Yc:0401, V:", 0), 0u) << geoLog;
    EXPECT_TRUE(log_.Lines().empty());
}

struct TSatelliteCase {
    const char* setting;
    float gridCentre;  // the longitude of a full disk's middle column
    const char* logged;  // empty: nothing
};

class GeoFileSatelliteTest : public GeoFileRouteTest, public ::testing::WithParamInterface<TSatelliteCase> {};

// A full disk tells where the satellite stood: a station set for its other place is told once
// per file, and what to set.
TEST_P(GeoFileSatelliteTest, AFullDiskAwayFromTheSettingIsLogged)
{
    options_.SetPathText("SatelliteLongitude", GetParam().setting);
    WriteGrid(in_ + "goes15.2013.150.120018_geo.nc", 61, 201, GetParam().gridCentre - 3.0f, 10.0f);
    RunOneCycle();
    ASSERT_EQ(reports_.size(), 1u);
    const std::string logged = GetParam().logged;
    ASSERT_EQ(log_.Lines().size(), logged.empty() ? 0u : 1u);
    if (!logged.empty()) {
        EXPECT_EQ(log_.Lines()[0].substr(25), logged);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Longitudes, GeoFileSatelliteTest,
    ::testing::Values(TSatelliteCase{"-128", -135.0f,
                                     "Geolocation file goes15.2013.150.120018_geo.nc: the satellite stands at 135.0 W "
                                     "by its grids, the setting SatelliteLongitude says -128; set SatelliteLongitude "
                                     "to -135 for scans of this time"},
                      TSatelliteCase{"-135", -135.0f, ""}, TSatelliteCase{"-128", -128.8f, ""}));

TEST_F(GeoFileRouteTest, KeepsTheArchivedFileWhenSavingNetCdf)
{
    options_.SetTicked("SaveAsNetCDF", true);
    WriteNorthernGrid(in_ + "goes15.2013.150.120018_geo.nc");
    RunOneCycle();
    EXPECT_TRUE(fs::exists(raw_ + "2013/05/30/goes15.2013.150.120018_geo.nc"));
}

TEST_F(GeoFileRouteTest, DamagedCompressedFileIsLoggedAsFailedAndTheCycleGoesOn)
{
    std::ofstream(in_ + "goes15.2013.150.120018_geo.nc.bz2", std::ios::binary)
        << "BZh91AY&SY" << std::string(200, '\x5a');
    WriteNorthernGrid(in_ + "goes15.2013.150.123018_geo.nc");
    RunOneCycle();

    ASSERT_EQ(log_.Lines().size(), 1u);
    const std::string line = log_.Lines()[0].substr(25);
    EXPECT_EQ(line.rfind(in_ + "goes15.2013.150.120018_geo.nc.bz2 failed: Could not decompress ", 0), 0u) << line;
    // The compressed copy stays in the archive; the incoming directory is cleared.
    EXPECT_TRUE(fs::exists(raw_ + "2013/05/30/goes15.2013.150.120018_geo.nc.bz2"));
    EXPECT_FALSE(fs::exists(in_ + "goes15.2013.150.120018_geo.nc.bz2"));
    // The next file went through.
    EXPECT_FALSE(fs::exists(in_ + "goes15.2013.150.123018_geo.nc"));
    ASSERT_EQ(reports_.size(), 2u);
    EXPECT_EQ(reports_[1][0], raw_ + "2013/05/30/goes15.2013.150.123018_geo.nc");
    EXPECT_TRUE(cycle_.TimerProcess.isActive());
}

TEST_F(GeoFileRouteTest, UnparsedNameFallsBackToTheClock)
{
    options_.SetTicked("SaveAsNetCDF", true);
    WriteNorthernGrid(in_ + "goes15.20zz_geo.nc");
    route_.ProcessGeoFile(in_ + "goes15.20zz_geo.nc");
    EXPECT_TRUE(fs::exists(raw_ + "2013/06/01/goes15.20zz_geo.nc"));
}

TEST_F(GeoFileRouteTest, ReportFileIsReplacedAndPrinted)
{
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(WriteDiagsReport({"first", "", "x-count: 1  y-count: 2"}, out));
    ASSERT_TRUE(WriteDiagsReport({"second"}, out));
    EXPECT_EQ(DiagsReportPath(), StateDirectory() + "orvanta-diags.txt");
    EXPECT_EQ(TTempXdg::ReadText(DiagsReportPath()), "second\n");
    std::rewind(out);
    char buffer[128] = {};
    const auto read = std::fread(buffer, 1, sizeof buffer - 1, out);
    std::fclose(out);
    EXPECT_EQ(std::string(buffer, read), "first\n\nx-count: 1  y-count: 2\nsecond\n");
}

} // namespace
