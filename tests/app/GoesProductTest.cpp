#include <gtest/gtest.h>

#include <bzlib.h>
#include <netcdf.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <ctime>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "product/composite/Composites.h"
#include "product/outputs/GeoTiffOutput.h"
#include "base/DateTime.h"
#include "product/GoesProduct.h"
#include "station/Station.h"
#include "base/Files.h"
#include "base/Contained.h"
#include "geotiff/GeoTiffFile.h"
#include "imaging/JPEG_IO.h"
#include "imaging/PNG_IO.h"
#include "product/composite/Mask256.h"
#include "support/TempXdg.h"

namespace fs = std::filesystem;
using namespace std::string_view_literals;

namespace {

// A scan as the broadcast stores it: navigation scalars, then data(time, yc, xc) last.
void WriteScan(const std::string& path, int width, int height, int startLine, int band, float value,
               bool noisy = false)
{
    int nc = 0, dims[3], var = 0;
    ASSERT_EQ(nc_create(path.c_str(), NC_CLOBBER, &nc), NC_NOERR);
    nc_def_dim(nc, "time", 1, &dims[0]);
    nc_def_dim(nc, "yc", height, &dims[1]);
    nc_def_dim(nc, "xc", width, &dims[2]);
    const char* names[] = {"startLine", "startElem", "lineRes", "elemRes", "bands"};
    const int values[] = {startLine, 3000, 4, 4, band};
    int ids[5];
    for (int i = 0; i < 5; ++i) nc_def_var(nc, names[i], NC_INT, 0, nullptr, &ids[i]);
    nc_def_var(nc, "data", NC_FLOAT, 3, dims, &var);
    nc_enddef(nc);
    for (int i = 0; i < 5; ++i) nc_put_var_int(nc, ids[i], &values[i]);
    std::vector<float> data(static_cast<std::size_t>(width) * height, value);
    if (noisy) {
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> d(1.0f, 120.0f);
        for (float& f : data) f = d(rng);
    }
    nc_put_var_float(nc, var, data.data());
    nc_close(nc);
}

void Compress(const std::string& source, const std::string& target)
{
    std::ifstream in(source, std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), {});
    std::vector<char> out(raw.size() + raw.size() / 100 + 600);
    unsigned int outLen = static_cast<unsigned int>(out.size());
    ASSERT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &outLen, raw.data(), static_cast<unsigned int>(raw.size()), 9, 0, 0),
              BZ_OK);
    std::ofstream(target, std::ios::binary).write(out.data(), outLen);
}

class RecordingNotifier : public IAnimationNotifier {
public:
    bool CompanionPresent() override { return true; }
    void Post(std::uint32_t w, std::int32_t l) override { Posts.emplace_back(w, l); }
    std::vector<std::pair<std::uint32_t, std::int32_t>> Posts;
};

std::int64_t MTime(const std::string& path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mtim.tv_sec;
}

constexpr std::int64_t Noon20130530 = 1369915200;

class ProductTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        incoming = tmp.Dir("incoming");
        raw = tmp.Dir("raw");
        images = tmp.Dir("images");
        options.SetPathText("SourcePath", incoming);
        options.SetPathText("NetCDFPath", raw);
        options.SetPathText("SavePath", images);
        mask.SetSize(CompositeWidth, CompositeHeight);
        mask.MakeGreyPalette();
        mask.Fill(255);
        product.Notifier = &notifier;
        // The state directory of a fresh install does not exist yet.
        product.GeoLogPath = tmp.Root() + "/state/Quillon/orvanta-geo.log";
        product.InUseWaitMs = 10;
        // Each try of a file counts as the next timed cycle's.
        product.Clock = [t = 0.0]() mutable { return t += 1.0; };
    }

    // An uncompressed northern-sector scan of band `band`, large enough to count as complete.
    std::string DropScan(const std::string& name, int band = 4, float value = 80.0f)
    {
        const std::string path = incoming + name;
        WriteScan(path, 100, 60, 1000, band, value);
        return path;
    }

    TTempXdg tmp;
    std::string incoming, raw, images;
    TFixedOptions options;
    TComposites composites;
    TExtBitmap mask;
    RecordingNotifier notifier;
    TGoesProduct product{options, composites, mask};
    TGoesFileResult result;
};

TEST_F(ProductTest, NorthernScanIsPlacedSavedStampedAndAnnounced)
{
    const std::string p = DropScan("goes15.2013.150.120000.4.nc");
    ASSERT_TRUE(product.ProcessGoesFile(p, result));
    const std::string jpg = images + "2013/05/30/201305301200-g10-ir.jpg";
    EXPECT_EQ(result.SavedFileName, jpg);
    EXPECT_FALSE(result.Skipped);
    EXPECT_EQ(result.Sector, SectorNorthern);
    EXPECT_EQ(result.ChannelIndex, 3);
    EXPECT_FALSE(fs::exists(p));
    EXPECT_FALSE(fs::exists(raw + "2013/05/30/goes15.2013.150.120000.4.nc"));
    EXPECT_EQ(MTime(jpg), Noon20130530);
    ASSERT_EQ(notifier.Posts.size(), 1u);
    EXPECT_EQ(notifier.Posts[0], std::make_pair(19u, 7053840));

    // 100 columns become Round(100 * 4 / 7) = 57, drawn at (255, 268).
    const TExtBitmap& k = composites.Images[3];
    const std::uint8_t placed = k.ScanLine(268)[255];
    EXPECT_NE(placed, 240);
    EXPECT_EQ(k.ScanLine(268 + 59)[255 + 56], placed);
    EXPECT_EQ(k.ScanLine(268)[255 + 57], 240);
    EXPECT_EQ(k.ScanLine(268 + 60)[255], 240);

    const std::string geoLog = TTempXdg::ReadText(product.GeoLogPath);
    EXPECT_EQ(geoLog, "2013-05-30 1200  NH band 4 details:  elements: 100 (4 km, start: 3000),  lines: 60 (4 km, "
                      "start: 1000)\n");

    TExtBitmap reread(1, 1);
    ASSERT_TRUE(LoadJPEG(&reread, jpg, false, 0));
    EXPECT_EQ(reread.Width(), CompositeWidth);
    EXPECT_EQ(reread.Height(), CompositeHeight);
}

