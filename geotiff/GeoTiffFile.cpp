#include "geotiff/GeoTiffFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "geotiff/GdalLibrary.h"
#include "base/PartialFile.h"
#include "imaging/BMPExtImage.h"

namespace {

// Only after Gdal() has said the library is there.
const TGdal& Api()
{
    std::string loaded;
    return *Gdal(loaded);
}

// GDAL reports through a handler of the calling thread; while one of our calls runs, its
// messages are kept for the reason instead of going to standard error.
class TGdalErrors {
public:
    TGdalErrors()
    {
        Api().CPLPushErrorHandler(Api().CPLQuietErrorHandler);
        Api().CPLErrorReset();
    }
    ~TGdalErrors() { Api().CPLPopErrorHandler(); }
    TGdalErrors(const TGdalErrors&) = delete;
    TGdalErrors& operator=(const TGdalErrors&) = delete;

    // GDAL's last message, or the fallback when GDAL gave none.
    static std::string Message(const std::string& fallback)
    {
        const char* text = Api().CPLGetLastErrorMsg();
        return text != nullptr && *text != '\0' ? std::string(text) : fallback;
    }
};

struct TDatasetCloser {
    void operator()(void* dataset) const
    {
        if (dataset != nullptr)
            Api().GDALClose(dataset);
    }
};
using TDataset = std::unique_ptr<void, TDatasetCloser>;

struct TStringList {
    char** List = nullptr;
    ~TStringList() { Api().CSLDestroy(List); }
    void Set(const char* name, const std::string& value) { List = Api().CSLSetNameValue(List, name, value.c_str()); }
};

// The picture as an in-memory dataset that reads the bitmap's own rows, with its projection,
// transform, metadata and mask.
std::string DescribeInMemory(const TGeoTiffContent& content, TDataset& dataset)
{
    const TExtBitmap& image = *content.Image;
    const int width = image.Width(), height = image.Height();
    GDALDriverH memory = Api().GDALGetDriverByName("MEM");
    if (memory == nullptr)
        return "GDAL has no MEM driver";
    dataset.reset(Api().GDALCreate(memory, "", width, height, 0, GDT_Byte, nullptr));
    if (!dataset)
        return TGdalErrors::Message("cannot make the in-memory picture");
    const std::ptrdiff_t stride = height > 1 ? image.ScanLine(1) - image.ScanLine(0) : width;
    char pointer[64];
    std::snprintf(pointer, sizeof pointer, "DATAPOINTER=%p", static_cast<const void*>(image.ScanLine(0)));
    char lineOffset[64];
    std::snprintf(lineOffset, sizeof lineOffset, "LINEOFFSET=%td", stride);
    const char* bandOptions[] = {pointer, "PIXELOFFSET=1", lineOffset, nullptr};
    if (Api().GDALAddBand(dataset.get(), GDT_Byte, const_cast<char**>(bandOptions)) != CE_None)
        return TGdalErrors::Message("cannot make the in-memory band");
    GDALRasterBandH band = Api().GDALGetRasterBand(dataset.get(), 1);
    Api().GDALSetRasterColorInterpretation(band, GCI_GrayIndex);

    OGRSpatialReferenceH srs = Api().OSRNewSpatialReference(nullptr);
    const OGRErr imported = Api().OSRImportFromProj4(srs, content.View.ProjString().c_str());
    const bool placed = imported == OGRERR_NONE && Api().GDALSetSpatialRef(dataset.get(), srs) == CE_None &&
                        Api().GDALSetGeoTransform(dataset.get(), const_cast<double*>(content.View.GeoTransform.data())) ==
                            CE_None;
    Api().OSRDestroySpatialReference(srs);
    if (!placed)
        return TGdalErrors::Message("the projection is not understood");

    for (const auto& [name, value] : content.Metadata)
        Api().GDALSetMetadataItem(dataset.get(), name.c_str(), value.c_str(), nullptr);

    if (const std::vector<TDiscRun>* valid = content.Valid) {
        if (valid->size() != static_cast<std::size_t>(height))
            return "the mask does not fit the picture";
        if (Api().GDALCreateDatasetMaskBand(dataset.get(), GMF_PER_DATASET) != CE_None)
            return TGdalErrors::Message("cannot make the mask");
        GDALRasterBandH mask = Api().GDALGetMaskBand(band);
        std::vector<std::uint8_t> line(static_cast<std::size_t>(width));
        for (int y = 0; y < height; ++y) {
            const TDiscRun run = (*valid)[static_cast<std::size_t>(y)];
            const int first = std::clamp(run.First, 0, width), end = std::clamp(run.End, first, width);
            std::fill(line.begin(), line.end(), std::uint8_t{0});
            std::fill(line.begin() + first, line.begin() + end, std::uint8_t{255});
            if (Api().GDALRasterIO(mask, GF_Write, 0, y, width, 1, line.data(), width, 1, GDT_Byte, 0, 0) != CE_None)
                return TGdalErrors::Message("cannot fill the mask");
        }
    }
    return {};
}

constexpr int BlockSize = 512;

// The overviews a Cloud Optimized GeoTIFF carries (halving until one tile holds the picture),
// made beside the picture in memory: left to the COG driver they would go through a temporary
// file and take twice the memory. The grey values are data, so overviews average them (the
// pixels without data left out), never invent in-between edges.
std::string AddOverviews(const TDataset& dataset)
{
    std::vector<int> factors;
    for (int f = 2; Api().GDALGetRasterXSize(dataset.get()) / (f / 2) > BlockSize ||
                    Api().GDALGetRasterYSize(dataset.get()) / (f / 2) > BlockSize;
         f *= 2)
        factors.push_back(f);
    if (factors.empty())
        return {};
    if (Api().GDALBuildOverviews(dataset.get(), "AVERAGE", static_cast<int>(factors.size()), factors.data(), 0, nullptr,
                           nullptr, nullptr) != CE_None)
        return TGdalErrors::Message("cannot make the overviews");
    return {};
}

} // namespace

