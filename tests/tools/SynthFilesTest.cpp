#include "SynthTestSupport.h"

#include "product/composite/ChannelCatalogue.h"
#include "bzip2/BZ2files.h"
#include "mapping/SegmentStuff.h"
#include "tools/synth/SynthCalibration.h"
#include "tools/synth/SynthGenerator.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>

using namespace synth;
namespace fs = std::filesystem;

namespace {

TPixelToGeoFactory CompositeMapping()
{
    return [] {
        auto m = std::make_shared<TSegmentMapping>();
        m->SegmentIndex = 125;
        m->LongitudeOffset = 7.0f;
        return TPixelToGeo([m](int x, int y, float& lon, float& lat) { return m->PixelToGeo(x, y, lon, lat); });
    };
}

// An open netCDF file, closed whatever happens.
class TNcReader {
public:
    explicit TNcReader(const fs::path& path) { ok_ = nc_open(path.c_str(), NC_NOWRITE, &id_) == NC_NOERR; }
    ~TNcReader()
    {
        if (ok_)
            nc_close(id_);
    }
    bool Ok() const { return ok_; }
    int Id() const { return id_; }
    std::size_t Dim(const char* name) const
    {
        int d = -1;
        std::size_t len = 0;
        if (nc_inq_dimid(id_, name, &d) != NC_NOERR || nc_inq_dimlen(id_, d, &len) != NC_NOERR)
            return 0;
        return len;
    }
    long Scalar(const char* name) const
    {
        int v = -1;
        long value = -999;
        nc_type type = NC_NAT;
        int dims = -1;
        EXPECT_EQ(nc_inq_varid(id_, name, &v), NC_NOERR) << name;
        EXPECT_EQ(nc_inq_var(id_, v, nullptr, &type, &dims, nullptr, nullptr), NC_NOERR);
        EXPECT_EQ(type, NC_INT) << name;
        EXPECT_EQ(nc_get_var_long(id_, v, &value), NC_NOERR) << name;
        return value;
    }
    std::vector<float> Floats(const char* name, std::size_t count) const
    {
        int v = -1;
        std::vector<float> data(count);
        EXPECT_EQ(nc_inq_varid(id_, name, &v), NC_NOERR) << name;
        EXPECT_EQ(nc_get_var_float(id_, v, data.data()), NC_NOERR) << name;
        return data;
    }
    std::string Text(int var, const char* att) const
    {
        std::size_t len = 0;
        if (nc_inq_attlen(id_, var, att, &len) != NC_NOERR)
            return "<missing>";
        std::string s(len, '\0');
        nc_get_att_text(id_, var, att, s.data());
        return s;
    }

private:
    int id_ = -1;
    bool ok_ = false;
};

fs::path Decompressed(const fs::path& bz2)
{
    EXPECT_TRUE(DecompressBZ2File(bz2.string())) << bz2;
    return fs::path(BZ2TargetName(bz2.string()));
}

class SynthFilesTest : public ::testing::Test {
protected:
    TOptions Options(std::vector<std::string_view> extra)
    {
        std::vector<std::string_view> args{"--out", outDir_, "--start", "2019-06-21T21:00", "--quiet", "--seed", "5"};
        args.insert(args.end(), extra.begin(), extra.end());
        return ParseOptions(args);
    }
    TGenerateResult Generate(const TOptions& o)
    {
        TGenerator g(o, CompositeMapping(), land_, nullptr);
        return g.Run();
    }
    TTempDir dir_;
    std::string outDir_ = dir_.Path().string();
    TLandMask land_;
};

TEST_F(SynthFilesTest, ImageFilesHaveTheBroadcastLayout)
{
    const auto result = Generate(Options({"--scale", "0.04", "--bands", "1,4"}));
    ASSERT_EQ(result.Files.size(), 2u);
    EXPECT_EQ(result.Files[0].filename(), "goes15.2019.172.210018_1.nc.bz2");
    EXPECT_EQ(result.Files[1].filename(), "goes15.2019.172.210018_4.nc.bz2");

    const TScanLayout layout = MakeScanLayout(TScanKind::FullDisk, 0.04);
    for (int band : {1, 4}) {
        const fs::path nc = Decompressed(result.Files[band == 1 ? 0 : 1]);
        TNcReader f(nc);
        ASSERT_TRUE(f.Ok());
        int format = 0;
        nc_inq_format(f.Id(), &format);
        EXPECT_EQ(format, NC_FORMAT_CLASSIC);
        EXPECT_EQ(f.Dim("xc"), static_cast<std::size_t>(layout.Elements));
        EXPECT_EQ(f.Dim("yc"), static_cast<std::size_t>(layout.Lines));
        EXPECT_EQ(f.Dim("time"), 1u);
        EXPECT_EQ(f.Scalar("bands"), band);
        EXPECT_EQ(f.Scalar("startLine"), layout.StartLine);
        EXPECT_EQ(f.Scalar("startElem"), layout.StartElement);
        EXPECT_EQ(f.Scalar("lineRes"), layout.LineResolution);
        EXPECT_EQ(f.Scalar("elemRes"), layout.ElementResolution);
        EXPECT_EQ(f.Scalar("imageDate"), 2019172);
        EXPECT_EQ(f.Scalar("imageTime"), 210018);
        int timeVar = -1, dataVar = -1, dims[NC_MAX_VAR_DIMS], ndims = 0;
        nc_type type = NC_NAT;
        ASSERT_EQ(nc_inq_varid(f.Id(), "time", &timeVar), NC_NOERR);
        long seconds = 0;
        nc_get_var_long(f.Id(), timeVar, &seconds);
        EXPECT_EQ(seconds, 1561150818);
        EXPECT_EQ(f.Text(timeVar, "units"), "seconds since 1970-1-1 0:0:0");
        ASSERT_EQ(nc_inq_varid(f.Id(), "data", &dataVar), NC_NOERR);
        nc_inq_var(f.Id(), dataVar, nullptr, &type, &ndims, dims, nullptr);
        EXPECT_EQ(type, NC_FLOAT);
        ASSERT_EQ(ndims, 3);
        char name[NC_MAX_NAME + 1];
        const char* expected[] = {"time", "yc", "xc"};
        for (int i = 0; i < 3; ++i) {
            nc_inq_dimname(f.Id(), dims[i], name);
            EXPECT_STREQ(name, expected[i]);
        }
        EXPECT_EQ(f.Text(NC_GLOBAL, "Satellite Sensor"), "G-15");
    }
}

// The samples are exactly what the scene gives at the geolocated spots, and every infrared
// sample sits inside the range of the raw count the scene asked for, so the product's
// radiance-to-count tables give back the intended count.
TEST_F(SynthFilesTest, SamplesCalibrateBackToTheIntendedCounts)
{
    const auto o = Options({"--scale", "0.03", "--sectors", "nh", "--no-bz2"});
    const auto result = Generate(o);
    ASSERT_EQ(result.Files.size(), 5u);
    const TScanLayout layout = MakeScanLayout(TScanKind::Northern, 0.03);
    const std::size_t n = static_cast<std::size_t>(layout.Elements);
    TScanGeolocator geo(layout, CompositeMapping()());
    TScene scene(5, land_);
    scene.SetTime(ParseUtc("2019-06-21T21:00:18").value());
    std::vector<float> lon(n), lat(n);
    std::set<int> counts;
    for (std::size_t k = 0; k < o.Bands.size(); ++k) {
        const int band = o.Bands[k];
        TNcReader f(result.Files[k]);
        ASSERT_TRUE(f.Ok()) << result.Files[k];
        const auto data = f.Floats("data", n * layout.Lines);
        const auto ir = InfraredBand(band);
        for (int l = 0; l < layout.Lines; ++l) {
            geo.Line(l, lon, lat);
            for (std::size_t e = 0; e < n; ++e) {
                const float v = data[l * n + e];
                const TSceneSample s = scene.At(lon[e], lat[e]);
                ASSERT_EQ(v, SampleOfBand(band, s)) << "band " << band << " line " << l << " element " << e;
                if (!ir) {
                    EXPECT_GE(v, 0.0f);
                    EXPECT_LE(v, 100.0f);
                    continue;
                }
                const int raw = RawCountOfTemperature(*ir, s.KelvinOfBand(band));
                const long index = static_cast<long>(std::trunc(static_cast<long double>(v) * 1000.0L));
                ASSERT_GE(index, std::lround(1000.0 * RadianceOfRawCount(*ir, raw)));
                ASSERT_LT(index, std::lround(1000.0 * RadianceOfRawCount(*ir, raw + 1)));
                if (band == 4)
                    counts.insert(ModeACountOfRawCount(*ir, raw));
            }
        }
    }
    // A scene, not a flat field: clouds and surface spread over many counts.
    EXPECT_GT(counts.size(), 40u);
}

TEST_F(SynthFilesTest, GeolocationFileHoldsTheGridWithNaNInSpace)
{
    const auto result = Generate(Options({"--scale", "0.03", "--bands", "2", "--geo", "--netcdf4"}));
    ASSERT_EQ(result.Files.size(), 2u);
    EXPECT_EQ(result.Files[1].filename(), "goes15.2019.172.210018_geo.nc.bz2");
    const fs::path nc = Decompressed(result.Files[1]);
    TNcReader f(nc);
    ASSERT_TRUE(f.Ok());
    int format = 0;
    nc_inq_format(f.Id(), &format);
    EXPECT_EQ(format, NC_FORMAT_NETCDF4);
    const TScanLayout layout = MakeScanLayout(TScanKind::FullDisk, 0.03);
    const std::size_t n = static_cast<std::size_t>(layout.Elements);
    ASSERT_EQ(f.Dim("xc"), n);
    ASSERT_EQ(f.Dim("yc"), static_cast<std::size_t>(layout.Lines));
    const auto lon = f.Floats("lon", n * layout.Lines), lat = f.Floats("lat", n * layout.Lines);
    TScanGeolocator geo(layout, CompositeMapping()());
    std::vector<float> gl(n), ga(n);
    int nan = 0;
    for (int l = 0; l < layout.Lines; ++l) {
        geo.Line(l, gl, ga);
        for (std::size_t e = 0; e < n; ++e) {
            if (std::isnan(gl[e])) {
                EXPECT_TRUE(std::isnan(lon[l * n + e]) && std::isnan(lat[l * n + e]));
                ++nan;
            } else {
                EXPECT_EQ(lon[l * n + e], gl[e]);
                EXPECT_EQ(lat[l * n + e], ga[e]);
            }
        }
    }
    EXPECT_GT(nan, 0);
    EXPECT_LT(nan, static_cast<int>(n * layout.Lines / 2));
}

TEST_F(SynthFilesTest, OnlyFinishedFilesAreLeftInTheDirectory)
{
    Generate(Options({"--scale", "0.02", "--sectors", "nh,sh", "--geo"}));
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.Path()))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names.size(), 12u); // 5 bands and a geolocation file, two scans
    for (const auto& name : names) {
        EXPECT_EQ(name.rfind("goes15.2019.172.2", 0), 0u) << name;
        EXPECT_EQ(name.substr(name.size() - 7), ".nc.bz2") << name;
    }
}