TEST_F(ProductTest, StatusAndCaptionCarryTheDetailsHead)
{
    std::string status, caption;
    product.OnStatusText = [&](const std::string& s) { status = s; };
    product.OnCaption = [&](const std::string& s) { caption = s; };
    ASSERT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.120000.1.nc", 1, 50.0f), result));
    EXPECT_EQ(status, "Processed  2013-05-30 1200  NH band 1 , 0.63 \xC2\xB5m  visible");
    EXPECT_EQ(caption.rfind("Orvanta V", 0), 0u);
    EXPECT_NE(caption.find(" from Quillon, Brackmoor  -  2013-05-30 1200  NH band 1 "), std::string::npos);
    // Only the 10.7 µm channel writes details.
    EXPECT_FALSE(fs::exists(product.GeoLogPath));
}

// A name without a band digit must not draw its scan into the composite of the file before:
// its band comes from the file, and a file that does not tell either is put aside.
TEST_F(ProductTest, NameWithoutABandDigitTakesTheBandOfTheFile)
{
    ASSERT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.113000.1.nc", 1), result));
    fs::remove(product.GeoLogPath);
    std::string status;
    product.OnStatusText = [&](const std::string& s) { status = s; };
    // A seven-digit time field puts a full stop where the band digit belongs.
    ASSERT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.1200000.1.nc", 4), result));
    EXPECT_EQ(result.ChannelIndex, 3);
    EXPECT_EQ(status, "Processed  2013-05-30 1200  NH band 4 , 10.7 \xC2\xB5m  thermal");
    EXPECT_EQ(TTempXdg::ReadText(product.GeoLogPath).rfind("2013-05-30 1200  NH band 4 details:", 0), 0u);

    const std::string unknown = DropScan("goes15.2013.150.1230000.1.nc", 0);
    EXPECT_FALSE(product.ProcessGoesFile(unknown, result));
    EXPECT_EQ(result.FailureReason.rfind("band not known; moved to", 0), 0u) << result.FailureReason;
    EXPECT_TRUE(fs::exists(raw + "failed/goes15.2013.150.1230000.1.nc"));
}

TEST_F(ProductTest, SkippedNorthIsArchivedAndRemovedButNotSaved)
{
    options.SetTicked("IncludeNorth", false);
    options.SetTicked("SaveAsNetCDF", true);
    const std::string p = DropScan("goes15.2013.150.120000.4.nc");
    ASSERT_TRUE(product.ProcessGoesFile(p, result));
    EXPECT_TRUE(result.Skipped);
    EXPECT_TRUE(result.SavedFileName.empty());
    EXPECT_TRUE(notifier.Posts.empty());
    EXPECT_FALSE(fs::exists(p));
    EXPECT_TRUE(fs::exists(raw + "2013/05/30/goes15.2013.150.120000.4.nc"));
    EXPECT_EQ(composites.Images[3].ScanLine(268)[255], 240);
}

TEST_F(ProductTest, BothFormatsLongNamesAndTheCo2ChannelIsNeverAnnounced)
{
    options.SetTicked("SaveAsPNG", true);
    options.SetTicked("ShortImageNames", false);
    options.SetTicked("SaveAsNetCDF", true);
    const std::string p = DropScan("goes15.2013.150.120000.6.nc");
    ASSERT_TRUE(product.ProcessGoesFile(p, result));
    const std::string base = raw + "2013/05/30/goes15.2013.150.120000.6";
    EXPECT_EQ(result.SavedFileName, base + ".jpg");
    EXPECT_EQ(MTime(base + ".jpg"), Noon20130530);
    EXPECT_EQ(MTime(base + ".png"), Noon20130530);
    EXPECT_TRUE(fs::exists(base + ".nc"));
    EXPECT_TRUE(notifier.Posts.empty());
}

TEST_F(ProductTest, CompressedScanIsDecompressedAndTheCompressedCopyNeverKept)
{
    options.SetTicked("SaveAsNetCDF", true);
    const std::string nc = tmp.Dir("work") + "scan.nc";
    WriteScan(nc, 200, 100, 6000, 3, 0.0f, true);
    const std::string p = incoming + "goes15.2013.150.120000.3.nc.bz2";
    Compress(nc, p);
    ASSERT_GE(*FileSizeOf(p), 20000);
    const struct timespec received[2] = {{1369915000, 0}, {1369915000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), received, 0), 0);
    ASSERT_TRUE(product.ProcessGoesFile(p, result));
    EXPECT_EQ(result.Sector, SectorSouthern);
    // The kept file is written beside the decoding: whole, and with the time it was received.
    const std::string kept = raw + "2013/05/30/goes15.2013.150.120000.3.nc";
    EXPECT_TRUE(TTempXdg::ReadText(kept) == TTempXdg::ReadText(nc));
    EXPECT_EQ(MTime(kept), 1369915000);
    EXPECT_FALSE(fs::exists(raw + "2013/05/30/goes15.2013.150.120000.3.nc.bz2"));
    EXPECT_FALSE(fs::exists(p));
    EXPECT_EQ(notifier.Posts.at(0).first, 20u);
}

// A compressed scan is resampled to its place row by row while it is decompressed; it must
// come out exactly as the same scan resampled whole after reading.
TEST_F(ProductTest, AScanPlacedWhileDecompressedIsTheScanPlacedWhole)
{
    const std::string nc = tmp.Dir("work") + "scan.nc";
    for (const int startLine : {1000, 6000}) {  // northern, southern (its last two columns cut)
        WriteScan(nc, 1021, 600, startLine, 4, 0.0f, true);  // over two bzip2 blocks
        composites.Images[3].Fill(7);
        const std::string whole = incoming + "goes15.2013.150.120000.4.nc";
        fs::copy_file(nc, whole, fs::copy_options::overwrite_existing);
        ASSERT_TRUE(product.ProcessGoesFile(whole, result));
        const TExtBitmap placedWhole = composites.Images[3];
        composites.Images[3].Fill(7);
        const std::string compressed = incoming + "goes15.2013.150.123000.4.nc.bz2";
        Compress(nc, compressed);
        ASSERT_TRUE(product.ProcessGoesFile(compressed, result));
        for (int y = 0; y < CompositeHeight; ++y)
            ASSERT_EQ(std::memcmp(placedWhole.ScanLine(y), composites.Images[3].ScanLine(y), CompositeWidth), 0)
                << startLine << " row " << y;
    }
}

