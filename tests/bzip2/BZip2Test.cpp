#include <bzlib.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <sstream>

#include "imaging/TempDir.h"
#include "bzip2/BZ2files.h"
#include "bzip2/BZip2.h"

namespace {

std::string compress(const std::string& data, int level = 9)
{
    std::string out(data.size() + data.size() / 100 + 700, '\0');
    auto size = static_cast<unsigned>(out.size());
    const int rc = BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(data.data()),
                                            static_cast<unsigned>(data.size()), level, 0, 0);
    EXPECT_EQ(rc, BZ_OK);
    out.resize(size);
    return out;
}

// Something like a scan: smooth runs with noise, so blocks compress but not trivially.
std::string sampleData(std::size_t size, unsigned seed = 1)
{
    std::string s(size, '\0');
    std::mt19937 rng(seed);
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i / 97) % 200 + rng() % 8);
    return s;
}

std::string decompressAll(TBZDecompressionStream& stream)
{
    std::string out;
    char block[7000];
    while (const auto n = stream.Read(block, sizeof block))
        out.append(block, n);
    return out;
}

std::string messageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(nothing raised)";
}

timespec mtimeOf(const std::string& p)
{
    struct stat st{};
    ::stat(p.c_str(), &st);
    return st.st_mtim;
}

class BZ2FileTest : public TempDirTest {
protected:
    std::string writeCompressed(const std::string& name, const std::string& bytes)
    {
        writeFile(path(name), bytes);
        // A time clearly different from "now", so copying it is visible.
        const timespec times[2] = {{0, UTIME_OMIT}, {1369900000, 0}};
        ::utimensat(AT_FDCWD, path(name).c_str(), times, 0);
        return path(name);
    }
};

} // namespace

TEST(BZ2TargetName, DropsOnlyTheLastExtensionOfTheFileName)
{
    EXPECT_EQ(BZ2TargetName("/raw/goes15.2013.150.nc.bz2"), "/raw/goes15.2013.150.nc");
    EXPECT_EQ(BZ2TargetName("x.nc.BZ2"), "x.nc");
    EXPECT_EQ(BZ2TargetName("/raw.d/file"), "");
    EXPECT_EQ(BZ2TargetName("/raw/.bz2"), "");
}

TEST(TBZDecompressionStream, ReadsInTheRequestedPiecesThenZero)
{
    const std::string data = sampleData(100000);
    std::istringstream src(compress(data));
    TBZDecompressionStream stream(src);
    std::vector<char> block(32768);
    std::vector<std::size_t> counts;
    std::string out;
    for (int i = 0; i < 5; ++i) {
        counts.push_back(stream.Read(block.data(), block.size()));
        out.append(block.data(), counts.back());
    }
    EXPECT_EQ(counts, (std::vector<std::size_t>{32768, 32768, 32768, 1696, 0}));
    EXPECT_EQ(out, data);
}

TEST(TBZDecompressionStream, ReadsFromWhereTheSourceStoodAndRepositionsASharedSource)
{
    const std::string data = sampleData(5000);
    std::istringstream src("prefix" + compress(data));
    src.seekg(6);
    TBZDecompressionStream stream(src);
    char first[100];
    ASSERT_EQ(stream.Read(first, sizeof first), sizeof first);
    src.seekg(0); // someone else moved the shared source
    std::string out(first, sizeof first);
    out += decompressAll(stream);
    EXPECT_EQ(out, data);
}

TEST(TBZDecompressionStream, SeekSemantics)
{
    const std::string data = sampleData(20000);
    std::istringstream src(compress(data));
    TBZDecompressionStream stream(src);
    char block[1000];
    ASSERT_EQ(stream.Read(block, 1000), 1000u);
    EXPECT_EQ(stream.Seek(0, TSeekOrigin::soCurrent), 1000);
    EXPECT_EQ(messageOf([&] { stream.Seek(-1, TSeekOrigin::soCurrent); }), "Invalid stream operation");
    EXPECT_EQ(messageOf([&] { stream.Seek(1000, TSeekOrigin::soBeginning); }), "Invalid stream operation");
    EXPECT_EQ(messageOf([&] { stream.Seek(999, TSeekOrigin::soBeginning); }), "Invalid stream operation");
    EXPECT_EQ(messageOf([&] { stream.Seek(0, TSeekOrigin::soEnd); }), "Invalid stream operation");
    EXPECT_EQ(stream.Seek(9000, TSeekOrigin::soCurrent), 10000);
    EXPECT_EQ(stream.Seek(15000, TSeekOrigin::soBeginning), 15000);
    ASSERT_EQ(stream.Read(block, 10), 10u);
    EXPECT_EQ(std::string(block, 10), data.substr(15000, 10));
    // Back to the start means decoding again from the first byte.
    EXPECT_EQ(stream.Seek(0, TSeekOrigin::soBeginning), 0);
    EXPECT_EQ(decompressAll(stream), data);
    EXPECT_THROW(stream.Seek(1, TSeekOrigin::soCurrent), EReadError);
}