TEST_F(SynthFilesTest, AnUnwritableDirectoryIsReportedNotCrashedOn)
{
    const fs::path blocker = dir_.Path() / "file";
    std::ofstream(blocker) << "x";
    const std::string out = (blocker / "sub").string();
    auto o = ParseOptions({"--out", out, "--quiet", "--scale", "0.02"});
    TGenerator g(o, CompositeMapping(), land_, nullptr);
    EXPECT_THROW(g.Run(), std::runtime_error);
}

// Compressed piece by piece on several threads, the file is a row of streams that the
// product's decoders (block-parallel and sequential) and bzip2 itself read back whole.
TEST(SynthCompress, RoundTripsThroughTheProductsDecompressor)
{
    TTempDir dir;
    const fs::path src = dir.Path() / ".src.tmp";
    std::string content;
    while (content.size() < 2 * CompressionPiece + 12345)
        content += std::to_string(content.size() * 7919 % 1000) + ",";
    std::ofstream(src, std::ios::binary) << content;
    const fs::path final = dir.Path() / "goes15.2019.172.210018_1.nc.bz2";
    PublishFile(src, final, 3);
    EXPECT_FALSE(fs::exists(src));
    ASSERT_TRUE(fs::exists(final));
    const fs::path plain = dir.Path() / "goes15.2019.172.210018_1.nc";
    auto read = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    for (unsigned workers : {1u, 2u}) {
        ASSERT_TRUE(DecompressBZ2File(final.string(), workers));
        EXPECT_TRUE(read(plain) == content) << workers;
    }
    if (std::system("command -v bzip2 >/dev/null 2>&1") == 0) {
        ASSERT_EQ(std::system(("bzip2 -dc " + final.string() + " > " + plain.string()).c_str()), 0);
        EXPECT_TRUE(read(plain) == content);
    }
}