// In a feed the next file is read and decompressed ahead while the one in hand is finished:
// what was read ahead may be used only while the file is exactly as it was then.
TEST_F(ProductTest, AFileReadAheadIsUsedOnlyWhileItIsUnchanged)
{
    const std::string nc = tmp.Dir("work") + "scan.nc";
    const auto drop = [&](const std::string& name, int width) {
        WriteScan(nc, width, 100, 6000, 4, 0.0f, true);
        Compress(nc, incoming + name);
        return incoming + name;
    };
    const std::string a = drop("goes15.2013.150.120000.4.nc.bz2", 200);
    const std::string b = drop("goes15.2013.150.123000.4.nc.bz2", 200);
    const std::string c = drop("goes15.2013.150.130000.4.nc.bz2", 200);
    const auto lastDetails = [&] {
        const std::string log = TTempXdg::ReadText(product.GeoLogPath);
        return log.substr(log.rfind('\n', log.size() - 2) + 1);
    };
    product.NextFile = b;
    ASSERT_TRUE(product.ProcessGoesFile(a, result));
    product.NextFile = c;
    ASSERT_TRUE(product.ProcessGoesFile(b, result));
    EXPECT_NE(lastDetails().find("elements: 200 "), std::string::npos) << lastDetails();
    drop("goes15.2013.150.130000.4.nc.bz2", 180);  // rewritten after it was read ahead
    product.NextFile.clear();
    ASSERT_TRUE(product.ProcessGoesFile(c, result));
    EXPECT_NE(lastDetails().find("elements: 180 "), std::string::npos) << lastDetails();
    EXPECT_FALSE(fs::exists(c));
}

enum class TFate { Stays, PutAside };

struct RefusedCase {
    const char* name;
    std::size_t size;
    bool settled;   // untouched for a minute
    bool heldOpen;  // a writer still has it open
    int cycles;     // how many cycles offer it
    TFate fate;
    const char* reason;
    std::string_view head = {};  // the file's first bytes, before the filler
};

class RefusedTest : public ProductTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedTest, NothingIsDeletedWhatCannotBeProcessedIsPutAsideWithItsReason)
{
    const auto& c = GetParam();
    const std::string p = incoming + c.name;
    std::ofstream(p, std::ios::binary) << c.head << std::string(std::min<std::size_t>(c.size, 1 << 20) - c.head.size(), 'B');
    if (c.size > 1 << 20) fs::resize_file(p, c.size);  // sparse: a huge file costs no disk
    if (c.settled) {
        const struct timespec past[2] = {{0, UTIME_OMIT}, {time(nullptr) - 60, 0}};
        ::utimensat(AT_FDCWD, p.c_str(), past, 0);
    }
    std::ofstream writer;
    if (c.heldOpen) writer.open(p, std::ios::app);
    for (int i = 0; i < c.cycles; ++i) EXPECT_FALSE(product.ProcessGoesFile(p, result));
    EXPECT_EQ(fs::exists(p), c.fate == TFate::Stays);
    EXPECT_EQ(fs::exists(raw + "failed/" + c.name), c.fate == TFate::PutAside);
    EXPECT_EQ(result.FailureReason.rfind(c.reason, 0), 0u) << result.FailureReason;
    EXPECT_EQ(result.FailureReason.find("; moved to " + raw + "failed/") != std::string::npos,
              c.fate == TFate::PutAside) << result.FailureReason;
    EXPECT_TRUE(result.SavedFileName.empty());
    EXPECT_TRUE(notifier.Posts.empty());
    // Nothing half-made is left in the archive.
    for (const auto& e : fs::recursive_directory_iterator(raw))
        EXPECT_TRUE(e.is_directory() || e.path().parent_path() == raw + "failed") << e.path();
}

