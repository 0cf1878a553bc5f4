#include <gtest/gtest.h>
#include <netcdf.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "NcFixture.h"
#include "netcdf/ClassicHeader.h"
#include "netcdf/NetCDFclass.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A classic header written field by field, so that a case states the one fault it carries.
struct THeader {
    int version;
    Bytes bytes;

    explicit THeader(int v) : version(v), bytes{'C', 'D', 'F', static_cast<unsigned char>(v)} {}
    THeader& big(std::uint64_t value, int width)
    {
        for (int i = width - 1; i >= 0; --i)
            bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
        return *this;
    }
    THeader& u32(std::uint64_t value) { return big(value, 4); }
    THeader& count(std::uint64_t value) { return big(value, version == 5 ? 8 : 4); }
    THeader& offset(std::uint64_t value) { return big(value, version == 1 ? 4 : 8); }
    THeader& name(const std::string& s)
    {
        count(s.size());
        bytes.insert(bytes.end(), s.begin(), s.end());
        bytes.resize(bytes.size() + (4 - s.size() % 4) % 4, 0);
        return *this;
    }
    THeader& raw(std::initializer_list<unsigned char> b)
    {
        bytes.insert(bytes.end(), b);
        return *this;
    }
    // A one-value attribute list of one float.
    THeader& floatAttribute(const std::string& attribute)
    {
        return u32(0x0C).count(1).name(attribute).u32(NC_FLOAT).count(1).u32(0x3F000000);
    }
};

constexpr std::uint64_t Dimensions = 0x0A, Variables = 0x0B, Attributes = 0x0C;

// Two dimensions, a global text attribute, and two variables on both dimensions, the second
// with an attribute of its own: everything the walker passes on its way.
THeader Sound(int version, std::uint64_t secondBegin = 200)
{
    THeader h(version);
    h.count(0).u32(Dimensions).count(2).name("yc").count(3).name("xc").count(4);
    h.u32(Attributes).count(1).name("title").u32(NC_CHAR).count(4).raw({'G', '-', '1', '5'});
    h.u32(Variables).count(2);
    h.name("lat").count(2).count(0).count(1).u32(0).count(0).u32(NC_FLOAT).count(48).offset(150);
    h.name("data")
        .count(2)
        .count(0)
        .count(1)
        .floatAttribute("scale_factor")
        .u32(NC_SHORT)
        .count(24)
        .offset(secondBegin);
    return h;
}

// The bytes in a block of exactly their size, so a read one past them is a heap overflow the
// sanitizer build reports.
struct TExact {
    explicit TExact(const Bytes& b) : data(std::make_unique<unsigned char[]>(b.size())), size(b.size())
    {
        std::copy(b.begin(), b.end(), data.get());
    }
    std::span<const unsigned char> span() const { return {data.get(), size}; }
    std::unique_ptr<unsigned char[]> data;
    std::size_t size;
};

struct TWalk {
    bool walked = false;
    std::string problem;
    std::vector<std::uint64_t> dimensions;
    std::vector<TClassicVariable> variables;
};

TWalk Walk(const Bytes& bytes)
{
    const TExact exact(bytes);
    TWalk w;
    w.walked = WalkClassicHeader(
        exact.span(), w.dimensions,
        [&](const TClassicVariable& v) {
            w.variables.push_back(v);
            return true;
        },
        &w.problem);
    return w;
}

struct RefusedHeader {
    const char* what;
    Bytes bytes;
    const char* reason;
    friend void PrintTo(const RefusedHeader& c, std::ostream* os) { *os << c.what; }
};

class RefusedHeaderTest : public ::testing::TestWithParam<RefusedHeader> {};

// Each header the library would believe, or read past the end of, is refused with what was
// wrong, and the check the decoders ask says the same before the library sees the bytes.
TEST_P(RefusedHeaderTest, RefusedWithItsReason)
{
    const TWalk w = Walk(GetParam().bytes);
    EXPECT_FALSE(w.walked);
    EXPECT_EQ(w.problem, GetParam().reason);
    const TExact exact(GetParam().bytes);
    const std::string problem = ClassicHeaderProblem(exact.span());
    if (w.problem == "not a classic netCDF header")
        EXPECT_EQ(problem, ""); // the library judges other formats
    else
        EXPECT_EQ(problem, "netCDF header is damaged: " + w.problem);
}

Bytes Cut(Bytes b, std::size_t size)
{
    b.resize(size);
    return b;
}

// A header up to the type of its one global attribute.
THeader Attribute(std::uint64_t type, int version = 1)
{
    THeader h(version);
    h.count(0).u32(0).count(0).u32(Attributes).count(1).name("a").u32(type);
    return h;
}

