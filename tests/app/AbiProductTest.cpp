#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "product/GoesProduct.h"
#include "support/AbiFile.h"
#include "support/TempXdg.h"

namespace fs = std::filesystem;

namespace {

// ABI files through the same product as GOES-15 scans: named, placed on their satellite's grid
// by their own coordinates, only where they hold data, and saved under the satellite's and
// band's image name; a band not kept is only archived; a file that lies about its band waits
// for its strikes like any damaged scan.
TEST(AbiProduct, FilesArePlacedByTheirOwnCoordinatesOnlyWhereTheyHoldData)
{
    const std::string start = "_s20263421210210_e20263421210267_c20263421210301.nc";
    struct Row {
        const char* name;
        int band, bandId;
        bool ok, skipped;
        const char* reason; // part of the failure reason
        const char* satellite = "_G18"; // in the name
    } rows[] = {
        {"kept band", 13, 0, true, false, ""},
        {"band not kept", 9, 0, true, true, ""},
        {"band_id that disagrees", 13, 7, false, false, "band_id 7 disagrees"},
        {"satellite that is none", 13, 0, false, false, "file name not understood (", "_G15"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TTempXdg tmp;
        const std::string incoming = tmp.Dir("incoming"), raw = tmp.Dir("raw"), images = tmp.Dir("images");
        TFixedOptions options;
        options.SetPathText("SourcePath", incoming);
        options.SetPathText("NetCDFPath", raw);
        options.SetPathText("SavePath", images);
        TComposites composites(TComposites::OnFirstUse);
        TExtBitmap mask;
        TGoesProduct product(options, composites, mask);
        product.InUseWaitMs = 10;
        product.SettledAfterMs = 0;

        AbiFile f = WholeAbiFile(300, row.band);
        f.bandId = row.bandId;
        f.dqf.assign(f.width * f.height, 0);
        f.dqf[1] = 3; // no value: the composite keeps its background there
        f.dqf[2] = 1; // conditionally usable: drawn
        char band[3];
        std::snprintf(band, sizeof band, "%02d", row.band);
        const std::string path = incoming + "OR_ABI-L1b-RadM1-M6C" + band + row.satellite + start;
        WriteAbiFile(path, f);

        TGoesFileResult result;
        EXPECT_EQ(product.ProcessGoesFile(path, result), row.ok) << result.FailureReason;
        EXPECT_EQ(result.Skipped, row.skipped);
        EXPECT_NE(result.FailureReason.find(row.reason), std::string::npos) << result.FailureReason;
        const std::string image = images + "2026/12/08/202612081210-g18-c" + band + ".jpg";
        EXPECT_EQ(fs::exists(image), row.ok && !row.skipped);
        // A name that cannot be is put aside at once; a damaged file waits for its strikes.
        const bool putAside = std::string(row.satellite) != "_G18";
        EXPECT_EQ(fs::exists(path), !row.ok && !putAside);
        if (!row.ok || row.skipped)
            continue;
        EXPECT_EQ(result.SavedFileName, image);
        // The slot the log, status and metrics give is the image's, not a GOES-15 half hour.
        EXPECT_EQ(FormatDateTime("hh:nn", result.SlotTime), "12:10");
        ASSERT_TRUE(result.Quality.has_value());
        EXPECT_EQ(result.Quality->NoValue, 1);
        EXPECT_EQ(result.Quality->Conditional, 1);
        const TExtBitmap& composite = composites.Image(AbiChannel(18, row.band));
        ASSERT_EQ(composite.Width(), AbiGridSize);
        EXPECT_EQ(composite.ScanLine(f.row)[f.column], AbiGrey(f, f.raw[0]));
        EXPECT_EQ(composite.ScanLine(f.row)[f.column + 1], 240);
        EXPECT_EQ(composite.ScanLine(f.row)[f.column + 2], AbiGrey(f, f.raw[2]));
        EXPECT_EQ(composite.ScanLine(f.row + 149)[f.column + 199], AbiGrey(f, f.raw.back()));
        EXPECT_EQ(composite.ScanLine(f.row)[f.column - 1], 240);
    }
}

} // namespace