constexpr const char* Busy = "still being written";
INSTANTIATE_TEST_SUITE_P(
    Files, RefusedTest,
    ::testing::Values(
        RefusedCase{"goes15.2013.150.120000.4.nc", 19999, true, false, 1, TFate::PutAside, "smaller than 20000 bytes"},
        // Retried, it would fill the archive's disk at every cycle.
        RefusedCase{"goes15.2013.150.120000.4.nc.bz2", std::size_t{2} << 30, true, false, 1, TFate::PutAside,
                    "larger than 512 MB, more than any real scan"},
        RefusedCase{"goes15.2013.150.120000.5.nc", 30000, true, false, 1, TFate::PutAside, "file name not understood"},
        RefusedCase{"goes15.2013.150.246000.4.nc", 30000, true, false, 1, TFate::PutAside, "file name not understood"},
        RefusedCase{"goes15.2013.172.1900_4.nc.bz2", 30000, true, false, 1, TFate::PutAside, "file name not understood"},
        RefusedCase{"goes15.2013.150.120000.4.nc.bz2", 30000, true, false, 1, TFate::Stays, "not bzip2 data"},
        RefusedCase{"goes15.2013.150.120000.4.nc.bz2", 30000, true, false, 3, TFate::PutAside, "not bzip2 data"},
        RefusedCase{"goes15.2013.150.120000.4.nc", 30000, true, false, 2, TFate::Stays, "not a netCDF file"},
        RefusedCase{"goes15.2013.150.120000.4.nc", 30000, true, false, 3, TFate::PutAside, "not a netCDF file"},
        // A classic header claiming more variables than its bytes can hold: the library would
        // believe the count.
        RefusedCase{"goes15.2013.150.120000.4.nc", 30000, true, false, 3, TFate::PutAside, "netCDF header is damaged",
                    "CDF\x01\0\0\0\x01\0\0\0\x0a\0\0\0\x01\0\0\0\x02xc\0\0\0\0\0\x0a\0\0\0\0\0\0\0\0"
                    "\0\0\0\x0b\x7f\xff\xff\xff"sv},
        // A receiver that creates the file first and writes it a moment later.
        RefusedCase{"goes15.2013.150.120000.4.nc", 0, false, false, 1, TFate::Stays, Busy},
        RefusedCase{"goes15.2013.150.120000.4.nc", 10000, false, false, 1, TFate::Stays, Busy},
        RefusedCase{"goes15.2013.150.120000.4.nc", 0, true, true, 1, TFate::Stays, Busy}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

struct DecoderFaultCase {
    const char* what;
    void (*fault)();
    const char* reason;
};

class DecoderFaultTest : public ProductTest, public ::testing::WithParamInterface<DecoderFaultCase> {
protected:
    void TearDown() override { ContainedWorkerSeam = {}; }
    // Whether every worker has ended and been collected within a few seconds: one left
    // behind stays a zombie for as long as the station idles. Looked at without collecting.
    static bool NoWorkerLeft()
    {
        for (int i = 0; i < 100; ++i) {
            siginfo_t info{};
            if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 && errno == ECHILD) return true;
            ::usleep(50000);
        }
        return false;
    }
};

// A decoder that crashes, hangs or runs out of memory costs the file, never the station: the
// file fails with why, is put aside after its strikes, and the next file is processed.
TEST_P(DecoderFaultTest, CostsTheFileNotTheStation)
{
    product.DecoderLimits.Seconds = 1;
    product.SettledAfterMs = 0;
    ContainedWorkerSeam = GetParam().fault;
    const std::string bad = DropScan("goes15.2013.150.120000.4.nc");
    for (int i = 0; i < TGoesProduct::FailedCyclesAllowed; ++i) {
        EXPECT_FALSE(product.ProcessGoesFile(bad, result));
        EXPECT_EQ(result.FailureReason.rfind(GetParam().reason, 0), 0u) << result.FailureReason;
        EXPECT_TRUE(NoWorkerLeft());
    }
    EXPECT_TRUE(fs::exists(raw + "failed/goes15.2013.150.120000.4.nc"));
    ContainedWorkerSeam = {};
    EXPECT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.123000.4.nc"), result)) << result.FailureReason;
    EXPECT_TRUE(NoWorkerLeft());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DecoderFaultTest,
    ::testing::Values(DecoderFaultCase{"crash", [] { std::abort(); }, "decoder crashed (SIG"},
                      DecoderFaultCase{"hang", [] { ::sleep(30); }, "decoder took longer than 1 s"},
                      DecoderFaultCase{"memory", [] { throw std::bad_alloc(); }, "decoder ran out of memory"}),
    [](const auto& info) { return std::string(info.param.what); });

struct StationStopCase {
    const char* what;
    // One letter a stop of the station with the file in hand: k killed (nothing recorded), c
    // crashed (its signal recorded), d killed while a decoder worker had the file; f: another
    // file taken in hand and finished meanwhile.
    const char* stops;
    bool putAside;
    const char* reason;
};

class StationStopTest : public ProductTest, public ::testing::WithParamInterface<StationStopCase> {};

// Only a crash of the station itself can be the file's doing: a kill, an out-of-memory kill or
// a power cut with a good file in hand costs it nothing, unless the station stops on it again
// and again, which must not go on for ever.
TEST_P(StationStopTest, PutsTheFileInHandAsideOnlyForItsOwnFault)
{
    const std::string journal = tmp.Root() + "/state/Quillon/orvanta-strikes.txt";
    const std::string bad = DropScan("goes15.2013.150.120000.4.nc");
    const std::string other = DropScan("goes15.2013.150.123000.4.nc");
    for (const char* stop = GetParam().stops; *stop != '\0'; ++stop) {
        if (*stop == 'f') {
            TStrikeJournal finished(journal);
            ASSERT_EQ(finished.Load(), "");
            finished.InHand(other);
            finished.Released();
            continue;
        }
        // The station's own process, which dies with the file in hand.
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            TStrikeJournal died(journal);
            const bool loaded = died.Load().empty();
            died.RecordCrashes();
            died.InHand(bad);
            died.Decoding(*stop == 'd');
            if (loaded && *stop == 'c')
                std::raise(SIGILL);
            ::_exit(loaded ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_EQ(*stop == 'c' ? WIFSIGNALED(status) && WTERMSIG(status) == SIGILL : WIFEXITED(status) && WEXITSTATUS(status) == 0,
                  true);
    }
    TGoesProduct restarted{options, composites, mask};
    EXPECT_EQ(restarted.UseStrikeJournal(journal), "");
    EXPECT_EQ(restarted.ProcessGoesFile(bad, result), !GetParam().putAside) << result.FailureReason;
    EXPECT_EQ(fs::exists(raw + "failed/goes15.2013.150.120000.4.nc"), GetParam().putAside);
    if (GetParam().putAside) {
        EXPECT_EQ(result.FailureReason.rfind(GetParam().reason, 0), 0u) << result.FailureReason;
    }
}

// A FIFO in the journal's place would hold the station in open() for ever, before it ever
// says it is ready; it is left alone and the strikes are counted in memory.
TEST_F(ProductTest, AJournalThatIsNoRegularFileIsLeftAlone)
{
    const std::string journal = tmp.Dir("state") + "orvanta-strikes.txt";
    ASSERT_EQ(::mkfifo(journal.c_str(), 0600), 0);
    EXPECT_EQ(product.UseStrikeJournal(journal),
              "The strike journal " + journal + " is a FIFO, not a regular file; strikes are kept in memory only");
    EXPECT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.120000.4.nc"), result)) << result.FailureReason;
    EXPECT_TRUE(fs::is_fifo(journal));
}

INSTANTIATE_TEST_SUITE_P(
    Stops, StationStopTest,
    ::testing::Values(StationStopCase{"killed", "kkkk", false, ""},
                      StationStopCase{"killedOnItFiveTimes", "kkkkk", true,
                                      "the station stopped while processing it (5 times in a row)"},
                      StationStopCase{"killedWithWorkDoneBetween", "kkkfkkk", false, ""},
                      StationStopCase{"killedWhileDecoding", "kkkkdd", false, ""},
                      StationStopCase{"killedOnItFiveTimesBesidesDecoding", "kkdkkk", true,
                                      "the station stopped while processing it (5 times in a row)"},
                      StationStopCase{"crashedTwice", "kckc", false, ""},
                      StationStopCase{"crashed", "ckcc", true, "the station stopped while processing it (SIGILL)"}),
    [](const auto& info) { return std::string(info.param.what); });

// A receiver that re-sends a scan under the same name while the first copy is processed: the
// new copy is a new arrival, never deleted unread.
TEST_F(ProductTest, AFileReplacedWhileItIsProcessedStaysForTheNextCycle)
{
    const std::string path = DropScan("goes15.2013.150.120000.4.nc");
    const auto resend = product.OnImageSaved.Add([&](std::uint8_t, const std::string&) {
        WriteScan(incoming + "resent.tmp", 100, 60, 1000, 4, 20.0f);
        fs::rename(incoming + "resent.tmp", path);
    });
    ASSERT_TRUE(product.ProcessGoesFile(path, result)) << result.FailureReason;
    EXPECT_TRUE(fs::exists(path));
}

// A file that grows between tries (a receiver appending in pieces) starts its count anew, and
// a file put aside never replaces one put aside before it.
TEST_F(ProductTest, StrikesRestartWhenTheFileChangesAndFailedNeverReplaces)
{
    const std::string path = incoming + "goes15.2013.150.120000.4.nc";
    const auto offer = [&](const std::string& bytes, int tries) {
        if (!bytes.empty()) {
            std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
            const struct timespec past[2] = {{0, UTIME_OMIT}, {time(nullptr) - 60, 0}};
            ::utimensat(AT_FDCWD, path.c_str(), past, 0);
        }
        for (int i = 0; i < tries; ++i) EXPECT_FALSE(product.ProcessGoesFile(path, result));
    };
    offer(std::string(30000, 'B'), 2);
    offer(std::string(1000, 'B'), 2);
    EXPECT_TRUE(fs::exists(path));
    offer({}, 1);
    EXPECT_FALSE(fs::exists(path));
    offer(std::string(30000, 'C'), 3);
    EXPECT_EQ(TTempXdg::ReadText(raw + "failed/goes15.2013.150.120000.4.nc"), std::string(31000, 'B'));
    EXPECT_EQ(TTempXdg::ReadText(raw + "failed/goes15.2013.150.120000.4.nc.1"), std::string(30000, 'C'));
}

TEST_F(ProductTest, AFullImageDiskKeepsTheOlderImageAndTheIncomingFile)
{
    ASSERT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.120000.4.nc"), result));
    const std::string jpg = images + "2013/05/30/201305301200-g10-ir.jpg";
    const std::int64_t northern = FileSizeOf(jpg).value_or(0);
    ASSERT_GT(northern, 40000);
    // The southern scan of the same half hour saves under the same name.
    const std::string south = incoming + "goes15.2013.150.120000.4.nc";
    WriteScan(south, 100, 60, 6000, 4, 20.0f);
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit small = {static_cast<rlim_t>(northern / 2), old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool ok = product.ProcessGoesFile(south, result);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(fs::exists(south));
    EXPECT_EQ(FileSizeOf(jpg).value_or(0), northern);
    EXPECT_EQ(result.FailureReason, "cannot write image " + jpg + ": File too large");
}

TEST_F(ProductTest, AFileNamedOnTheCommandLineIsKeptUnlessItLiesInTheIncomingDirectory)
{
    product.SingleFileMode = [] { return true; };
    for (const std::string& dir : {tmp.Dir("elsewhere"), raw + "2013/05/30/", incoming}) {
        fs::create_directories(dir);
        const std::string p = dir + "goes15.2013.150.120000.4.nc";
        WriteScan(p, 100, 60, 1000, 4, 80.0f);
        ASSERT_TRUE(product.ProcessGoesFile(p, result)) << dir;
        EXPECT_EQ(fs::exists(p), dir != incoming) << dir;
    }
}

TEST_F(ProductTest, UnwritableImageTreeFailsAndKeepsTheIncomingFile)
{
    const std::string blocker = tmp.Root() + "/blocker";
    std::ofstream(blocker) << "x";
    options.SetPathText("SavePath", blocker + "/images/");
    const std::string p = DropScan("goes15.2013.150.120000.4.nc");
    EXPECT_FALSE(product.ProcessGoesFile(p, result));
    EXPECT_TRUE(fs::exists(p));
    EXPECT_TRUE(notifier.Posts.empty());
}

TEST_F(ProductTest, FileStillBeingWrittenIsLeftForLater)
{
    const std::string p = DropScan("goes15.2013.150.120000.4.nc");
    std::ofstream writer(p, std::ios::app);
    EXPECT_FALSE(product.ProcessGoesFile(p, result));
    EXPECT_TRUE(fs::exists(p));
    writer.close();
    EXPECT_TRUE(product.ProcessGoesFile(p, result));
}

TEST_F(ProductTest, ClearAndMaskApplyToTheWholeComposite)
{
    composites.Images[0].Fill(77);
    for (int y = 0; y < CompositeHeight; ++y) mask.ScanLine(y)[0] = 0;
    options.SetTicked("ClearImages", true);
    ASSERT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.120000.1.nc", 1, 50.0f), result));
    const TExtBitmap& k = composites.Images[0];
    EXPECT_EQ(k.ScanLine(3000)[2000], 16);  // cleared to the visible background
    EXPECT_EQ(k.ScanLine(3000)[0], 0);      // masked off the Earth
}

// Without a window a composite is made when its band first comes: it must be the restored
// picture that the scan is drawn over and that is saved, and the mask must be there in time.
TEST_F(ProductTest, CompositeMadeOnFirstUseIsRestoredBeforeTheScanIsDrawn)
{
    TComposites lazy(TComposites::OnFirstUse);
    int restored = 0;
    std::vector<std::string> said;
    lazy.FirstUse = [&](std::size_t channel, TExtBitmap& k) {
        ++restored;
        EXPECT_EQ(channel, 3u);
        k.Fill(77);
        lazy.Say([&] { said.push_back("restored"); });
    };
    TExtBitmap lateMask;
    TGoesProduct late{options, lazy, lateMask};
    late.PrepareMask = [&] {
        lateMask.SetSize(CompositeWidth, CompositeHeight);
        lateMask.MakeGreyPalette();
        lateMask.Fill(255);
        lateMask.ScanLine(3000)[5] = 0;
    };
    EXPECT_EQ(lazy.Images[0].Width(), 0);
    // The composite is restored while a scan is decoded, but said to be only once a scan is
    // drawn into it: a file that fails says nothing of it.
    const std::string damaged = incoming + "goes15.2013.150.113000.4.nc.bz2";
    std::ofstream(damaged, std::ios::binary) << std::string(30000, 'x');
    EXPECT_FALSE(late.ProcessGoesFile(damaged, result));
    EXPECT_TRUE(said.empty());
    ASSERT_TRUE(late.ProcessGoesFile(DropScan("goes15.2013.150.120000.4.nc"), result));
    EXPECT_EQ(said, std::vector<std::string>{"restored"});
    EXPECT_EQ(restored, 1);
    const TExtBitmap& k = lazy.Images[3];
    EXPECT_EQ(k.ScanLine(1000)[1000], 77);
    EXPECT_NE(k.ScanLine(268)[255], 77);
    EXPECT_EQ(k.ScanLine(3000)[5], 255);
    EXPECT_EQ(lazy.Images[0].Width(), 0);  // no other band is made
    TExtBitmap saved(1, 1);
    ASSERT_TRUE(LoadJPEG(&saved, result.SavedFileName, false, 0));
    EXPECT_NEAR(saved.ScanLine(1000)[1000], 77, 2);
}

std::string Command(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

// The GeoTIFF is data: the greys of the scans without the lines drawn over the picture,
// while the drawn composite and its JPEG stay exactly what they are without the option.
TEST_F(ProductTest, GeoTiffHoldsTheCleanCompositeAndTheJpegStaysAsItWas)
{
    options.SetTicked("MaskImage", false);
    options.SetTicked("Boundaries", true);
    product.DrawBoundaries = [](TExtBitmap& k, const TAbiProjection*) { std::fill_n(k.ScanLine(290), k.Width(), std::uint8_t{160}); };
    const std::string jpg = images + "2013/05/30/201305301200-g10-ir.jpg";
    const std::string tif = images + "2013/05/30/201305301200-g10-ir.tif";
    ASSERT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.120000.4.nc"), result));
    EXPECT_FALSE(fs::exists(tif));
    const std::string plainJpeg = TTempXdg::ReadText(jpg);

    options.SetTicked("SaveAsGeoTIFF", true);
    TComposites second;
    TGoesProduct withGeoTiff{options, second, mask};
    withGeoTiff.DrawBoundaries = product.DrawBoundaries;
    ASSERT_TRUE(withGeoTiff.ProcessGoesFile(DropScan("goes15.2013.150.120000.4.nc"), result)) << result.FailureReason;
    EXPECT_EQ(result.SavedFileName, jpg);
    EXPECT_TRUE(TTempXdg::ReadText(jpg) == plainJpeg);
    EXPECT_EQ(MTime(tif), Noon20130530);

    TExtBitmap data(CompositeWidth, CompositeHeight);
    std::string why;
    ASSERT_TRUE(ReadGeoTiffGrey(tif, data, why)) << why;
    const std::uint8_t placed = data.ScanLine(268)[255];
    EXPECT_EQ(second.Images[3].ScanLine(290)[260], 160);
    EXPECT_EQ(data.ScanLine(290)[260], placed);  // under the line, the scan
    EXPECT_EQ(data.ScanLine(290)[2000], 240);    // beside it, the background

    const std::string info = Command("gdalinfo -json " + tif + " 2>/dev/null");
    for (const char* item : {"\"TIFFTAG_DATETIME\":\"2013:05:30 12:00:00\"", "\"IMAGE_TIME\":\"2013-05-30T12:00:00Z\"",
                             "\"BAND\":\"4\"", "\"WAVELENGTH\":\"10.7 \xC2\xB5m\"", "\"SECTOR\":\"northern hemisphere\"",
                             "grey 177..238: T = 418 - grey", "grey 239..254 (no scan gives them): a limb pixel",
                             "240 where no scan has filled the picture yet", "Geostationary Satellite (Sweep Y)"})
        EXPECT_NE(info.find(item), std::string::npos) << item << "\n" << info;
}

// The GeoTIFF's clean copy is placed and masked as the drawn composite is: the two differ
// only where a line was drawn.
TEST_F(ProductTest, TheCleanCopyIsTheDrawnCompositeWithoutItsLines)
{
    ASSERT_TRUE(LoadBuiltInMask(mask));
    options.SetTicked("MaskImage", true);
    options.SetTicked("SaveAsGeoTIFF", true);
    options.SetTicked("Boundaries", true);
    product.PrepareMask = [] {};
    product.DrawBoundaries = [](TExtBitmap& k, const TAbiProjection*) { std::fill_n(k.ScanLine(290), k.Width(), std::uint8_t{160}); };
    ASSERT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.120000.4.nc"), result)) << result.FailureReason;
    const TExtBitmap& drawn = composites.Images[3];
    const TExtBitmap& clean = composites.Clean[3];
    ASSERT_EQ(clean.Width(), drawn.Width());
    for (int y = 0; y < drawn.Height(); ++y) {
        if (y == 290)
            continue;
        ASSERT_TRUE(std::equal(drawn.ScanLine(y), drawn.ScanLine(y) + drawn.Width(), clean.ScanLine(y))) << "row " << y;
    }
    EXPECT_EQ(clean.ScanLine(0)[0], OffEarthValue(3));
}

// Everything that places a pixel on the Earth follows the satellite's longitude from the next
// image on: the GeoTIFF's projection, the mapping the lines are drawn by and the readout.
TEST_F(ProductTest, WhatPlacesAPixelFollowsTheSatelliteLongitude)
{
    TStation station(options, nullptr, TComposites::OnFirstUse);
    station.Product.InUseWaitMs = 10;
    station.Product.GeoLogPath = product.GeoLogPath;
    options.SetTicked("SaveAsGeoTIFF", true);
    options.SetTicked("Boundaries", true);
    const std::string tif = images + "2013/05/30/201305301200-g10-ir.tif";
    // The default first: a projection worked out once would keep it.
    for (const auto& [setting, longitude] : {std::pair{"-128", -128.0f}, std::pair{"-135", -135.0f}}) {
        options.SetPathText("SatelliteLongitude", setting);
        ASSERT_TRUE(station.Product.ProcessGoesFile(DropScan("goes15.2013.150.120000.4.nc"), result))
            << result.FailureReason;
        const std::string info = Command("gdalinfo -json " + tif + " 2>/dev/null");
        EXPECT_NE(info.find("Longitude of natural origin\\\"," + std::string(setting) + ","), std::string::npos)
            << setting << "\n" << info;
        // The picture's centre, on the satellite's meridian.
        float lon = 0, lat = 0;
        ASSERT_TRUE(station.Mapping.PixelToGeo(1408, 1625, lon, lat));
        EXPECT_NEAR(lon, longitude, 0.05f) << setting;
        ASSERT_TRUE(station.PixelToGeo(1408, 1625, lon, lat));
        EXPECT_NEAR(lon, longitude, 0.05f) << setting;
    }
}

// Beside each grey infrared image its colour one, in the table's colours and space in its N
// colour, with the lines kept grey; the channel's saved image (read back after a restart)
// stays the grey one.
TEST_F(ProductTest, ColourImageBesideTheGreyOneWithTheLinesKeptGrey)
{
    options.SetTicked("MaskImage", false);
    options.SetTicked("SaveAsPNG", true);
    options.SetTicked("Boundaries", true);
    options.SetPathText("ColourTable", "enhanced-ir");
    product.DrawBoundaries = [](TExtBitmap& k, const TAbiProjection*) { std::fill_n(k.ScanLine(290), k.Width(), std::uint8_t{160}); };
    std::vector<std::string> told;
    const auto listen = product.OnImageSaved.Add([&](std::uint8_t, const std::string& name) { told.push_back(name); });
    const std::string base = images + "2013/05/30/201305301200-g10-ir";
    ASSERT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.120000.4.nc"), result)) << result.FailureReason;
    EXPECT_EQ(result.SavedFileName, base + ".jpg");
    EXPECT_EQ(told, (std::vector<std::string>{base + ".png", base + ".jpg", base + "-col.png", base + "-col.jpg"}));
    EXPECT_EQ(MTime(base + "-col.jpg"), Noon20130530);

    TColourTable table;
    ASSERT_EQ(LoadColourTable(ColourTablePath("enhanced-ir"), table), "");
    const std::array<TColor, 256> palette = table.GreyPalette();
    TExtBitmap colour;
    ASSERT_TRUE(LoadPNGGraphic(&colour, base + "-col.png", true, false));
    ASSERT_EQ(colour.PixelFormat(), TPixelFormat::pf24bit);
    const TExtBitmap& k = composites.Images[3];
    const auto rgb = [&](int x, int y) {
        const std::uint8_t* p = colour.ScanLine(y) + x * 3;
        return static_cast<TColor>(p[2] | p[1] << 8 | p[0] << 16);
    };
    EXPECT_EQ(rgb(1408, 1624), palette[k.ScanLine(1624)[1408]]);  // the disc, never scanned yet
    EXPECT_EQ(rgb(260, 290), 0xA0A0A0u);                           // the line, as in the grey image
    EXPECT_EQ(rgb(255, 268), table.NotANumber);                   // the scan, off the Earth's disc

    // Without the setting the colour images go, as any format no longer saved.
    options.SetPathText("ColourTable", "");
    ASSERT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.120000.4.nc"), result));
    EXPECT_FALSE(fs::exists(base + "-col.jpg"));
    EXPECT_FALSE(fs::exists(base + "-col.png"));
}

// A table that cannot be used costs the colour images only, said once in the log with the
// file and the line.
TEST_F(ProductTest, ABrokenColourTableIsLoggedOnceAndTheGreyImagesGoOn)
{
    const std::string cpt = tmp.Root() + "/mine.cpt";
    std::ofstream(cpt) << "# mine\n200 0/0/0 250 255/255/255\n250 0/0/0 240 9/9/9\n";
    options.SetPathText("ColourTable", cpt);
    std::vector<std::string> log;
    product.OnLogLine = [&](const std::string& line) { log.push_back(line); };
    const std::string base = images + "2013/05/30/201305301200-g10-ir";
    ASSERT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.120000.4.nc"), result));
    ASSERT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.123000.4.nc"), result));
    EXPECT_TRUE(fs::exists(base + ".jpg"));
    EXPECT_FALSE(fs::exists(base + "-col.jpg"));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "Colour table " + cpt + ": line 3: the range must run from a lower to a higher temperature above 0 K; "
                      "grey images only");
}

// The legend goes on the saved pictures only: the composite (and the GeoTIFF made from it)
// keeps its data under where the legend lies.
TEST_F(ProductTest, TheLegendStampIsOnTheSavedImageNotOnTheComposite)
{
    options.SetTicked("MaskImage", false);
    options.SetTicked("SaveAsPNG", true);
    options.SetTicked("ImageStamp", true);
    ASSERT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.120000.4.nc"), result)) << result.FailureReason;
    const TExtBitmap& k = composites.Images[3];
    const int bottom = k.Height() - 1;
    EXPECT_EQ(k.ScanLine(bottom)[5], 240);
    TExtBitmap saved;
    ASSERT_TRUE(LoadPNGGraphic(&saved, images + "2013/05/30/201305301200-g10-ir.png", false, false));
    EXPECT_EQ(saved.ScanLine(bottom)[5], 0);        // the legend's black band
    EXPECT_EQ(saved.ScanLine(100)[5], 240);         // above it, the picture
}

// A GeoTIFF that cannot be written is a failure like any image: the incoming file stays for
// the next cycle, and the log says GDAL's reason.
TEST_F(ProductTest, AGeoTiffThatCannotBeWrittenKeepsTheIncomingFile)
{
    options.SetTicked("SaveAsGeoTIFF", true);
    const std::string tif = images + "2013/05/30/201305301200-g10-ir.tif";
    fs::create_directories(tif + "/taken");
    const std::string p = DropScan("goes15.2013.150.120000.4.nc");
    EXPECT_FALSE(product.ProcessGoesFile(p, result));
    EXPECT_EQ(result.FailureReason.rfind("cannot write GeoTIFF " + tif + ": ", 0), 0u) << result.FailureReason;
    EXPECT_GT(result.FailureReason.size(), ("cannot write GeoTIFF " + tif + ": ").size());
    EXPECT_TRUE(fs::exists(p));
    EXPECT_TRUE(fs::is_directory(tif));
    // Nothing half-made is left beside it.
    for (const auto& entry : fs::directory_iterator(images + "2013/05/30/"))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

// After a restart the GeoTIFF goes on from the clean copy the last one holds, as the drawn
// composite does from the last image.
TEST_F(ProductTest, CleanCopyIsRestoredFromTheGeoTiffBesideTheLastImage)
{
    options.SetTicked("SaveAsGeoTIFF", true);
    ASSERT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.120000.4.nc"), result));
    std::array<std::unique_ptr<TRegistryString>, ChannelCount> lastSaved;
    lastSaved[3] = std::make_unique<TRegistryString>("LastSaved4", result.SavedFileName);
    lastSaved[0] = std::make_unique<TRegistryString>("LastSaved1", images + "gone.jpg");
    TComposites restarted;
    std::vector<std::string> lines;
    RestoreCleanComposites(restarted, lastSaved, images, [&](const std::string& line) { lines.push_back(line); });
    for (int y = 0; y < CompositeHeight; y += 7)
        ASSERT_TRUE(std::equal(restarted.Clean[3].ScanLine(y), restarted.Clean[3].ScanLine(y) + CompositeWidth,
                               composites.Clean[3].ScanLine(y)))
            << y;
    EXPECT_EQ(lines, std::vector<std::string>{"GeoTIFF " + images +
                                              "gone.tif not restored (no such file); its clean copy starts blank"});
    EXPECT_EQ(restarted.Clean[0].ScanLine(0)[0], 16);

    // The GeoTIFF beside the last image gone (a kill between the two, retention): the chain
    // goes on from the channel's newest GeoTIFF, not from nothing.
    const std::string first = GeoTiffBeside(result.SavedFileName);
    ASSERT_TRUE(product.ProcessGoesFile(DropScan("goes15.2013.150.123000.4.nc", 4, 40.0f), result));
    fs::remove(GeoTiffBeside(result.SavedFileName));
    lastSaved[3]->Value = result.SavedFileName;
    TComposites again;
    lines.clear();
    RestoreCleanComposites(again, lastSaved, images, [&](const std::string& line) { lines.push_back(line); });
    for (int y = 0; y < CompositeHeight; y += 7)
        ASSERT_TRUE(std::equal(again.Clean[3].ScanLine(y), again.Clean[3].ScanLine(y) + CompositeWidth,
                               restarted.Clean[3].ScanLine(y)))
            << y;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "GeoTIFF " + GeoTiffBeside(result.SavedFileName) +
                            " not restored (no such file); its clean copy continues from " + first);
}

// A station that saves GeoTIFFs alone has no picture to remember: it remembers its GeoTIFF,
// and a restart goes on from it.
TEST_F(ProductTest, AStationOfGeoTiffsAloneGoesOnFromItsLastGeoTiff)
{
    options.SetTicked("SaveAsJPEG", false);
    options.SetTicked("SaveAsGeoTIFF", true);
    TStation station(options, nullptr, TComposites::OnFirstUse);
    station.Product.InUseWaitMs = 10;
    station.Product.GeoLogPath = product.GeoLogPath;
    ASSERT_TRUE(station.Product.ProcessGoesFile(DropScan("goes15.2013.150.120000.4.nc"), result))
        << result.FailureReason;
    EXPECT_EQ(result.SavedFileName, images + "2013/05/30/201305301200-g10-ir.tif");
    std::array<std::unique_ptr<TRegistryString>, ChannelCount> lastSaved;
    lastSaved[3] = std::make_unique<TRegistryString>("LastSaved4", result.SavedFileName);
    TStation restarted(options, nullptr, TComposites::OnFirstUse);
    std::vector<std::string> lines;
    restarted.RestoreComposites(lastSaved, {}, [&](const std::string& line) { lines.push_back(line); });
    EXPECT_EQ(lines, std::vector<std::string>{});
    const TExtBitmap &before = station.Composites.Clean[3], &after = restarted.Composites.Clean[3];
    ASSERT_EQ(after.Width(), CompositeWidth);
    for (int y = 0; y < CompositeHeight; y += 7)
        ASSERT_TRUE(std::equal(after.ScanLine(y), after.ScanLine(y) + CompositeWidth, before.ScanLine(y))) << y;
}

TEST(ApplyMask, ChannelValuesAndMismatchedSizes)
{
    TExtBitmap mask(4, 2), k(4, 2);
    mask.Fill(255);
    mask.ScanLine(1)[2] = 0;
    k.Fill(100);
    ApplyMask(mask, k, 0);
    EXPECT_EQ(k.ScanLine(1)[2], 0);
    EXPECT_EQ(k.ScanLine(1)[1], 100);
    ApplyMask(mask, k, 3);
    EXPECT_EQ(k.ScanLine(1)[2], 255);
    TExtBitmap other(5, 2);
    other.Fill(100);
    ApplyMask(mask, other, 3);
    EXPECT_EQ(other.ScanLine(1)[2], 100);

    // Eight pixels go at a time: every mask value, in any place of a word or of the row's
    // tail, keeps or replaces its own pixel only.
    const std::uint8_t values[] = {0, 1, 0x7F, 0x80, 0x81, 0xFE, 0xFF, 0};
    TExtBitmap wideMask(19, 1), wide(19, 1);
    for (int x = 0; x < 19; ++x) {
        wideMask.ScanLine(0)[x] = values[(x * 3) % 8];
        wide.ScanLine(0)[x] = static_cast<std::uint8_t>(10 + x);
    }
    ApplyMask(wideMask, wide, 3);
    for (int x = 0; x < 19; ++x)
        EXPECT_EQ(wide.ScanLine(0)[x], values[(x * 3) % 8] == 0 ? 255 : 10 + x) << x;
}

TEST(ImageNames, ShortAndLong)
{
    const TDateTime t = 41424.5;
    EXPECT_EQ(ShortImageName("/img/2013/05/30/", t, 0, ".jpg"), "/img/2013/05/30/201305301200-g10-vis.jpg");
    EXPECT_EQ(ShortImageName("/img/", t, 1, ".png"), "/img/201305301200-g10-mir.png");
    EXPECT_EQ(LongImageName("/raw/2013/05/30/goes15.2013.150.120000.4.nc", ".jpg"),
              "/raw/2013/05/30/goes15.2013.150.120000.4.jpg");
    EXPECT_EQ(DatedDirectory("/raw/", t), "/raw/2013/05/30/");
}

TEST(BuiltInMask, LoadsWithTheDiscOutline)
{
    TExtBitmap mask;
    ASSERT_TRUE(LoadBuiltInMask(mask));
    ASSERT_EQ(mask.Width(), CompositeWidth);
    ASSERT_EQ(mask.Height(), CompositeHeight);
    EXPECT_EQ(mask.ScanLine(1625)[1408], 255);
    EXPECT_EQ(mask.ScanLine(0)[0], 0);
    EXPECT_EQ(mask.ScanLine(274)[1408], 0);
    EXPECT_EQ(mask.ScanLine(275)[1408], 255);
    // Filled from runs, it is the very picture the PNG resource holds.
    TExtBitmap png;
    png.SetPixelFormat(TPixelFormat::pf8bit);
    const auto bytes = Mask256Png();
    std::istringstream stream(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    ASSERT_TRUE(LoadPNGMaskFromStream(png, stream, false));
    ASSERT_EQ(png.Width(), mask.Width());
    ASSERT_EQ(png.Height(), mask.Height());
    for (int y = 0; y < mask.Height(); ++y)
        ASSERT_EQ(std::memcmp(png.ScanLine(y), mask.ScanLine(y), static_cast<std::size_t>(mask.Width())), 0) << y;
}

}  // namespace