TEST(TBZDecompressionStream, WriteIsRefused)
{
    std::istringstream src(compress("abc"));
    TBZDecompressionStream stream(src);
    try {
        stream.Write("x", 1);
        FAIL();
    } catch (const EBZDecompressionError& e) {
        EXPECT_STREQ(e.what(), "Invalid stream operation");
    }
}

TEST(TBZDecompressionStream, ConcatenatedStreamsReadAsOne)
{
    const std::string a = sampleData(300000, 1), b = sampleData(1, 2), c = sampleData(250000, 3);
    std::istringstream src(compress(a, 1) + compress(b) + compress("") + compress(c, 5));
    TBZDecompressionStream stream(src);
    EXPECT_EQ(decompressAll(stream), a + b + c);
}

TEST(TBZDecompressionStream, BytesAfterTheLastStreamThatStartNoStreamAreIgnored)
{
    const std::string a = sampleData(1000);
    std::istringstream src(compress(a) + "trailing rubbish");
    TBZDecompressionStream stream(src);
    EXPECT_EQ(decompressAll(stream), a);
}

struct DamageCase {
    const char* name;
    std::function<std::string(std::string)> damage;
    const char* message;
};

class TBZDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(TBZDamage, RaisesTheLibraryStatus)
{
    const std::string good = compress(sampleData(200000));
    std::istringstream src(GetParam().damage(good));
    TBZDecompressionStream stream(src);
    try {
        decompressAll(stream);
        FAIL() << "no error";
    } catch (const EBZCompressionError& e) {
        EXPECT_STREQ(e.what(), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TBZDamage,
    ::testing::Values(
        DamageCase{"NotBzip2", [](std::string) { return std::string(100, 'x'); }, "error -5"},
        DamageCase{"FlippedByte", [](std::string s) { s[s.size() / 2] ^= 0x10; return s; }, "error -4"},
        DamageCase{"BadStreamCrc", [](std::string s) { s[s.size() - 3] ^= 0x01; return s; }, "error -4"},
        DamageCase{"Truncated", [](std::string s) { return s.substr(0, s.size() / 2); }, "error -7"},
        DamageCase{"TruncatedByOneByte", [](std::string s) { s.pop_back(); return s; }, "error -7"},
        DamageCase{"SecondStreamTruncated",
                   [](std::string s) { return s + s.substr(0, 100); }, "error -7"},
        DamageCase{"SecondStreamDamaged",
                   [](std::string s) { std::string t = s; t[200] ^= 0x40; return s + t; }, "error -4"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BZ2FileTest, DecompressesBesideItselfWithTheSourceTime)
{
    const std::string data = sampleData(100000);
    const auto f = writeCompressed("goes15.2013.150.nc.bz2", compress(data));
    ASSERT_TRUE(DecompressBZ2File(f));
    EXPECT_EQ(readFile(path("goes15.2013.150.nc")), data);
    EXPECT_EQ(mtimeOf(path("goes15.2013.150.nc")).tv_sec, 1369900000);
    EXPECT_EQ(listing(), (std::vector<std::string>{"goes15.2013.150.nc", "goes15.2013.150.nc.bz2"}));
}

TEST_F(BZ2FileTest, UpperCaseExtensionAndExistingTargetReplaced)
{
    writeFile(path("x.nc"), "old contents that are longer than the new ones, by far, really");
    const auto f = writeCompressed("x.nc.BZ2", compress(sampleData(50)));
    ASSERT_TRUE(DecompressBZ2File(f));
    EXPECT_EQ(readFile(path("x.nc")), sampleData(50));
}

TEST_F(BZ2FileTest, SizeLimitIsFortyBytes)
{
    // Find contents whose compressed form is exactly 40 bytes; a byte less is refused.
    std::string bz;
    std::string contents;
    for (char c = 0; c < 8 && bz.size() != 40; ++c) {
        contents += c;
        bz = compress(contents);
    }
    ASSERT_EQ(bz.size(), 40u);
    const auto f = writeCompressed("a.nc.bz2", bz);
    EXPECT_TRUE(DecompressBZ2File(f));

    const auto g = writeCompressed("b.nc.bz2", bz.substr(0, 39));
    EXPECT_FALSE(DecompressBZ2File(g));
    EXPECT_FALSE(std::filesystem::exists(path("b.nc")));
}

TEST_F(BZ2FileTest, MissingOrExtensionlessFilesGiveFalse)
{
    EXPECT_FALSE(DecompressBZ2File(path("none.nc.bz2")));
    const auto f = writeCompressed("noext", compress(sampleData(10000)));
    EXPECT_FALSE(DecompressBZ2File(f));
    EXPECT_EQ(readFile(f), compress(sampleData(10000)));
}

TEST_F(BZ2FileTest, EmptyContentGivesFalseAndAnEmptyTarget)
{
    const auto f = writeCompressed("e.nc.bz2", compress("") + compress("") + compress(""));
    EXPECT_FALSE(DecompressBZ2File(f));
    EXPECT_TRUE(std::filesystem::exists(path("e.nc")));
    EXPECT_EQ(std::filesystem::file_size(path("e.nc")), 0u);
}

TEST_F(BZ2FileTest, DamagedOrTruncatedFilesRaiseAndLeaveNoOutput)
{
    const std::string good = compress(sampleData(2000000));
    const auto f = writeCompressed("t.nc.bz2", good.substr(0, good.size() - 10));
    try {
        DecompressBZ2File(f);
        FAIL() << "no error";
    } catch (const EBZCompressionError& e) {
        EXPECT_STREQ(e.what(), "error -7");
    }
    std::string bad = good;
    bad[bad.size() * 3 / 4] ^= 0x55;
    const auto g = writeCompressed("d.nc.bz2", bad);
    EXPECT_THROW(DecompressBZ2File(g), EBZCompressionError);
    EXPECT_EQ(listing(), (std::vector<std::string>{"d.nc.bz2", "t.nc.bz2"}));
}

TEST_F(BZ2FileTest, FailureLeavesAnOlderTargetAlone)
{
    writeFile(path("k.nc"), "earlier result");
    const auto f = writeCompressed("k.nc.bz2", std::string(100, 'x'));
    EXPECT_THROW(DecompressBZ2File(f), EBZCompressionError);
    EXPECT_EQ(readFile(path("k.nc")), "earlier result");
}

// Files the bzip2 program writes, and its treatment of several streams and of rubbish
// after them, are what the station receives; the result must be the same bytes.
class BZ2InteropTest : public BZ2FileTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BZ2InteropTest, MatchesTheBzip2Program)
{
    if (!hasTool("bzip2"))
        GTEST_SKIP() << "bzip2 not installed";
    const std::string data = sampleData(1500000, 7) + std::string(300000, '\0');
    writeFile(path("in.nc"), data);
    const std::string how = GetParam();
    const std::string plain = path("in.nc"), bz = path("in.nc.bz2");
    std::string cmd;
    if (how == "fast")
        cmd = "bzip2 -1 -c " + plain + " > " + bz;
    else if (how == "best")
        cmd = "bzip2 -9 -c " + plain + " > " + bz;
    else if (how == "concatenated")
        cmd = "head -c 700000 " + plain + " | bzip2 -3 > " + bz + " && tail -c +700001 " + plain +
              " | bzip2 -9 >> " + bz;
    else if (how == "rubbish")
        cmd = "bzip2 -c " + plain + " > " + bz + " && printf 'garbage' >> " + bz;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    ASSERT_EQ(std::system(("bzip2 -dc " + bz + " > " + path("ref") + " 2>/dev/null").c_str()), 0);
    std::filesystem::remove(plain);
    ASSERT_TRUE(DecompressBZ2File(bz));
    EXPECT_EQ(readFile(plain), readFile(path("ref")));
    EXPECT_EQ(readFile(plain), data);
}

INSTANTIATE_TEST_SUITE_P(Bzip2Program, BZ2InteropTest,
                         ::testing::Values("fast", "best", "concatenated", "rubbish"));