TEST(SynthCompress, MissingSourceLeavesNoTarget)
{
    TTempDir dir;
    const fs::path final = dir.Path() / "x.nc.bz2";
    EXPECT_THROW(PublishFile(dir.Path() / "absent", final), std::runtime_error);
    EXPECT_FALSE(fs::exists(final));
    EXPECT_FALSE(fs::exists(TemporaryPath(final, ".part")));
}

// The installed tool itself, run as the demo and the end-to-end tests run it.
TEST(SynthCommandLine, SmallFeedWithScale)
{
    const fs::path tool = fs::path(ORVANTA_BINARY_DIR) / "app" / "orvanta-synth";
    if (!fs::exists(tool))
        GTEST_SKIP() << "tool not built";
    TTempDir dir;
    const std::string cmd = tool.string() + " --out " + dir.Path().string() +
                            " --scale 0.02 --bands 1,4 --geo --quiet --start 2019-06-21T03:00 --hours 1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
        std::uint8_t channel = 0;
        TDateTime time = 0;
        EXPECT_TRUE(ParseGoesFileName(entry.path().string(), channel, time)) << entry.path();
        ++files;
    }
    EXPECT_EQ(files, 3 * 3); // a full disk at 03:00, then a northern and a southern sector
    EXPECT_NE(std::system((tool.string() + " --out " + dir.Path().string() + " --bands 5 2>/dev/null").c_str()), 0);
}

} // namespace

namespace {

TEST(SynthInterrupt, AStopRequestLeavesNoPartialFiles)
{
    TTempDir dir;
    TLandMask land;
    auto o = ParseOptions({"--out", dir.Path().string(), "--quiet", "--scale", "0.05", "--sectors", "nh,sh"});
    StopRequested().store(true);
    TGenerator g(o, CompositeMapping(), land, nullptr);
    EXPECT_THROW(g.Run(), std::runtime_error);
    StopRequested().store(false);
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

} // namespace
