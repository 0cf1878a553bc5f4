#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>

#include "CycleDoubles.h"
#include "publish/StationStatus.h"
#include "base/Files.h"
#include "base/DateTime.h"
#include "support/TempXdg.h"

namespace {

class StationStatusTest : public ::testing::Test {
protected:
    StationStatusTest()
        : log_(tmp_.Dir("state") + "orvanta-process.log", [this] { return now_; }), cycle_(options_, log_, view_)
    {
        in_ = tmp_.Dir("in");
        path_ = tmp_.Dir("state") + "orvanta-status.json";
        options_.SetPathText("SourcePath", in_);
        options_.SetPathText("NetCDFPath", tmp_.Dir("raw"));
        options_.SetPathText("SavePath", tmp_.Dir("img"));
        cycle_.SetGoesFileHandler(&goes_);
        cycle_.SetSleep([](int) {});
    }
    std::unique_ptr<TStationStatus> MakeStatus()
    {
        return std::make_unique<TStationStatus>(cycle_, "/usr/share/gshhg/gshhs_i.b", path_, [this] { return now_; });
    }
    QJsonObject Read() const
    {
        return QJsonDocument::fromJson(QByteArray::fromStdString(TTempXdg::ReadText(path_))).object();
    }
    void Drop(const std::string& name) { std::ofstream(in_ + name) << "data"; }
    void RunOneCycle()
    {
        if (!cycle_.Running) cycle_.BitBtnStartStopClick();
        cycle_.TimerProcessTimer();
    }
    // Band 1 a saved full disk, band 2 a skipped northern sector, band 4 a failure with a
    // reason, band 3 one without; an ABI file a saved full disk with its pixels' quality.
    static bool Handle(const std::string& path, TGoesFileResult& r)
    {
        if (!ParseScanFileName(path, r.ChannelIndex, r.ImageTime))
            return false;
        r.SlotTime = r.ImageTime;
        if (path.find(".4.nc") != std::string::npos) throw std::runtime_error("Disk full");
        if (path.find(".3.nc") != std::string::npos) return false;
        std::filesystem::remove(path);
        const bool abi = IsAbiChannel(r.ChannelIndex);
        r.Sector = r.ChannelIndex == 0 ? SectorFullDisk : SectorNorthern;
        if (abi)
            r.Sector = SectorAbiFullDisk;
        r.Quality = abi ? std::optional<TAbiQuality>(TAbiQuality{990, 4, 2, 4, 99.0}) : std::nullopt;
        r.Skipped = r.Sector == SectorNorthern;
        if (!r.Skipped) r.SavedFileName = "/img/" + ExtractFileName(path) + ".jpg";
        return true;
    }

