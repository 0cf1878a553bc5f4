#include "SynthTestSupport.h"

#include "reprocess/Reprocess.h"
#include "base/Files.h"
#include "mapping/CompositeLayout.h"
#include "mapping/SegmentStuff.h"
#include "support/TempXdg.h"
#include "tools/synth/SynthGenerator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace fs = std::filesystem;

namespace {

// A small archive as a station keeps it: two channels, a full disk at 00:00, then the
// northern and southern scans of 00:30 and 01:00.
class ReprocessArchiveTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        archive_ = new TTempDir;
        synth::TLandMask land;
        const auto options =
            synth::ParseOptions({"--out", archive_->Path().string(), "--quiet", "--no-bz2", "--scale", "0.05",
                                 "--bands", "1,4", "--start", "2019-06-21T00:00", "--hours", "1.5"});
        const auto pixelToGeo = []() -> synth::TPixelToGeo {
            auto mapping = std::make_shared<TSegmentMapping>(CompositeMapping());
            return [mapping](int x, int y, float& lon, float& lat) { return mapping->PixelToGeo(x, y, lon, lat); };
        };
        ASSERT_EQ(synth::TGenerator(options, pixelToGeo, land, nullptr).Run().Files.size(), 10u);
    }
    static void TearDownTestSuite()
    {
        delete archive_;
        archive_ = nullptr;
    }

    ReprocessArchiveTest()
    {
        options_.SetPathText("SourcePath", xdg_.Dir("in"));
        options_.SetPathText("NetCDFPath", xdg_.Dir("raw"));
    }

    // "--reprocess <archive> args" into the image tree, as the runner does it, on `workers`
    // threads; the failures, each with its reason.
    std::vector<std::string> Reprocess(const std::string& tree, std::vector<std::string> args, unsigned workers)
    {
        options_.SetPathText("SavePath", tree);
        args.insert(args.begin(), archive_->Path().string());
        TReprocessRequest request;
        EXPECT_EQ(ParseReprocessArguments(args, request), "");
        std::vector<std::string> failures;
        const TStationSettings settings = StationSettings(options_);
        const auto chains =
            PlanChains(FindArchivedScans(request.Directories, settings.SourcePath, failures), settings, request);
        std::mutex lock;
        const std::atomic<bool> stop{false};
        RunChains(
            chains, options_, settings, workers, stop,
            [&](const TReprocessOutcome& o) {
                const std::lock_guard<std::mutex> guard(lock);
                if (o.Result == TReprocessResult::Failed)
                    failures.push_back(o.Path + ": " + o.Reason);
            },
            [](const std::string&) {});
        return failures;
    }

    // Every file under the tree by its relative name.
    static std::map<std::string, std::string> Files(const std::string& tree)
    {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(tree))
            if (e.is_regular_file())
                files[fs::relative(e.path(), tree).string()] = TTempXdg::ReadText(e.path().string());
        return files;
    }

    static TTempDir* archive_;
    TAsProgram program_;
    TTempXdg xdg_;
    TFixedOptions options_;
};

TTempDir* ReprocessArchiveTest::archive_ = nullptr;

// The state of a half hour's grey JPEGs (both channels): '-' none, 'r' an unbroken run's,
// 's' spoiled (bytes added after the picture) yet stamped with its image time, 'u' spoiled
// and stamped with another time.
struct TRangeCase {
    const char* name;
    std::vector<std::string> args;
    const char* before; // the half hours 00:00, 00:30 and 01:00
    const char* after; // 's' and 'u': untouched
    friend void PrintTo(const TRangeCase& c, std::ostream* os) { *os << c.name; }
};

class ReprocessRangeTest : public ReprocessArchiveTest, public ::testing::WithParamInterface<TRangeCase> {};

