#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "CycleDoubles.h"
#include "publish/StationWatch.h"
#include "base/Files.h"
#include "base/DateTime.h"
#include "support/TempXdg.h"

namespace {

bool OnPath(const char* program)
{
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a command, returning its exit status and what it printed (both streams).
int RunCommand(const std::string& command, std::string& output)
{
    output.clear();
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) output.append(buf, n);
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class StationWatchTest : public ::testing::Test {
protected:
    StationWatchTest()
        : log_(tmp_.Dir("state") + "orvanta-process.log", [this] { return now_; }), cycle_(options_, log_, view_)
    {
        in_ = tmp_.Dir("in");
        img_ = tmp_.Dir("img");
        options_.SetPathText("SourcePath", in_);
        options_.SetPathText("NetCDFPath", tmp_.Dir("raw"));
        options_.SetPathText("SavePath", img_);
        cycle_.SetGoesFileHandler(&goes_);
        cycle_.SetSleep([](int) {});
        goes_.Process = [this](const std::string& path, TGoesFileResult& r) { return Handle(path, r); };
    }
    void MakeWatch()
    {
        status_ = std::make_unique<TStationStatus>(cycle_, "", tmp_.Dir("state") + "orvanta-status.json",
                                                   [this] { return now_; });
        watch_ = std::make_unique<TStationWatch>(
            cycle_, goes_, *status_, [this](const std::string& line) { lines_.push_back(line); }, metrics_,
            [this] { return now_; });
    }
    void Drop(const std::string& name) { std::ofstream(in_ + name) << "data"; }
    void RunOneCycle()
    {
        if (!cycle_.Running) cycle_.BitBtnStartStopClick();
        cycle_.TimerProcessTimer();
    }
    // Band 3 fails; the others save a JPEG and a PNG into a dated folder named SavedName, an
    // ABI file with its pixels' quality.
    bool Handle(const std::string& path, TGoesFileResult& r)
    {
        if (!ParseScanFileName(path, r.ChannelIndex, r.ImageTime))
            return false;
        r.SlotTime = r.ImageTime;
        if (path.find(".3.nc") != std::string::npos) return false;
        std::filesystem::remove(path);
        const bool abi = IsAbiChannel(r.ChannelIndex);
        r.Sector = abi ? std::uint8_t{SectorAbiFullDisk} : std::uint8_t{SectorFullDisk};
        r.Quality = abi ? std::optional<TAbiQuality>(TAbiQuality{990, 4, 2, 4, 99.0}) : std::nullopt;
        for (const char* ext : {".png", ".jpg"}) {
            const std::string name = img_ + "2013/05/30/" + SavedName + ext;
            TTempXdg::WriteText(name, ExtractFileName(path) + ext);
            r.SavedFileName = name;
            goes_.OnImageSaved(r.ChannelIndex, name);
        }
        return true;
    }
    std::string Html() const { return TTempXdg::ReadText(img_ + "index.html"); }

    TAsProgram program_;
    TTempXdg tmp_;
    TDateTime now_ = *TryEncodeDate(2013, 5, 30) + 0.5;
    std::string in_, img_;
    std::string metrics_ = tmp_.Dir("state") + "orvanta.prom";
    std::string SavedName = "ir";
    const std::string AbiFile = "OR_ABI-L1b-RadF-M6C13_G18_s20131501200210_e20131501209518_c20131501209580.nc";
    TFixedOptions options_;
    TProcessLog log_;
    TRecordingView view_;
    TFakeGoesHandler goes_;
    TProcessingCycle cycle_;
    std::unique_ptr<TStationStatus> status_;
    std::unique_ptr<TStationWatch> watch_;
    std::vector<std::string> lines_;
};

TEST_F(StationWatchTest, EverySaveReplacesTheChannelsFixedNamesAndListsTheImage)
{
    MakeWatch();
    EXPECT_NE(Html().find("No image yet"), std::string::npos) << "the page is written at start";
    Drop("goes15.2013.150.120000.4.nc");
    RunOneCycle();
    EXPECT_EQ(TTempXdg::ReadText(img_ + "latest/ir.jpg"), "goes15.2013.150.120000.4.nc.jpg");
    EXPECT_EQ(TTempXdg::ReadText(img_ + "latest/ir.png"), "goes15.2013.150.120000.4.nc.png");
    // The next save replaces both, and leaves no temporary behind.
    Drop("goes15.2013.150.123000.4.nc");
    SavedName = "ir2";
    RunOneCycle();
    EXPECT_EQ(TTempXdg::ReadText(img_ + "latest/ir.jpg"), "goes15.2013.150.123000.4.nc.jpg");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(img_ + "latest"), {}), 3);  // two images, the index
    const QJsonObject index = QJsonDocument::fromJson(QByteArray::fromStdString(TTempXdg::ReadText(img_ + "latest/index.json"))).object();
    const QJsonArray ir = index["channels"].toArray()[3].toObject()["images"].toArray();
    ASSERT_EQ(ir.size(), 2);
    EXPECT_EQ(ir[1].toObject()["file"].toString(), "2013/05/30/ir2.jpg");
    // Every kind saved is listed, not only the one shown.
    EXPECT_EQ(ir[1].toObject()["kinds"].toArray(), (QJsonArray{"2013/05/30/ir2.png", "2013/05/30/ir2.jpg"}));
    EXPECT_EQ(ir[1].toObject()["time"].toString(), "2013-05-30T12:30:00Z");
    EXPECT_NE(Html().find("src=\"latest/ir.jpg\""), std::string::npos);
    EXPECT_TRUE(lines_.empty());
}

