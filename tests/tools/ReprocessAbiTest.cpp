#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>

#include "imaging/PNG_IO.h"
#include "product/composite/ChannelCatalogue.h"
#include "reprocess/Reprocess.h"
#include "support/AbiFile.h"
#include "support/TempXdg.h"

namespace fs = std::filesystem;

namespace {

// NOAA's archive keeps ABI files as ABI-L1b-Rad<sector>/<year>/<day of year>/<hour>/: a
// reprocess finds them there and makes each slot's image from its scans in the order they
// were taken, whatever their sector. By name the CONUS scan would come first, and the older
// mesoscale scan would cover it.
TEST(ReprocessAbi, TakesNoaasLayoutInTheOrderTheScansWereTaken)
{
    TTempXdg xdg;
    const std::string archive = xdg.Dir("noaa");
    const struct {
        const char* folder;
        const char* name;
        std::uint16_t raw;
    } files[] = {
        {"ABI-L1b-RadM/2026/342/12/", "OR_ABI-L1b-RadM1-M6C13_G18_s20263421200210_e20263421200267_c20263421200301.nc",
         900},
        {"ABI-L1b-RadC/2026/342/12/", "OR_ABI-L1b-RadC-M6C13_G18_s20263421206170_e20263421208543_c20263421208590.nc",
         1500},
        {"ABI-L1b-RadM/2026/342/12/", "OR_ABI-L1b-RadM1-M6C13_G18_s20263421210210_e20263421210267_c20263421210301.nc",
         700},
    };
    for (const auto& file : files) {
        const AbiFile f = WholeAbiFile(file.raw);
        fs::create_directories(archive + file.folder);
        WriteAbiFile(archive + file.folder + file.name, f);
    }
    TFixedOptions options;
    options.SetPathText("SourcePath", xdg.Dir("in"));
    options.SetPathText("NetCDFPath", xdg.Dir("raw"));
    const std::string images = xdg.Dir("img");
    options.SetPathText("SavePath", images);
    options.SetTicked("SaveAsJPEG", false);
    options.SetTicked("SaveAsPNG", true);
    const TStationSettings settings = StationSettings(options);
    std::vector<std::string> problems;
    const std::vector<TArchivedScan> scans = FindArchivedScans({archive}, settings.SourcePath, problems);
    ASSERT_EQ(scans.size(), 3u);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(scans[0].Channel, AbiChannel(18, 13));
    std::vector<std::string> failures;
    std::mutex lock;
    const std::atomic<bool> stop{false};
    RunChains(
        PlanChains(scans, settings, TReprocessRequest{}), options, settings, 1, stop,
        [&](const TReprocessOutcome& o) {
            const std::lock_guard<std::mutex> guard(lock);
            if (o.Result == TReprocessResult::Failed)
                failures.push_back(o.Path + ": " + o.Reason);
        },
        [](const std::string&) {});
    EXPECT_EQ(failures, std::vector<std::string>{});
    // The 12:00 slot shows the CONUS scan taken last in it; the 12:10 slot its own scan.
    const AbiFile f;
    for (const auto& [image, raw] : {std::pair{"202612081200", 1500}, std::pair{"202612081210", 700}}) {
        TExtBitmap picture;
        ASSERT_TRUE(LoadPNGGraphic(&picture, images + "2026/12/08/" + image + "-g18-c13.png", false, false, nullptr))
            << image;
        EXPECT_EQ(picture.ScanLine(f.row)[f.column], AbiGrey(f, static_cast<std::uint16_t>(raw))) << image;
    }
}

} // namespace
