#include <bzlib.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "TempDir.h"
#include "imaging/BZ2Parallel.h"
#include "imaging/BZ2files.h"
#include "imaging/BZip2.h"

namespace {

std::string pack(const std::string& data, int level)
{
    std::string out(data.size() + data.size() / 50 + 700, '\0');
    auto size = static_cast<unsigned>(out.size());
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(data.data()),
                                       static_cast<unsigned>(data.size()), level, 0, 0),
              BZ_OK);
    out.resize(size);
    return out;
}

std::string scanLike(std::size_t size, unsigned seed)
{
    std::string s(size, '\0');
    std::mt19937 rng(seed);
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i % 5000) < 1200 ? 0 : (i / 311) % 180 + rng() % 6);
    return s;
}

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::string s(size, '\0');
    std::mt19937 rng(seed);
    for (auto& c : s)
        c = static_cast<char>(rng());
    return s;
}

// Plain text that holds both magics, byte-aligned and shifted, many times over.
std::string withMagics(std::size_t size)
{
    const std::string magics[] = {std::string("\x31\x41\x59\x26\x53\x59", 6), std::string("\x17\x72\x45\x38\x50\x90", 6),
                                  std::string("\x18\xA0\xAC\x93\x29\xAC\x80", 7), std::string("BZh9")};
    std::string s;
    std::mt19937 rng(11);
    while (s.size() < size) {
        s += magics[rng() % 4];
        s += static_cast<char>(rng());
    }
    return s;
}

// A run-heavy block: decodes to many times the block size.
std::string runs(std::size_t size)
{
    return std::string(size / 2, '\0') + std::string(size / 2, '\xFF');
}

std::span<const std::uint8_t> bytesOf(const std::string& s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string decodeParallel(const std::string& packed, unsigned workers, bool* ok)
{
    std::string out;
    *ok = DecompressBZ2Parallel({reinterpret_cast<const std::uint8_t*>(packed.data()), packed.size()}, workers,
                                [&](const char* p, std::size_t n) { out.append(p, n); });
    return out;
}

struct Content {
    const char* name;
    std::function<std::string()> plain;
    std::function<std::string(const std::string&)> packed;
};

class BZ2ParallelTest : public TempDirTest,
                        public ::testing::WithParamInterface<std::tuple<Content, unsigned>> {};

} // namespace