TEST_P(ReprocessRangeTest, MakesTheRangeFromFromToBeforeToAndKeepsWhatExistsUnlessForced)
{
    const TRangeCase& c = GetParam();
    static const std::map<std::string, std::string> unbroken = [&] {
        const std::string tree = xdg_.Dir("unbroken");
        EXPECT_EQ(Reprocess(tree, {}, 1), std::vector<std::string>{});
        return Files(tree);
    }();
    ASSERT_EQ(unbroken.size(), 6u);
    const std::string tree = xdg_.Dir("img");
    const auto images = [&](int halfHour) {
        std::vector<std::pair<std::string, TDateTime>> of;
        const TDateTime time = *TryEncodeDate(2019, 6, 21) + halfHour / 48.0;
        for (const char* tag : {"vis", "ir"})
            of.emplace_back(FormatDateTime("yyyy/mm/dd/yyyymmddhhnn", time) + "-g10-" + tag + ".jpg", time);
        return of;
    };
    for (int h = 0; h < 3; ++h)
        for (const auto& [name, time] : images(h)) {
            if (c.before[h] == '-')
                continue;
            TTempXdg::WriteText(tree + name, unbroken.at(name) + (c.before[h] == 'r' ? "" : "spoiled"));
            ASSERT_TRUE(SetFileDateTime(tree + name, time + (c.before[h] == 'u' ? 1.0 / 24 : 0)));
        }
    EXPECT_EQ(Reprocess(tree, c.args, 2), std::vector<std::string>{});
    const auto made = Files(tree);
    for (int h = 0; h < 3; ++h)
        for (const auto& [name, time] : images(h)) {
            const auto at = made.find(name);
            if (c.after[h] == '-') {
                EXPECT_EQ(at, made.end()) << name;
                continue;
            }
            ASSERT_NE(at, made.end()) << name;
            EXPECT_EQ(at->second, unbroken.at(name) + (c.after[h] == 'r' ? "" : "spoiled")) << name;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReprocessRangeTest,
    ::testing::Values(
        // The scans before --from are where the composites go on from, not made.
        TRangeCase{"FromIsTakenToIsNot", {"--from", "2019-06-21T00:30", "--to", "2019-06-21T01:00"}, "r--", "rr-"},
        // The next half hour goes on from the image kept.
        TRangeCase{"WithoutForceAnImageThereIsKept", {"--from", "2019-06-21T00:30"}, "rs-", "rsr"},
        TRangeCase{"AnImageOfAnotherTimeIsMadeAgain", {}, "ru-", "rrr"},
        TRangeCase{"ForceRemakesTheRangeAlone",
                   {"--from", "2019-06-21T00:30", "--to", "2019-06-21T01:00", "--force"},
                   "sss",
                   "srs"}),
    [](const ::testing::TestParamInfo<TRangeCase>& info) { return std::string(info.param.name); });

// The channels are made side by side, each in station order: the images must be those of one
// worker, byte for byte.
TEST_F(ReprocessArchiveTest, SideBySideChainsMakeTheImagesOfOneWorker)
{
    options_.SetPathText("ColourTable", "enhanced-ir");
    const std::string one = xdg_.Dir("one"), two = xdg_.Dir("two");
    EXPECT_EQ(Reprocess(one, {}, 1), std::vector<std::string>{});
    EXPECT_EQ(Reprocess(two, {}, 2), std::vector<std::string>{});
    const auto sequential = Files(one), parallel = Files(two);
    // Six images, and the colour twins of the infrared ones.
    EXPECT_EQ(sequential.size(), 6u + 3);
    EXPECT_EQ(parallel.size(), sequential.size());
    for (const auto& [name, bytes] : sequential)
        EXPECT_TRUE(parallel.contains(name) && parallel.at(name) == bytes) << name;
}

// GeoTIFFs alone are made like any image, and a later run goes on from the last one made as a
// restarted station does.
TEST_F(ReprocessArchiveTest, GeoTiffsAloneAreMadeAndALaterRunGoesOnFromThem)
{
    options_.SetTicked("SaveAsJPEG", false);
    options_.SetTicked("SaveAsGeoTIFF", true);
    const std::string whole = xdg_.Dir("whole"), split = xdg_.Dir("split");
    EXPECT_EQ(Reprocess(whole, {}, 1), std::vector<std::string>{});
    EXPECT_EQ(Reprocess(split, {"--to", "2019-06-21T01:00"}, 1), std::vector<std::string>{});
    EXPECT_EQ(Reprocess(split, {"--from", "2019-06-21T01:00"}, 1), std::vector<std::string>{});
    const auto once = Files(whole), twice = Files(split);
    EXPECT_EQ(once.size(), 6u);
    EXPECT_EQ(twice.size(), once.size());
    for (const auto& [name, bytes] : once)
        EXPECT_TRUE(twice.contains(name) && twice.at(name) == bytes) << name;
}

} // namespace
