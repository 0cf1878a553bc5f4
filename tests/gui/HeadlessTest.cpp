#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>

#include "station/StationLock.h"
#include "settings/ProgramPaths.h"
#include "settings/RegistryFile.h"
#include "station/ProcessingCycle.h"
#include "support/TempXdg.h"

namespace {

const QString kProgram = QStringLiteral(ORVANTA_BINARY_DIR "/app/orvanta");

// A signal to the program while it runs. One that has ended already has no process id, and
// kill(0, ...) would signal the whole process group: the test run and whatever started it.
void Signal(const QProcess& p, int signo)
{
    if (const auto pid = static_cast<pid_t>(p.processId()); pid > 0)
        ::kill(pid, signo);
}

class HeadlessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(kProgram.toStdString())) GTEST_SKIP() << "orvanta not built";
    }
    void Configure()
    {
        TRegistryFile reg(RegistryFilePath());
        ASSERT_TRUE(reg.WriteString(ProgramKey(), "SourcePath", xdg_.Dir("in")));
        ASSERT_TRUE(reg.WriteString(ProgramKey(), "NetCDFPath", xdg_.Dir("raw")));
        ASSERT_TRUE(reg.WriteString(ProgramKey(), "SavePath", xdg_.Dir("img")));
    }
    // Runs to the end; returns the exit status (-1 when it did not end by itself).
    int Run(const QStringList& args, int timeoutMs = 20000)
    {
        QProcess p;
        p.start(kProgram, args);
        EXPECT_TRUE(p.waitForStarted(5000));
        const bool ended = p.waitForFinished(timeoutMs);
        out_ = p.readAllStandardOutput().toStdString();
        err_ = p.readAllStandardError().toStdString();
        if (!ended) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    // Starts processing, waits for the "Starting" line, then sends the signal.
    int RunUntilSignal(int signo)
    {
        QProcess p;
        p.start(kProgram, {"--headless", "-start"});
        EXPECT_TRUE(p.waitForStarted(5000));
        std::string out;
        for (int i = 0; i < 100 && out.find("Starting") == std::string::npos; ++i) {
            p.waitForReadyRead(200);
            out += p.readAllStandardOutput().toStdString();
        }
        Signal(p, signo);
        const bool ended = p.waitForFinished(20000);
        out_ = out + p.readAllStandardOutput().toStdString();
        return ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    TAsProgram program_;
    TTempXdg xdg_;
    std::string out_, err_;
};

TEST_F(HeadlessTest, VersionAndHelp)
{
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(out_, "orvanta 1.0.0.0\n");
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(out_.find("--headless [-start] [-log] [-geo] [file]"), std::string::npos);
    EXPECT_NE(out_.find(RegistryFilePath()), std::string::npos);
    // Once taken for the file to process, which opened the window.
    EXPECT_EQ(Run({"--reprocess-all"}), 2);
    EXPECT_NE(err_.find("unknown switch \"--reprocess-all\""), std::string::npos);
    EXPECT_EQ(Run({"--reprocess", QString::fromStdString(xdg_.Root()), "--froce"}), 2);
    EXPECT_NE(err_.find("unknown switch \"--froce\""), std::string::npos);
}

TEST_F(HeadlessTest, MissingDirectoriesAreNamed)
{
    TRegistryFile reg(RegistryFilePath());
    ASSERT_TRUE(reg.WriteString(ProgramKey(), "SourcePath", xdg_.Dir("in")));
    ASSERT_TRUE(reg.WriteString(ProgramKey(), "SavePath", xdg_.Root() + "/nowhere/"));
    EXPECT_EQ(Run({"--headless", "-start"}), 2);
    EXPECT_EQ(err_.find("\"SourcePath\""), std::string::npos);
    EXPECT_NE(err_.find("raw archive (saved NetCDF files) directory is not set"), std::string::npos);
    EXPECT_NE(err_.find("image directory \"" + xdg_.Root() + "/nowhere/\" does not exist"), std::string::npos);
    EXPECT_NE(err_.find("\"SavePath\"=\"/srv/goes/images/\""), std::string::npos);
    EXPECT_NE(err_.find(RegistryFilePath()), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(ProcessLogPath()));
}

TEST_F(HeadlessTest, AnUnreadableSettingsLineIsReportedOnceAndKept)
{
    Configure();
    std::string text = TTempXdg::ReadText(RegistryFilePath());
    text.insert(text.find("\"SourcePath\""), "\"SaveAsPNG\"=1\n");
    TTempXdg::WriteText(RegistryFilePath(), text);
    const std::string file = xdg_.Dir("elsewhere") + "goes15.2013.150.120000.1.nc";
    std::ofstream(file) << "x";
    EXPECT_EQ(Run({"--headless", QString::fromStdString(file)}), 1);  // read, tried, failed
    EXPECT_EQ(err_.find("not set"), std::string::npos);
    const std::string report = " line 4 cannot be read and is skipped: \"SaveAsPNG\"=1";
    const auto first = err_.find(report);
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(err_.find(report, first + 1), std::string::npos);
    EXPECT_NE(TTempXdg::ReadText(ProcessLogPath()).find(report), std::string::npos);
    const std::string after = TTempXdg::ReadText(RegistryFilePath());
    EXPECT_NE(after.find("\n\"SaveAsPNG\"=1\n"), std::string::npos);
    EXPECT_NE(after.find("\"SavePath\""), std::string::npos);
}

TEST_F(HeadlessTest, NothingToDoWithoutStartOrFile)
{
    Configure();
    EXPECT_EQ(Run({"--headless"}), 2);
    EXPECT_EQ(Run({"--headless", "-stat"}), 2);
    EXPECT_EQ(Run({"--headless", QString::fromStdString(xdg_.Root() + "/no-such-file.nc")}), 2);
    // Settings that would delete every incoming file and keep nothing.
    TRegistryFile reg(RegistryFilePath());
    for (const char* name : {"SaveAsJPEG", "SaveAsPNG", "SaveAsNetCDF"}) ASSERT_TRUE(reg.WriteInteger(ProgramKey(), name, 0));
    EXPECT_EQ(Run({"--headless", "-start"}), 2);
    EXPECT_NE(err_.find(NothingKeptText), std::string::npos);
}

TEST_F(HeadlessTest, TermFinishesLogsAndSaves)
{
    Configure();
    EXPECT_EQ(RunUntilSignal(SIGTERM), 0);
    const std::string log = TTempXdg::ReadText(ProcessLogPath());
    EXPECT_NE(log.find("  Starting orvanta V1.0.0.0\n"), std::string::npos);
    // What the line store holds, or that there is none, said once at start.
    EXPECT_NE(log.find("  Coastlines: "), std::string::npos);
    EXPECT_NE(log.find("  Windows shutdown request received\n"), std::string::npos);
    EXPECT_NE(log.find("  Closing orvanta V1.0.0.0\n"), std::string::npos);
    EXPECT_NE(out_.find("  Closing orvanta V1.0.0.0"), std::string::npos);
}

TEST_F(HeadlessTest, AKillLosesNoLineAlreadyLogged)
{
    Configure();
    EXPECT_EQ(RunUntilSignal(SIGKILL), -1);
    EXPECT_NE(TTempXdg::ReadText(ProcessLogPath()).find("  Starting orvanta V1.0.0.0\n"), std::string::npos);
}

TEST_F(HeadlessTest, TermBeforeTheStationIsReadyStillClosesCleanly)
{
    Configure();
    QProcess p;
    // Blocked until the program takes over its signals, so the request is certainly there
    // before anything else has happened.
    p.setChildProcessModifier([] {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        ::sigprocmask(SIG_BLOCK, &set, nullptr);
    });
    p.start(kProgram, {"--headless", "-start"});
    ASSERT_TRUE(p.waitForStarted(5000));
    Signal(p, SIGTERM);
    const bool ended = p.waitForFinished(20000);
    if (!ended) p.kill();
    ASSERT_TRUE(ended);
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_NE(TTempXdg::ReadText(ProcessLogPath()).find("  Closing orvanta V1.0.0.0\n"), std::string::npos);
}

TEST_F(HeadlessTest, ASecondStationOnTheSameSettingsRefuses)
{
    Configure();
    TStationLock running;
    ASSERT_TRUE(running.Acquire());
    EXPECT_EQ(Run({"--headless", "-start"}), 2);
    EXPECT_NE(err_.find("another orvanta is already running with the settings in " + RegistryFilePath()),
              std::string::npos);
    EXPECT_NE(err_.find("(process " + std::to_string(::getpid()) + ": "), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(ProcessLogPath()));
}

struct TOddStateFileCase {
    const char* name;
    std::string (*path)();
    const char* said;  // after the path
    int exitCode;      // 0: it ran and stopped on SIGTERM; 2: it refused to start
};

class HeadlessOddStateFileTest : public HeadlessTest, public ::testing::WithParamInterface<TOddStateFileCase> {};

// A FIFO where the station keeps a file of its own once held it in open() for ever: no
// READY=1, deaf to SIGTERM, restarted by systemd again and again. It is said, and left standing.
TEST_P(HeadlessOddStateFileTest, SaysWhyAndStopsWithoutTouchingIt)
{
    Configure();
    const std::string path = GetParam().path();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    QProcess p;
    p.start(kProgram, {"--headless", "-start"});
    ASSERT_TRUE(p.waitForStarted(5000));
    std::string out;
    for (int i = 0; i < 50 && p.state() == QProcess::Running && out.find("  Starting ") == std::string::npos; ++i) {
        p.waitForReadyRead(100);
        out += p.readAllStandardOutput().toStdString();
    }
    Signal(p, SIGTERM);
    const bool ended = p.state() == QProcess::NotRunning || p.waitForFinished(5000);
    if (!ended) p.kill();
    ASSERT_TRUE(ended) << "still running after SIGTERM";
    out += p.readAllStandardOutput().toStdString() + p.readAllStandardError().toStdString();
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), GetParam().exitCode) << out;
    EXPECT_NE(out.find(path + GetParam().said), std::string::npos) << out;
    struct stat st {};
    EXPECT_TRUE(::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

INSTANTIATE_TEST_SUITE_P(
    Files, HeadlessOddStateFileTest,
    ::testing::Values(
        TOddStateFileCase{"ProcessLog", ProcessLogPath, " cannot be written: a FIFO, not a regular file", 0},
        TOddStateFileCase{"StationLock", StationLockPath, " is a FIFO, not a regular file", 2},
        // Without its settings the station has no directories.
        TOddStateFileCase{"Settings", RegistryFilePath, " is a FIFO, not a regular file", 2},
        TOddStateFileCase{"Metrics", [] { return StateDirectory() + "orvanta.prom"; },
                          " cannot be written: a FIFO, not a regular file", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Ctrl-C once closed without the line that tells a stop from a crash.
class HeadlessStopSignalTest : public HeadlessTest, public ::testing::WithParamInterface<int> {};

TEST_P(HeadlessStopSignalTest, LogsTheShutdownLineAndCloses)
{
    Configure();
    EXPECT_EQ(RunUntilSignal(GetParam()), 0);
    const std::string log = TTempXdg::ReadText(ProcessLogPath());
    const auto shutdown = log.find("  Windows shutdown request received\n");
    EXPECT_NE(shutdown, std::string::npos);
    EXPECT_LT(shutdown, log.find("  Closing orvanta V1.0.0.0\n"));
    EXPECT_NE(log.find("  Closing orvanta V1.0.0.0\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals, HeadlessStopSignalTest, ::testing::Values(SIGINT, SIGHUP));

// Under a Type=notify unit a station that never says it is ready is killed at start, and one
// that stops pinging is killed as hung.
TEST_F(HeadlessTest, TellsSystemdItIsReadyThenPings)
{
    Configure();
    const std::string socketPath = xdg_.Root() + "/notify";
    const int sock = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("NOTIFY_SOCKET", QString::fromStdString(socketPath));
    env.insert("WATCHDOG_USEC", "200000");
    p.setProcessEnvironment(env);
    p.start(kProgram, {"--headless", "-start"});
    ASSERT_TRUE(p.waitForStarted(5000));
    std::vector<std::string> messages;
    timeval wait{0, 200000};
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    for (int i = 0; i < 100 && std::count(messages.begin(), messages.end(), "WATCHDOG=1") < 3; ++i) {
        char buffer[256];
        const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
        if (n > 0) messages.emplace_back(buffer, static_cast<std::size_t>(n));
    }
    Signal(p, SIGTERM);
    EXPECT_TRUE(p.waitForFinished(20000));
    ::close(sock);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), "READY=1");
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "WATCHDOG=1"), 3);
}

TEST_F(HeadlessTest, SingleFileThatFailsExitsNonZero)
{
    Configure();
    const std::string file = xdg_.Dir("elsewhere") + "goes15.2013.150.120000.1.nc";
    std::ofstream(file) << "x";
    TTempXdg::WriteText(ProcessLogPath(), "2013-05-30 12:00:00      earlier\n");
    // Composites are made when their band first comes, yet a last saved image that cannot be
    // taken is told at start-up, though no file of its band comes.
    const std::string small = xdg_.Root() + "/img/small.png";
    QImage smallPicture(100, 80, QImage::Format_Grayscale8);
    smallPicture.fill(55);
    ASSERT_TRUE(smallPicture.save(QString::fromStdString(small), "PNG"));
    ASSERT_TRUE(TRegistryFile(RegistryFilePath()).WriteString(ProgramKey(), "LastSaved4", small));
    // A channel whose LastSaved value was never written continues from its newest image.
    std::filesystem::create_directories(xdg_.Root() + "/img/2013/05/30");
    const std::string newest = xdg_.Root() + "/img/2013/05/30/201305301200-g10-vis.png";
    ASSERT_TRUE(smallPicture.save(QString::fromStdString(newest), "PNG"));
    // ... but never from an image named for a time to come, which no station wrote.
    std::filesystem::create_directories(xdg_.Root() + "/img/2099/01/01");
    ASSERT_TRUE(smallPicture.save(QString::fromStdString(xdg_.Root() + "/img/2099/01/01/209901010000-g10-vis.png"), "PNG"));
    EXPECT_EQ(Run({"--headless", "-log", QString::fromStdString(file)}), 1);
    EXPECT_NE(out_.find("LastSaved1 (empty) is older than " + newest), std::string::npos) << out_;
    EXPECT_EQ(out_.rfind("2013-05-30 12:00:00      earlier\n", 0), 0u);  // -log prints the log first
    EXPECT_NE(out_.find(file + " failed: smaller than 20000 bytes\n"), std::string::npos);
    const auto notRestored = out_.find("LastSaved4 " + small + " not restored (100 x 80, not 2816 x 3248)");
    EXPECT_LT(out_.find("Starting orvanta"), notRestored);
    EXPECT_LT(notRestored, out_.find(file + " failed"));
    const std::string log = TTempXdg::ReadText(ProcessLogPath());
    EXPECT_NE(log.find(file + " failed: smaller than 20000 bytes\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(file));  // not ours to remove: it lies elsewhere
    EXPECT_NE(log.find("  Closing orvanta V1.0.0.0\n"), std::string::npos);
}

TEST_F(HeadlessTest, GeoFileWithoutGeoIsDeleted)
{
    Configure();
    const std::string geo = xdg_.Root() + "/in/goes15.2013.150.120000_geo.nc";
    std::ofstream(geo) << "x";
    EXPECT_EQ(Run({"--headless", QString::fromStdString(geo)}), 1);
    EXPECT_FALSE(std::filesystem::exists(geo));
}

namespace fs = std::filesystem;

// name -> a hash of the bytes of every file under the directory (short to print).
std::map<std::string, std::size_t> TreeContents(const std::string& root)
{
    std::map<std::string, std::size_t> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            files[fs::relative(e.path(), root).string()] = std::hash<std::string>{}(TTempXdg::ReadText(e.path().string()));
    return files;
}

// A reprocessed archive must give the images of the station that received it, and must leave
// the archive and everything of the station as they were.
TEST_F(HeadlessTest, ReprocessMakesWhatTheStationMadeAndTouchesNothingElse)
{
    const fs::path synth = fs::path(ORVANTA_BINARY_DIR) / "app" / "orvanta-synth";
    if (!fs::exists(synth)) GTEST_SKIP() << "orvanta-synth not built";
    Configure();
    const std::string feed = xdg_.Dir("feed");
    QProcess gen;
    gen.start(QString::fromStdString(synth.string()), {"--out", QString::fromStdString(feed), "--start", "2019-06-21T00:00",
                                                        "--hours", "1", "--scale", "0.25", "--quiet"});
    ASSERT_TRUE(gen.waitForFinished(120000));
    ASSERT_EQ(gen.exitCode(), 0);
    for (const auto& e : fs::directory_iterator(feed)) fs::copy_file(e.path(), xdg_.Root() + "/in/" + e.path().filename().string());

    QProcess station;
    station.start(kProgram, {"--headless", "-start"});
    ASSERT_TRUE(station.waitForStarted(5000));
    const auto waiting = [&] {
        // The station's lock file stays.
        return std::count_if(fs::directory_iterator(xdg_.Root() + "/in/"), fs::directory_iterator(),
                             [](const fs::directory_entry& e) { return e.path().filename().string().starts_with("goes15"); });
    };
    for (int i = 0; i < 600 && waiting() > 0; ++i) station.waitForFinished(200);
    Signal(station, SIGTERM);
    ASSERT_TRUE(station.waitForFinished(60000));
    ASSERT_EQ(waiting(), 0);
    std::map<std::string, std::size_t> live = TreeContents(xdg_.Root() + "/img");
    // The web page of the latest images is the station's, not the scans'.
    std::erase_if(live, [](const auto& f) { return f.first.find('/') == std::string::npos || f.first.starts_with("latest/"); });
    ASSERT_FALSE(live.empty());

    // A damaged scan among them fails alone (in a half hour of its own: an image is made
    // once, and a scan of a half hour whose image exists is not tried again).
    const std::string damaged = xdg_.Dir("feed/2019/06/21") + "goes15.2019.172.011000_4.nc.bz2";
    TTempXdg::WriteText(damaged, std::string(30000, 'B'));
    // A day the year does not have is no date to make an image of.
    const std::string noDay = xdg_.Dir("feed/2019/06/21") + "goes15.2019.999.120000_4.nc.bz2";
    TTempXdg::WriteText(noDay, std::string(30000, 'B'));
    const auto archive = TreeContents(feed);
    ASSERT_TRUE(TRegistryFile(RegistryFilePath()).WriteString(ProgramKey(), "SavePath", xdg_.Dir("img2")));
    const std::string settings = TTempXdg::ReadText(RegistryFilePath());
    const std::string log = TTempXdg::ReadText(ProcessLogPath());

    EXPECT_EQ(Run({"--reprocess", QString::fromStdString(feed)}, 120000), 1);
    EXPECT_NE(out_.find(" made, 0 skipped, 1 failed"), std::string::npos) << out_;
    EXPECT_NE(out_.find("failed: " + damaged + ": "), std::string::npos) << out_;
    EXPECT_NE(out_.find("\n  " + noDay + ": day 999 of 2019 does not exist; not taken\n"), std::string::npos) << out_;
    EXPECT_EQ(TreeContents(xdg_.Root() + "/img2"), live);
    EXPECT_EQ(TreeContents(feed), archive);
    EXPECT_EQ(TTempXdg::ReadText(RegistryFilePath()), settings);  // LastSaved values among them
    EXPECT_EQ(TTempXdg::ReadText(ProcessLogPath()), log);

    // Again: the images are there, only the damaged file is tried.
    EXPECT_EQ(Run({"--reprocess", QString::fromStdString(feed)}, 120000), 1);
    const std::size_t skipped = archive.size() - 2;  // all but the damaged file and the one of no day
    EXPECT_NE(out_.find(": 0 made, " + std::to_string(skipped) + " skipped, 1 failed"), std::string::npos) << out_;
    EXPECT_EQ(TreeContents(xdg_.Root() + "/img2"), live);

    // A run killed between the scans of a half hour leaves an image that exists, stamped with
    // its time, yet lacks the later scans: the next run makes it again, whole.
    const auto jpeg = std::find_if(live.begin(), live.end(), [](const auto& f) { return f.first.ends_with(".jpg"); });
    ASSERT_NE(jpeg, live.end());
    const std::string cut = xdg_.Dir("img2") + jpeg->first;
    const auto stamped = fs::last_write_time(cut);
    TTempXdg::WriteText(cut, "half made");
    fs::last_write_time(cut, stamped);
    const std::string unfinished = StateDirectory() + "orvanta-reprocess-unfinished.txt";
    TTempXdg::WriteText(unfinished, cut + "\n");
    EXPECT_EQ(Run({"--reprocess", QString::fromStdString(feed)}, 120000), 1);
    EXPECT_EQ(TreeContents(xdg_.Root() + "/img2"), live);
    EXPECT_FALSE(fs::exists(unfinished));
}

}  // namespace