std::string WriteGeoTiff(const std::string& path, const TGeoTiffContent& content)
{
    if (content.Image == nullptr || content.Image->PixelFormat() != TPixelFormat::pf8bit ||
        content.Image->Width() <= 0 || content.Image->Height() <= 0)
        return "not an 8-bit picture";
    if (std::string why; Gdal(why) == nullptr)
        return why;
    TGdalErrors errors;
    TDataset source;
    if (std::string why = DescribeInMemory(content, source); !why.empty())
        return why;
    if (std::string why = AddOverviews(source); !why.empty())
        return why;
    GDALDriverH cog = Api().GDALGetDriverByName("COG");
    if (cog == nullptr)
        return "GDAL has no COG driver";

    // Made in memory and written like every other file of the program, complete or not at all:
    // a file GDAL wrote beside the target itself would stay behind after a kill.
    static std::atomic<unsigned> serial{0};
    const std::string temporary = "/vsimem/orvanta-" + std::to_string(serial.fetch_add(1)) + ".tif";
    TStringList options;
    options.Set("COMPRESS", "DEFLATE");
    options.Set("BLOCKSIZE", std::to_string(BlockSize));
    options.Set("OVERVIEWS", "FORCE_USE_EXISTING");
    // DEFLATE at its fastest: on a full disk about a tenth larger than at the default level,
    // and about 0.1 s quicker, which a station pays for every image.
    options.Set("LEVEL", "1");
    TDataset written(Api().GDALCreateCopy(cog, temporary.c_str(), source.get(), FALSE, options.List, nullptr, nullptr));
    std::string failure;
    if (!written)
        failure = TGdalErrors::Message("GDAL gave no reason");
    else {
        // Closing writes what is still buffered; an error then is an error of the file.
        Api().CPLErrorReset();
        written.reset();
        if (Api().CPLGetLastErrorType() == CE_Failure || Api().CPLGetLastErrorType() == CE_Fatal)
            failure = TGdalErrors::Message("cannot close the file");
    }
    vsi_l_offset length = 0;
    GByte* bytes = Api().VSIGetMemFileBuffer(temporary.c_str(), &length, TRUE);
    const std::unique_ptr<GByte, void (*)(GByte*)> owned(bytes, [](GByte* b) { Api().VSIFree(b); });
    if (bytes == nullptr)
        Api().VSIUnlink(temporary.c_str());
    if (failure.empty() && bytes == nullptr)
        failure = "GDAL wrote nothing";
    if (failure.empty() &&
        !WriteFileAtomically(path, std::string_view(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length))))
        failure = std::string("cannot write the file: ") + std::strerror(errno);
    return failure;
}

bool ReadGeoTiffGrey(const std::string& path, TExtBitmap& image, std::string& why)
{
    if (Gdal(why) == nullptr)
        return false;
    TGdalErrors errors;
    const char* const drivers[] = {"GTiff", nullptr};
    TDataset file(Api().GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers, nullptr, nullptr));
    if (!file) {
        why = TGdalErrors::Message("cannot be read");
        return false;
    }
    const int width = Api().GDALGetRasterXSize(file.get()), height = Api().GDALGetRasterYSize(file.get());
    if (Api().GDALGetRasterCount(file.get()) != 1 || Api().GDALGetRasterDataType(Api().GDALGetRasterBand(file.get(), 1)) != GDT_Byte ||
        image.PixelFormat() != TPixelFormat::pf8bit) {
        why = "not a one-band 8-bit image";
        return false;
    }
    if (width != image.Width() || height != image.Height()) {
        why = std::to_string(width) + " x " + std::to_string(height) + ", not " + std::to_string(image.Width()) +
              " x " + std::to_string(image.Height());
        return false;
    }
    // Read beside the picture, so that a file that fails halfway leaves it as it was.
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(width) * height);
    if (Api().GDALRasterIO(Api().GDALGetRasterBand(file.get(), 1), GF_Read, 0, 0, width, height, grey.data(), width, height,
                     GDT_Byte, 0, 0) != CE_None) {
        why = TGdalErrors::Message("cannot be read");
        return false;
    }
    for (int y = 0; y < height; ++y)
        std::memcpy(image.ScanLine(y), grey.data() + static_cast<std::size_t>(y) * width, static_cast<std::size_t>(width));
    image.Changed();
    return true;
}