// A header up to the name of its one variable.
THeader Variable()
{
    THeader h(1);
    h.count(0).u32(0).count(0).u32(0).count(0).u32(Variables).count(1).name("v");
    return h;
}

constexpr const char* NotClassic = "not a classic netCDF header";
constexpr const char* CutShort = "cut short";
constexpr const char* Unbacked = "a count larger than the bytes that follow";
constexpr const char* WrongList = "a list not of the kind its place holds";

INSTANTIATE_TEST_SUITE_P(
    Faults, RefusedHeaderTest,
    ::testing::Values(
        RefusedHeader{"empty", {}, NotClassic}, RefusedHeader{"magic only", {'C', 'D', 'F'}, NotClassic},
        RefusedHeader{"wrong magic", {'C', 'D', 'G', 1, 0, 0, 0, 0}, NotClassic},
        RefusedHeader{"hdf5", {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'}, NotClassic},
        RefusedHeader{"version 3", THeader(3).count(0).u32(0).count(0).u32(0).count(0).bytes, NotClassic},
        RefusedHeader{"nothing after the magic", {'C', 'D', 'F', 1}, CutShort},
        RefusedHeader{"cut inside a length", Cut(Sound(1).bytes, 26), CutShort},
        RefusedHeader{"cut in the last offset", Cut(Sound(2).bytes, Sound(2).bytes.size() - 3), CutShort},
        RefusedHeader{"a billion dimensions", THeader(1).count(0).u32(Dimensions).count(0x7FFFFFFF).bytes, Unbacked},
        RefusedHeader{"a name of 4 GB", THeader(1).count(0).u32(Dimensions).count(1).count(0xFFFFFFF0).bytes, Unbacked},
        RefusedHeader{"a name padded past the end",
                      THeader(1).count(0).u32(Dimensions).count(1).count(3).raw({'a', 'b', 'c'}).bytes, CutShort},
        RefusedHeader{"an attribute of 2^30 doubles", Attribute(NC_DOUBLE).count(1u << 30).bytes, Unbacked},
        // Fewer values than bytes follow, but not their size in bytes.
        RefusedHeader{"three doubles in eight bytes", Attribute(NC_DOUBLE).count(3).u32(0).u32(0).bytes, Unbacked},
        // Its size times the count wraps to a small number in 64 bits.
        RefusedHeader{"a CDF-5 attribute whose size wraps",
                      Attribute(NC_DOUBLE, 5).count(std::uint64_t{1} << 61).u32(0).bytes, Unbacked},
        RefusedHeader{"an attribute of no type", Attribute(0).count(0).bytes, "an attribute of no netCDF type"},
        RefusedHeader{"an attribute of type 12", Attribute(12).count(0).bytes, "an attribute of no netCDF type"},
        RefusedHeader{"a rank of a billion", Variable().count(0x40000000).bytes, Unbacked},
        RefusedHeader{"a CDF-5 count above 32 bits",
                      THeader(5).count(0).u32(Dimensions).count(std::uint64_t{1} << 32).bytes, Unbacked},
        RefusedHeader{"attributes where the dimensions belong",
                      THeader(1).count(0).u32(Attributes).count(1).name("a").u32(NC_CHAR).count(0).bytes, WrongList},
        RefusedHeader{"an absent list with items", THeader(1).count(0).u32(0).count(1).name("yc").count(3).bytes,
                      WrongList}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

class SoundHeaderTest : public ::testing::TestWithParam<int> {};

// Counts are 64-bit in CDF-5 and offsets from CDF-2 on: read at the wrong width, every field
// after them is off.
TEST_P(SoundHeaderTest, WalksEveryVersion)
{
    const std::uint64_t far = GetParam() == 1 ? 0xFFFFFFF0u : std::uint64_t{5} << 32;
    const TWalk w = Walk(Sound(GetParam(), far).bytes);
    ASSERT_TRUE(w.walked) << w.problem;
    EXPECT_EQ(w.dimensions, (std::vector<std::uint64_t>{3, 4}));
    ASSERT_EQ(w.variables.size(), 2u);
    EXPECT_EQ(w.variables[0].Name, "lat");
    EXPECT_EQ(w.variables[0].Begin, 150u);
    EXPECT_EQ(w.variables[1].Name, "data");
    EXPECT_EQ(w.variables[1].DimensionIds, (std::vector<std::uint64_t>{0, 1}));
    EXPECT_EQ(w.variables[1].Type, std::uint64_t{NC_SHORT});
    EXPECT_EQ(w.variables[1].Begin, far);
}

// No prefix of a sound header passes, and none is read past its end (in the sanitizer build);
// nor does a header with any one byte damaged, which is walked or refused with a reason.
TEST_P(SoundHeaderTest, CutOrDamagedStaysInsideTheBytes)
{
    const Bytes sound = Sound(GetParam()).bytes;
    for (std::size_t size = 0; size < sound.size(); ++size) {
        const TWalk w = Walk(Cut(sound, size));
        EXPECT_FALSE(w.walked) << size;
        EXPECT_FALSE(w.problem.empty()) << size;
    }
    for (std::size_t at = 4; at < sound.size(); ++at) {
        for (const unsigned char value : {0x00, 0x01, 0x7F, 0xFF}) {
            Bytes damaged = sound;
            damaged[at] = value;
            const TWalk w = Walk(damaged);
            EXPECT_EQ(w.walked, w.problem.empty()) << at;
            EXPECT_LE(w.dimensions.size() + w.variables.size(), damaged.size() / 8) << at;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, SoundHeaderTest, ::testing::Values(1, 2, 5),
                         [](const auto& info) { return "CDF" + std::to_string(info.param); });

// A variable placed past the end of a file cut short is walked (the header cannot know the
// file's length); the extent the readers check against the length says where it ends.
TEST(ClassicHeader, VariablePastTheEndIsReportedWhereItLies)
{
    const Bytes bytes = Sound(2, std::uint64_t{5} << 32).bytes;
    const TExact exact(bytes);
    const auto extent = ClassicPlainVariable(exact.span(), "data");
    ASSERT_TRUE(extent);
    EXPECT_EQ(extent->Begin, std::uint64_t{5} << 32);
    EXPECT_EQ(extent->End, (std::uint64_t{5} << 32) + 24);
    EXPECT_GT(extent->End, bytes.size());
}

class LibraryHeaderTest : public ::testing::TestWithParam<int> {};

// Headers as the library writes them, in each classic format: the walker finds each variable
// where the library put its values.
TEST_P(LibraryHeaderTest, FindsTheValuesTheLibraryWrote)
{
    const auto path =
        std::filesystem::temp_directory_path() / ("orvanta-classic-" + std::to_string(::getpid()) + ".nc");
    int id = 0, rows = 0, cols = 0, time = 0, grid = 0, series = 0;
    NC_CHECK(nc_create(path.c_str(), NC_CLOBBER | GetParam(), &id));
    NC_CHECK(nc_def_dim(id, "time", NC_UNLIMITED, &time));
    NC_CHECK(nc_def_dim(id, "yc", 2, &rows));
    NC_CHECK(nc_def_dim(id, "xc", 3, &cols));
    NC_CHECK(nc_put_att_text(id, NC_GLOBAL, "title", 3, "G15"));
    const int gridDims[] = {rows, cols};
    NC_CHECK(nc_def_var(id, "grid", NC_SHORT, 2, gridDims, &grid));
    const double scale = 0.25;
    NC_CHECK(nc_put_att_double(id, grid, "scale_factor", NC_DOUBLE, 1, &scale));
    NC_CHECK(nc_def_var(id, "series", NC_INT, 1, &time, &series));
    NC_CHECK(nc_enddef(id));
    const short gridValues[] = {11, 12, 13, 21, 22, 23};
    NC_CHECK(nc_put_var_short(id, grid, gridValues));
    const std::size_t first = 0, one = 1;
    const int seriesValue = 0x01020304;
    NC_CHECK(nc_put_vara_int(id, series, &first, &one, &seriesValue));
    NC_CHECK(nc_close(id));
    std::ifstream in(path, std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::filesystem::remove(path);

    const TWalk w = Walk(file);
    ASSERT_TRUE(w.walked) << w.problem;
    EXPECT_EQ(w.dimensions, (std::vector<std::uint64_t>{0, 2, 3}));
    ASSERT_EQ(w.variables.size(), 2u);
    const TClassicVariable& g = w.variables[0];
    EXPECT_EQ(g.Name, "grid");
    ASSERT_LE(g.Begin + 12, file.size());
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(file[g.Begin + 2 * i] << 8 | file[g.Begin + 2 * i + 1], gridValues[i]) << i;
    const TClassicVariable& s = w.variables[1];
    EXPECT_EQ(s.Name, "series");
    ASSERT_LE(s.Begin + 4, file.size());
    EXPECT_EQ(Bytes(file.begin() + static_cast<std::ptrdiff_t>(s.Begin),
                    file.begin() + static_cast<std::ptrdiff_t>(s.Begin) + 4),
              (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(ClassicHeaderProblem(file), "");
}

INSTANTIATE_TEST_SUITE_P(
    Formats, LibraryHeaderTest, ::testing::Values(0, NC_64BIT_OFFSET, NC_64BIT_DATA), [](const auto& info) {
        return std::string(info.param == 0 ? "CDF1" : info.param == NC_64BIT_OFFSET ? "CDF2" : "CDF5");
    });

} // namespace