    TAsProgram program_;
    TTempXdg tmp_;
    TDateTime now_ = *TryEncodeDate(2013, 5, 30) + 0.5;
    std::string in_, path_;
    TFixedOptions options_;
    TProcessLog log_;
    TRecordingView view_;
    TFakeGoesHandler goes_;
    TProcessingCycle cycle_;
};

TEST_F(StationStatusTest, CountsLastImagesAndTheLastFailureWithItsReason)
{
    goes_.Process = Handle;
    auto status = MakeStatus();
    Drop("goes15.2013.150.120000.1.nc");
    Drop("goes15.2013.150.120000.2.nc");
    Drop("goes15.2013.150.120000.4.nc");
    Drop("goes15.2013.150.123000.3.nc");
    // Band 2 of GOES-18: a band digit GOES-15 has too.
    Drop("OR_ABI-L1b-RadF-M6C02_G18_s20131501200210_e20131501209518_c20131501209580.nc");
    RunOneCycle();
    QJsonObject s = Read();
    EXPECT_EQ(s["pid"].toInteger(), ::getpid());
    EXPECT_EQ(s["started"].toString(), "2013-05-30T12:00:00Z");
    EXPECT_EQ(s["last_cycle"].toString(), "2013-05-30T12:00:00Z");
    EXPECT_EQ(s["next_cycle"].toString(), "2013-05-30T12:00:50Z");
    EXPECT_EQ(s["since_start"].toObject()["processed"].toInt(), 2);
    EXPECT_EQ(s["since_start"].toObject()["skipped"].toInt(), 1);
    EXPECT_EQ(s["since_start"].toObject()["failed"].toInt(), 2);
    EXPECT_EQ(s["incoming"].toObject()["waiting"].toInt(), 2);  // the failed ones stay
    EXPECT_EQ(s["coastlines"].toString(), "/usr/share/gshhg/gshhs_i.b");
    const QJsonObject band1 = s["channels"].toArray()[0].toObject();
    EXPECT_EQ(band1["file"].toString(), "/img/goes15.2013.150.120000.1.nc.jpg");
    EXPECT_EQ(band1["sector"].toString(), "FD");
    EXPECT_EQ(band1["time"].toString(), "2013-05-30T12:00:00Z");
    EXPECT_TRUE(s["channels"].toArray()[1].toObject()["file"].isNull());  // skipped, nothing saved
    // The ABI band after the GOES-15 channels, only the one that has an image.
    ASSERT_EQ(s["channels"].toArray().size(), 6);
    const QJsonObject abi = s["channels"].toArray()[5].toObject();
    EXPECT_EQ(abi["satellite"].toString(), "GOES-18");
    EXPECT_EQ(abi["band"].toString(), "2");
    EXPECT_EQ(abi["sector"].toString(), "FD");
    EXPECT_EQ(s["abi_quality"].toObject()["tag"].toString(), "g18-c02");
    EXPECT_EQ(s["abi_quality"].toObject()["no_value"].toInt(), 4);
    const QJsonObject failure = s["last_failure"].toObject();
    EXPECT_EQ(failure["file"].toString().toStdString(), in_ + "goes15.2013.150.123000.3.nc");
    EXPECT_EQ(failure["reason"].toString(), "");  // the handler gave none
    goes_.Process = [](const std::string&, TGoesFileResult&) -> bool { throw std::runtime_error("Disk full"); };
    RunOneCycle();
    EXPECT_EQ(Read()["last_failure"].toObject()["reason"].toString(), "Disk full");
    // Tried again, the same two files are still two failures, not four.
    EXPECT_EQ(Read()["today"].toObject()["failed"].toInt(), 2);
    EXPECT_EQ(Read()["since_start"].toObject()["failed"].toInt(), 2);

    // A restart the same day keeps the day's counts and images; the next day starts afresh.
    status.reset();
    status = MakeStatus();
    s = Read();
    EXPECT_EQ(s["since_start"].toObject()["failed"].toInt(), 0);
    EXPECT_EQ(s["today"].toObject()["failed"].toInt(), 2);
    EXPECT_EQ(s["channels"].toArray()[0].toObject()["sector"].toString(), "FD");
    // Each band's image back in its own place: the ABI's band 2 is not GOES-15's.
    EXPECT_TRUE(s["channels"].toArray()[1].toObject()["file"].isNull());
    EXPECT_EQ(s["channels"].toArray()[5].toObject()["file"], abi["file"]);
    EXPECT_EQ(s["abi_quality"].toObject()["good"].toInt(), 990);
    now_ += 1;
    RunOneCycle();
    s = Read();
    EXPECT_EQ(s["today"].toObject()["date"].toString(), "2013-05-31");
    EXPECT_EQ(s["today"].toObject()["failed"].toInt(), 2);
    EXPECT_EQ(s["since_start"].toObject()["failed"].toInt(), 2);

    status->Closed();
    s = Read();
    EXPECT_EQ(s["closed"].toString(), "2013-05-31T12:00:00Z");
    EXPECT_FALSE(s["processing"].toBool());
}

TEST_F(StationStatusTest, AnEntryLeftAloneCountsOnceNotEveryCycle)
{
    auto status = MakeStatus();
    const std::string fifo = in_ + "goes15.2013.150.120000.1.nc";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    RunOneCycle();
    RunOneCycle();
    const QJsonObject s = Read();
    EXPECT_EQ(s["since_start"].toObject()["failed"].toInt(), 1);
    EXPECT_EQ(s["last_failure"].toObject()["reason"].toString(), "a FIFO, not a regular file");
}

// Whoever else listens to the cycle, before the status was made or after it, leaves the status
// counting and hears of a file only once it is counted: a page shows the file it announces.
TEST_F(StationStatusTest, OtherListenersHearOfAFileAfterTheStatusCountedIt)
{
    goes_.Process = Handle;
    std::vector<int> counted;
    const auto told = [&](const THandledEntry&) {
        counted.push_back(Read()["since_start"].toObject()["processed"].toInt());
    };
    const auto before = cycle_.OnFileHandled.Add(told);
    auto status = MakeStatus();
    const auto after = cycle_.OnFileHandled.Add(told);
    Drop("goes15.2013.150.120000.1.nc");
    RunOneCycle();
    EXPECT_EQ(counted, (std::vector<int>{1, 1}));
}

TEST_F(StationStatusTest, AReaderNeverSeesAHalfWrittenFile)
{
    auto status = MakeStatus();
    for (int i = 0; i < 20; ++i) Drop("goes15.2013.150.12" + std::to_string(10 + i) + "00.1.nc");
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, broken{0};
    std::thread reader([&] {
        while (!done) {
            const std::string text = TTempXdg::ReadText(path_);
            if (!QJsonDocument::fromJson(QByteArray::fromStdString(text)).isObject()) ++broken;
            ++reads;
        }
    });
    for (int i = 0; i < 300; ++i) status->Write();
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(broken.load(), 0);
}

// What --status says and answers, for a status file as a station left it.
struct THealthCase {
    const char* name;
    std::function<void(QJsonObject&)> change;
    double secondsLater;
    TStatusHealth health;
    const char* says;
};

class StatusHealthTest : public StationStatusTest, public ::testing::WithParamInterface<THealthCase> {};

TEST_P(StatusHealthTest, PrintsAndAnswers)
{
    const THealthCase& c = GetParam();
    cycle_.BitBtnStartStopClick();
    QJsonObject s;
    {
        auto status = MakeStatus();
        s = status->ToJson();
    }
    if (c.change) c.change(s);
    TTempXdg::WriteText(path_, QJsonDocument(s).toJson().toStdString());
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    const TStatusHealth health = PrintStatus(path_, out, now_ + c.secondsLater / 86400.0);
    std::fclose(out);
    const std::string printed(text, size);
    std::free(text);
    EXPECT_EQ(health, c.health) << printed;
    EXPECT_NE(printed.find(c.says), std::string::npos) << printed;
}

pid_t GonePid()
{
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StatusHealthTest,
    ::testing::Values(
        THealthCase{"JustStarted", {}, 5, TStatusHealth::Healthy, "orvanta: running, pid "},
        THealthCase{"Hung", {}, StatusStaleSeconds + 1, TStatusHealth::NotHealthy, "seems to hang"},
        THealthCase{"RecentCycle",
                    [](QJsonObject& s) {
                        s["last_cycle"] = "2013-05-30T12:05:00Z";
                        s["updated"] = "2013-05-30T12:05:00Z";
                    },
                    300 + 60, TStatusHealth::Healthy, "last cycle 2013-05-30 12:05:00 UTC (60 s ago)"},
        THealthCase{"ProcessingOff", [](QJsonObject& s) { s["processing"] = false; }, 5, TStatusHealth::NotHealthy,
                    "switched off"},
        // A station that cannot write (a full disk) left the file of its start, before
        // processing was on; it once read as switched off.
        THealthCase{"StatusNotWritten", [](QJsonObject& s) { s["processing"] = false; }, StatusStaleSeconds + 1,
                    TStatusHealth::NotHealthy, "the status could not be written since 2013-05-30 12:00:00 UTC"},
        THealthCase{"PidGone", [](QJsonObject& s) { s["pid"] = static_cast<qint64>(GonePid()); }, 5,
                    TStatusHealth::NotHealthy, "not running (pid "},
        THealthCase{"PidTakenByAnother", [](QJsonObject& s) { s["process_start_ticks"] = 1; }, 5,
                    TStatusHealth::NotHealthy, "not running"},
        THealthCase{"Closed", [](QJsonObject& s) { s["closed"] = "2013-05-30T12:00:02Z"; }, 5,
                    TStatusHealth::NotHealthy, "not running (closed 2013-05-30 12:00:02 UTC)"},
        THealthCase{"DiskLow",
                    [](QJsonObject& s) {
                        QJsonObject disk = s["disk"].toObject();
                        disk["low"] = "Disk low: /srv/goes/raw/ has 3 MB free, below the limit of 1024 MB; files wait "
                                      "in the incoming directory";
                        s["disk"] = disk;
                    },
                    5, TStatusHealth::NotHealthy, "Health:        Disk low: /srv/goes/raw/ has 3 MB free"},
        THealthCase{"AbiQuality",
                    [](QJsonObject& s) {
                        s["abi_quality"] = QJsonObject{{"tag", "g18-c13"},  {"time", "2013-05-30T12:00:00Z"},
                                                       {"good", 95},        {"conditional", 1},
                                                       {"out_of_range", 2}, {"no_value", 3}};
                    },
                    5, TStatusHealth::Healthy,
                    "Last ABI file: g18-c13 2013-05-30 12:00  quality: good 94.1 %, conditional 1, out of range 2, "
                    "no value 3\n"},
        THealthCase{"Empty", [](QJsonObject& s) { s = QJsonObject(); }, 5, TStatusHealth::NotHealthy,
                    "not running (pid 0 is gone)"}),
    [](const ::testing::TestParamInfo<THealthCase>& info) { return std::string(info.param.name); });

// Whatever lies at the status path, --status answers at once with its reason: a directory
// once aborted it, a FIFO blocked it for ever, a huge file cost its size in memory.
struct TStatusPathCase {
    const char* name;
    std::function<void(const std::string&)> make;
    const char* says;
};

class StatusPathTest : public StationStatusTest, public ::testing::WithParamInterface<TStatusPathCase> {};

TEST_P(StatusPathTest, IsRefusedWithItsReason)
{
    GetParam().make(path_);
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    EXPECT_EQ(PrintStatus(path_, out, now_), TStatusHealth::NotHealthy);
    std::fclose(out);
    const std::string printed(text, size);
    std::free(text);
    EXPECT_NE(printed.find("the status file " + path_ + " cannot be read: " + GetParam().says), std::string::npos)
        << printed;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, StatusPathTest,
    ::testing::Values(
        TStatusPathCase{"Directory", [](const std::string& p) { std::filesystem::create_directory(p); },
                        "a directory, not a regular file"},
        TStatusPathCase{"Fifo", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
                        "a FIFO, not a regular file"},
        // Sparse: it costs no disk, only a reader that takes it whole.
        TStatusPathCase{"Huge", [](const std::string& p) {
                            std::ofstream{p};
                            std::filesystem::resize_file(p, 200u << 20);
                        },
                        "larger than 1048576 bytes"}),
    [](const ::testing::TestParamInfo<TStatusPathCase>& info) { return std::string(info.param.name); });

TEST_F(StationStatusTest, NoOrADamagedStatusFileIsNotHealthy)
{
    std::FILE* out = std::tmpfile();
    EXPECT_EQ(PrintStatus(path_, out, now_), TStatusHealth::NotHealthy);
    TTempXdg::WriteText(path_, "{\"pid\": 12");
    EXPECT_EQ(PrintStatus(path_, out, now_), TStatusHealth::NotHealthy);
    std::fclose(out);
}

}  // namespace