// A latest/ that cannot be made (a file stands in its place): one line, and the file is
// processed all the same.
TEST_F(StationWatchTest, AnUnwritableLatestDirectoryIsSaidOnceAndProcessingGoesOn)
{
    TTempXdg::WriteText(img_ + "latest", "not a directory");
    MakeWatch();
    Drop("goes15.2013.150.120000.4.nc");
    Drop("goes15.2013.150.123000.4.nc");
    RunOneCycle();
    EXPECT_EQ(cycle_.LastOutcome(), TFileOutcome::Processed);
    EXPECT_TRUE(std::filesystem::exists(img_ + "2013/05/30/ir.jpg"));
    std::size_t latestLines = 0;
    for (const std::string& l : lines_) latestLines += l.find("Latest images in ") == 0;
    EXPECT_EQ(latestLines, 1u) << ::testing::PrintToString(lines_);
}

// The metrics a monitoring system reads count by channel, and Prometheus' own checker takes
// them, even with a directory name full of characters the format must escape.
TEST_F(StationWatchTest, MetricsCountByChannelAndPassPromtool)
{
    // A directory name is bytes, not always UTF-8 (an archive copied from another machine).
    const std::string odd = tmp_.Dir("raw \"q\" <a&b>\nx\xff");
    options_.SetPathText("NetCDFPath", odd);
    MakeWatch();
    Drop("goes15.2013.150.120000.1.nc");
    Drop("goes15.2013.150.120000.3.nc");
    Drop(AbiFile);
    RunOneCycle();
    EXPECT_EQ(TTempXdg::ReadText(img_ + "latest/g18-c13.jpg"), AbiFile + ".jpg");
    const std::string text = TTempXdg::ReadText(metrics_);
    EXPECT_NE(text.find("orvanta_files_processed_total{channel=\"vis\"} 1\n"), std::string::npos) << text;
    // ABI bands after the GOES-15 channels, which keep their labels; only bands that had files.
    EXPECT_NE(text.find("orvanta_files_processed_total{channel=\"co2\"} 0\n"
                        "orvanta_files_processed_total{channel=\"g18-c13\",satellite=\"G18\",band=\"13\"} 1\n#"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(
                  "orvanta_abi_pixels_total{channel=\"g18-c13\",satellite=\"G18\",band=\"13\",quality=\"good\"} 990\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("quality=\"out_of_range\"} 2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("orvanta_files_failed_total{channel=\"wv\"} 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("orvanta_last_image_timestamp_seconds{channel=\"vis\"} 1369915200\n"), std::string::npos) << text;
    EXPECT_NE(text.find("raw \\\"q\\\" <a&b>\\nx"), std::string::npos) << text;
    // The bucket bounds as written in the program, not as their nearest doubles print in full.
    EXPECT_NE(text.find("orvanta_file_processing_seconds_bucket{le=\"0.05\"} "), std::string::npos) << text;
    watch_.reset();
    EXPECT_NE(TTempXdg::ReadText(metrics_).find("orvanta_up 0\n"), std::string::npos);
    if (!OnPath("promtool")) GTEST_SKIP() << "promtool is not installed (Debian package prometheus)";
    std::string output;
    EXPECT_EQ(RunCommand("promtool check metrics < '" + metrics_ + "'", output), 0) << output;
    EXPECT_EQ(output, "");
}

// The metrics take a file put aside from what the product says of it, and an entry left alone
// after it, met every cycle, as one failure: neither as put aside nor once per cycle.
TEST_F(StationWatchTest, MetricsCountAFilePutAsideAndAnEntryLeftAloneOnce)
{
    goes_.Process = [](const std::string&, TGoesFileResult& r) {
        r.FailureReason = "not a netCDF file";
        r.Fate = TFileFate::PutAside;
        return false;
    };
    MakeWatch();
    Drop("goes15.2013.150.120000.3.nc");
    const std::string fifo = in_ + "goes15.2013.150.123000.1.nc";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    RunOneCycle();
    std::filesystem::remove(in_ + "goes15.2013.150.120000.3.nc");
    RunOneCycle();
    const std::string text = TTempXdg::ReadText(metrics_);
    EXPECT_NE(text.find("orvanta_files_put_aside_total{channel=\"wv\"} 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("orvanta_files_failed_total{channel=\"vis\"} 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("orvanta_files_put_aside_total{channel=\"vis\"} 0\n"), std::string::npos) << text;
}

struct TRefusedMetricsCase {
    const char* name;
    // The MetricsFile of the row, from the image directory and a scratch directory.
    std::string (*path)(const std::string& images, const std::string& scratch);
    const char* reason;
};

class RefusedMetricsFileTest : public StationWatchTest, public ::testing::WithParamInterface<TRefusedMetricsCase> {};

// A MetricsFile that names a file the station keeps, or lies where it takes or makes files,
// would have that file overwritten every minute: nothing is written there, and it is said once.
TEST_P(RefusedMetricsFileTest, NothingIsWrittenAndItIsSaidOnce)
{
    TTempXdg::WriteText(RegistryFilePath(), "Windows Registry Editor Version 5.00\n");
    TTempXdg::WriteText(ProcessLogPath(), "earlier\n");
    std::filesystem::create_directory_symlink(StateDirectory(), tmp_.Root() + "/linked");
    metrics_ = GetParam().path(img_, tmp_.Root());
    MakeWatch();
    Drop("goes15.2013.150.120000.4.nc");
    RunOneCycle();
    watch_.reset();
    EXPECT_EQ(TTempXdg::ReadText(RegistryFilePath()).find("orvanta_up"), std::string::npos);
    EXPECT_EQ(TTempXdg::ReadText(ProcessLogPath()), "earlier\n");
    EXPECT_FALSE(std::filesystem::exists(img_ + "m.prom"));
    EXPECT_FALSE(std::filesystem::exists("m.prom"));
    EXPECT_TRUE(std::filesystem::exists(img_ + "2013/05/30/ir.jpg")) << "the file is processed all the same";
    std::size_t said = 0;
    const std::string line =
        "Metrics file " + metrics_ + " cannot be written: " + GetParam().reason + "; processing goes on";
    for (const std::string& l : lines_) said += l == line;
    EXPECT_EQ(said, 1u) << ::testing::PrintToString(lines_);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RefusedMetricsFileTest,
    ::testing::Values(
        // Under systemd the working directory is '/'.
        TRefusedMetricsCase{"Relative", [](const std::string&, const std::string&) { return std::string("m.prom"); },
                            "the setting MetricsFile is a relative path, which would be taken from the working "
                            "directory"},
        TRefusedMetricsCase{"SettingsThroughDotDot",
                            [](const std::string&, const std::string&) {
                                return ConfigDirectory() + "../Quillon/registry.reg";
                            },
                            "the setting MetricsFile names the settings file"},
        TRefusedMetricsCase{"LogThroughALinkedDirectory",
                            [](const std::string&, const std::string& scratch) {
                                return scratch + "/linked/orvanta-process.log";
                            },
                            "the setting MetricsFile names the process log"},
        TRefusedMetricsCase{"InTheImageDirectory",
                            [](const std::string& images, const std::string&) { return images + "latest/../m.prom"; },
                            "the setting MetricsFile lies in the image directory"}),
    [](const auto& info) { return std::string(info.param.name); });

// A real browser loads the page from file://: five channels and an ABI band with their scan
// times, the ages the page's script works out, and no script error on the console.
TEST_F(StationWatchTest, ABrowserShowsEveryChannelWithItsTimeAndAge)
{
    if (!OnPath("chromium")) GTEST_SKIP() << "chromium is not installed";
    SavedName = "it's <5> & \"more\"";
    MakeWatch();
    for (const char* band : {"1", "2", "3", "4", "6"}) {
        SavedName += band;
        Drop(std::string("goes15.2013.150.120000.") + band + ".nc");
        RunOneCycle();  // band 3 fails: its card says so
    }
    SavedName += "c13";
    Drop(AbiFile);
    RunOneCycle();
    const std::string profile = tmp_.Dir("chromium");
    std::string dom;
    const int rc = RunCommand("timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                              "--disable-background-networking --disable-component-update --disable-sync "
                              "--user-data-dir='" + profile + "' --enable-logging=stderr --v=0 "
                              "--window-size=390,844 --virtual-time-budget=2000 --dump-dom 'file://" + img_ + "index.html'",
                              dom);
    ASSERT_EQ(rc, 0) << dom;
    EXPECT_EQ(dom.find("Uncaught"), std::string::npos) << dom;
    std::size_t channels = 0, ages = 0, times = 0;
    for (auto at = dom.find("class=\"channel\""); at != std::string::npos; at = dom.find("class=\"channel\"", at + 1))
        ++channels;
    for (auto at = dom.find(" ago</span>"); at != std::string::npos; at = dom.find(" ago</span>", at + 1)) ++ages;
    for (auto at = dom.find("2013-05-30 12:00 UTC</time>"); at != std::string::npos;
         at = dom.find("2013-05-30 12:00 UTC</time>", at + 1))
        ++times;
    EXPECT_EQ(channels, 6u);
    EXPECT_EQ(times, 5u);
    EXPECT_NE(dom.find("No image yet"), std::string::npos);
    // The ABI band's card after the GOES-15 ones.
    ASSERT_NE(dom.find("id=\"ch-g18-c13\""), std::string::npos) << dom;
    EXPECT_GT(dom.find("id=\"ch-g18-c13\""), dom.find("id=\"ch-co2\"")) << dom;
    EXPECT_GE(ages, 5u) << dom;
    // What a phone shows first is for people: the station's directories wait behind a click.
    const std::string open = dom.substr(0, dom.find("<details"));
    EXPECT_NE(open.size(), dom.size());
    for (const std::string& dir : {img_, in_}) EXPECT_EQ(open.find(dir), std::string::npos) << dir;
    EXPECT_NE(open.find("1 failed"), std::string::npos);
}

struct TEscapeCase {
    const char* name;
    std::string (*escape)(std::string_view);
    const char* in;
    const char* out;
};

std::string Json(std::string_view s)
{
    return JsonForScript(QJsonObject{{"f", QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()))}});
}

class WebEscapeTest : public ::testing::TestWithParam<TEscapeCase> {};

TEST_P(WebEscapeTest, AFileNameCannotBreakOutOfItsPlace)
{
    EXPECT_EQ(GetParam().escape(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WebEscapeTest,
    ::testing::Values(
        TEscapeCase{"HtmlText", HtmlEscaped, "a\"b'<c>&d", "a&quot;b&#39;&lt;c&gt;&amp;d"},
        TEscapeCase{"ScriptEnd", Json, "</script><!--\xE2\x80\xA8", "{\"f\":\"\\u003c/script\\u003e\\u003c!--\\u2028\"}"},
        TEscapeCase{"ScriptQuoteAndLine", Json, "a\"\nb&", "{\"f\":\"a\\\"\\nb\\u0026\"}"},
        TEscapeCase{"Url", UrlPath, "2013/05/a b\"#?%\n.jpg", "2013/05/a%20b%22%23%3F%25%0A.jpg"},
        TEscapeCase{"MetricsLabel", MetricsLabelValue, "a\\b\"c\nd", "a\\\\b\\\"c\\nd"},
        TEscapeCase{"MetricsLabelNotUtf8", MetricsLabelValue, "a\xff" "b\xc3", "a\xef\xbf\xbd" "b\xef\xbf\xbd"}),
    [](const auto& info) { return std::string(info.param.name); });

// A scan's image saved under a name full of quotes, '<', '&' and a line feed shows in the
// page without leaving its attribute or string.
TEST_F(StationWatchTest, AnOddImageNameStaysInsideThePage)
{
    SavedName = "a\"b<i>&c'\nd";
    MakeWatch();
    Drop("goes15.2013.150.120000.4.nc");
    RunOneCycle();
    const std::string html = Html();
    EXPECT_EQ(html.find("<i>"), std::string::npos);
    EXPECT_EQ(html.find("a\"b"), std::string::npos);
    EXPECT_NE(html.find("a\\\"b\\u003ci\\u003e\\u0026c'\\nd.jpg"), std::string::npos);
}

TEST(ImageIndexTest, KeepsTheLastDayOfEachChannelAndContinuesAfterARestart)
{
    TImageIndex index;
    const TDateTime day = *TryEncodeDate(2013, 5, 30);
    for (int h = 0; h <= 30; h += 6) index.Add(0, "v" + std::to_string(h) + ".jpg", day + h / 24.0, "FD");
    index.Add(0, "v30.jpg", day + 30 / 24.0, "NH");  // the same image again: replaced, not doubled
    ASSERT_EQ(index.Images(0).size(), 5u);           // 6 h to 30 h
    EXPECT_EQ(index.Images(0).front().File, "v6.jpg");
    EXPECT_EQ(index.Images(0).back().Sector, "NH");
    TImageIndex again;
    again.Load(QJsonDocument(index.ToJson(day)).toJson().toStdString());
    EXPECT_EQ(again.Images(0).size(), 5u);
    EXPECT_NEAR(again.Images(0).back().Time, day + 30 / 24.0, 1e-6);
}

}  // namespace
