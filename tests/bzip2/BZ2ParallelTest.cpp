#include <bzlib.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

#include "imaging/TempDir.h"
#include "bzip2/BZ2Block.h"
#include "bzip2/BZ2Parallel.h"
#include "bzip2/BZ2files.h"
#include "bzip2/BZip2.h"

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

namespace {

unsigned bitAt(const std::string& s, std::size_t bit)
{
    return (static_cast<unsigned char>(s[bit / 8]) >> (7 - bit % 8)) & 1;
}

void putBits(std::string& s, std::size_t bit, std::uint64_t value, unsigned n)
{
    for (unsigned i = 0; i < n; ++i, ++bit) {
        const auto mask = static_cast<char>(0x80 >> (bit % 8));
        s[bit / 8] = static_cast<char>(((value >> (n - 1 - i)) & 1) ? s[bit / 8] | mask : s[bit / 8] & ~mask);
    }
}

// The bit where the end magic of the last stream starts.
std::size_t endMagicBit(const std::string& s)
{
    for (std::size_t bit = s.size() * 8 - 80;; --bit) {
        std::uint64_t v = 0;
        for (unsigned i = 0; i < 48; ++i)
            v = (v << 1) | bitAt(s, bit + i);
        if (v == 0x177245385090ULL)
            return bit;
    }
}

// A one-block stream whose block and stream CRC both say `crc`.
std::string withCrc(std::string packed, std::uint32_t crc)
{
    putBits(packed, 32 + 48, crc, 32);
    putBits(packed, endMagicBit(packed) + 48, crc, 32);
    return packed;
}

// A randomised block, as encoders of the 1990s wrote them: an ordinary block with the flag
// set decodes (as the library sees it) to other bytes, whose CRC then makes it whole.
std::string randomisedBlock()
{
    std::string packed = pack(scanLike(300000, 31), 9);
    putBits(packed, 32 + 48 + 32, 1, 1);
    bz_stream s{};
    EXPECT_EQ(BZ2_bzDecompressInit(&s, 0, 0), BZ_OK);
    std::string plain(4000000, '\0');
    s.next_in = packed.data();
    s.avail_in = static_cast<unsigned>(packed.size());
    s.next_out = plain.data();
    s.avail_out = static_cast<unsigned>(plain.size());
    EXPECT_EQ(BZ2_bzDecompress(&s), BZ_DATA_ERROR);  // the old CRC
    plain.resize(plain.size() - s.avail_out);
    BZ2_bzDecompressEnd(&s);
    return withCrc(packed, ~BZ2UpdateCRC(0xFFFFFFFFu, reinterpret_cast<const std::uint8_t*>(plain.data()),
                                         plain.size()));
}

struct Edge {
    const char* name;
    std::function<std::string()> packed;
    bool vouched;  // the parallel path decodes it itself; otherwise the library does
};

class BZ2EdgeTest : public ::testing::TestWithParam<Edge> {};

// Bytes, or the error, of the in-memory decoding.
std::string outcome(const std::string& packed, unsigned workers)
{
    try {
        const auto plain = DecompressBZ2Bytes(bytesOf(packed), workers);
        return plain ? "bytes " + std::string(plain->begin(), plain->end()) : "none";
    } catch (const EBZCompressionError& e) {
        return std::string("error ") + e.what();
    }
}

// The library alone, one stream after the other.
std::string libraryOutcome(const std::string& packed)
{
    std::istringstream in(packed);
    std::string plain;
    try {
        TBZDecompressionStream stream(in);
        char block[65536];
        while (const std::size_t n = stream.Read(block, sizeof block))
            plain.append(block, n);
        return "bytes " + plain;
    } catch (const EBZCompressionError& e) {
        return std::string("error ") + e.what();
    }
}

} // namespace

// Our decoder against the library: what it vouches for is the library's bytes exactly; what
// it leaves alone ends, through the library, exactly as the sequential decoding does.
TEST_P(BZ2EdgeTest, SameOutcomeAsTheLibrary)
{
    const std::string packed = GetParam().packed();
    const std::string library = libraryOutcome(packed);
    bool ok = false;
    const std::string out = decodeParallel(packed, 2, &ok);
    EXPECT_EQ(ok, GetParam().vouched);
    if (ok) {
        EXPECT_TRUE("bytes " + out == library) << library.substr(0, 40);
    }
    EXPECT_TRUE(outcome(packed, 2) == outcome(packed, 1));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BZ2EdgeTest,
    ::testing::Values(
        Edge{"EmptyStream", [] { return pack("", 9); }, true},
        Edge{"OneByte", [] { return pack("x", 9); }, true},
        Edge{"RunOf900kOneByte", [] { return pack(std::string(900000, 'a'), 9); }, true},
        Edge{"FullestBlock", [] { return pack(randomBytes(1000000, 21), 9); }, true},
        Edge{"LongestBlockOutput", [] { return pack(std::string(47000000, 'z'), 9); }, true},
        Edge{"EveryByteValue", [] { return pack(randomBytes(5000, 22) + std::string(300, '\xFF'), 1); }, true},
        Edge{"ConcatenatedStreams", [] { return pack(scanLike(150000, 23), 1) + pack("y", 2); }, true},
        Edge{"RandomisedBlock", randomisedBlock, false},
        Edge{"DamagedBlockCrc",
             [] {
                 const std::string packed = pack(scanLike(200000, 24), 9);
                 std::uint64_t crc = 0;
                 for (unsigned i = 0; i < 32; ++i)
                     crc = (crc << 1) | bitAt(packed, 80 + i);
                 return withCrc(packed, static_cast<std::uint32_t>(crc ^ 0x00010000u));
             },
             false},
        Edge{"DamagedData",
             [] {
                 std::string packed = pack(scanLike(200000, 25), 9);
                 packed[packed.size() / 3] ^= 0x40;
                 return packed;
             },
             false},
        Edge{"TrailingGarbage", [] { return pack(scanLike(100000, 26), 9) + "garbage"; }, false},
        Edge{"Truncated",
             [] {
                 const std::string packed = pack(scanLike(100000, 27), 9);
                 return packed.substr(0, packed.size() - 12);
             },
             false}),
    [](const auto& info) { return std::string(info.param.name); });