TEST_P(BZ2ParallelTest, SameBytesAsSequential)
{
    const auto& [content, workers] = GetParam();
    const std::string plain = content.plain();
    const std::string packed = content.packed(plain);
    bool ok = false;
    const std::string out = decodeParallel(packed, workers, &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(out == plain) << out.size() << " vs " << plain.size();

    writeFile(path("f.nc.bz2"), packed);
    ASSERT_EQ(DecompressBZ2File(path("f.nc.bz2"), workers), !plain.empty());
    EXPECT_TRUE(readFile(path("f.nc")) == plain);

    const auto inMemory = DecompressBZ2Bytes(bytesOf(packed), workers);
    ASSERT_TRUE(inMemory);
    EXPECT_TRUE(std::string(inMemory->begin(), inMemory->end()) == plain);

    // Not kept, only an empty content leaves its (empty) file, as above.
    std::filesystem::remove(path("f.nc"));
    const auto notKept = DecompressBZ2FileToMemory(path("f.nc.bz2"), false);
    ASSERT_TRUE(notKept);
    EXPECT_TRUE(std::string(notKept->begin(), notKept->end()) == plain);
    EXPECT_EQ(std::filesystem::exists(path("f.nc")), plain.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Contents, BZ2ParallelTest,
    ::testing::Combine(
        ::testing::Values(
            Content{"ScanManyBlocks", [] { return scanLike(3000000, 1); },
                    [](const std::string& p) { return pack(p, 1); }},
            Content{"RandomData", [] { return randomBytes(700000, 2); },
                    [](const std::string& p) { return pack(p, 2); }},
            Content{"MagicsInTheData", [] { return withMagics(900000); },
                    [](const std::string& p) { return pack(p, 1); }},
            Content{"LongRuns", [] { return runs(20000000); }, [](const std::string& p) { return pack(p, 1); }},
            Content{"OneBlock", [] { return scanLike(50000, 3); }, [](const std::string& p) { return pack(p, 9); }},
            Content{"SeveralStreams", [] { return scanLike(1000000, 4) + randomBytes(300000, 5); },
                    [](const std::string& p) {
                        return pack(p.substr(0, 250000), 1) + pack(p.substr(250000, 1), 9) + pack("", 5) +
                               pack(p.substr(250001), 3);
                    }},
            Content{"EmptyContent", [] { return std::string(); },
                    [](const std::string&) { return pack("", 9) + pack("", 1) + pack("", 2); }}),
        ::testing::Values(1u, 2u, 4u)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::to_string(std::get<1>(info.param));
    });

TEST(BZ2Parallel, RefusesWhatItCannotVouchFor)
{
    const std::string plain = scanLike(600000, 9);
    const std::string good = pack(plain, 1);
    bool ok = true;
    decodeParallel(good + "rubbish", 2, &ok);
    EXPECT_FALSE(ok);
    decodeParallel(good.substr(0, good.size() - 1), 2, &ok);
    EXPECT_FALSE(ok);
    std::string damaged = good;
    damaged[damaged.size() / 2] ^= 0x08;
    decodeParallel(damaged, 2, &ok);
    EXPECT_FALSE(ok);
    std::string badCombined = good;
    badCombined[badCombined.size() - 2] ^= 0x01;
    decodeParallel(badCombined, 2, &ok);
    EXPECT_FALSE(ok);
    decodeParallel("", 2, &ok);
    EXPECT_FALSE(ok);
}

TEST(BZ2Parallel, ASinkFailureStopsTheWorkersAndPasses)
{
    const std::string packed = pack(scanLike(2000000, 6), 1);
    int calls = 0;
    EXPECT_THROW(DecompressBZ2Parallel({reinterpret_cast<const std::uint8_t*>(packed.data()), packed.size()}, 3,
                                       [&](const char*, std::size_t) {
                                           if (++calls == 2)
                                               throw std::runtime_error("disk full");
                                       }),
                 std::runtime_error);
    EXPECT_EQ(calls, 2);
}

class BZ2ParallelFileTest : public TempDirTest {};

// Damaged files take the sequential path and fail exactly as it does, leaving nothing.
TEST_F(BZ2ParallelFileTest, DamagedFilesFailAsBefore)
{
    const std::string good = pack(scanLike(1500000, 8), 1);
    std::string damaged = good;
    damaged[good.size() * 2 / 3] ^= 0x20;
    writeFile(path("d.nc.bz2"), damaged);
    writeFile(path("t.nc.bz2"), good.substr(0, good.size() - 5));
    for (const char* f : {"d.nc.bz2", "t.nc.bz2"}) {
        std::string sequential, parallel;
        try {
            DecompressBZ2File(path(f), 1);
        } catch (const EBZCompressionError& e) {
            sequential = e.what();
        }
        try {
            DecompressBZ2File(path(f), 4);
        } catch (const EBZCompressionError& e) {
            parallel = e.what();
        }
        std::string inMemory, kept;
        try {
            DecompressBZ2Bytes(bytesOf(readFile(path(f))), 2);
        } catch (const EBZCompressionError& e) {
            inMemory = e.what();
        }
        try {
            DecompressBZ2FileToMemory(path(f), true);
        } catch (const EBZCompressionError& e) {
            kept = e.what();
        }
        EXPECT_FALSE(sequential.empty());
        EXPECT_EQ(parallel, sequential) << f;
        EXPECT_EQ(inMemory, sequential) << f;
        EXPECT_EQ(kept, sequential) << f;
    }
    EXPECT_EQ(listing(), (std::vector<std::string>{"d.nc.bz2", "t.nc.bz2"}));
}

TEST_F(BZ2ParallelFileTest, MatchesTheBzip2ProgramOnItsOwnFiles)
{
    if (!hasTool("bzip2"))
        GTEST_SKIP() << "bzip2 not installed";
    writeFile(path("p.nc"), scanLike(2500000, 12) + randomBytes(400000, 13) + withMagics(300000));
    ASSERT_EQ(std::system(("bzip2 -2 -k " + path("p.nc") + " && bzip2 -dc " + path("p.nc.bz2") + " > " +
                           path("ref") + " && rm " + path("p.nc"))
                              .c_str()),
              0);
    ASSERT_TRUE(DecompressBZ2File(path("p.nc.bz2"), 2));
    EXPECT_TRUE(readFile(path("p.nc")) == readFile(path("ref")));
}
