#include "imaging/JPEG_IO.h"

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "base/PartialFile.h"

// libjpeg reports errors by calling error_exit, which must not return. We leave by
// longjmp, and only ever to a setjmp in one of the small "guarded" functions below: they
// own nothing and hold no objects with destructors, so the jump skips no C++ cleanup.
// Everything that owns memory lives in their callers, which destroy it normally.

namespace {

const char* const writeFailure = "Error writing JPEG to file";

// A hostile progressive file can hold thousands of tiny scans that each cost a full pass.
constexpr int MaxScans = 500;
// Larger than any image the station makes (9 Mpixel composites) by far, yet small enough
// that a forged header cannot make us allocate gigabytes.
constexpr long long MaxPixels = 64LL * 1024 * 1024;
// The library's own working memory (whole-image buffers of progressive files); beyond it
// the library fails cleanly instead of growing.
constexpr long MaxLibraryMemory = 1024L * 1024 * 1024;

struct TJpegErrorMgr {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void errorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<TJpegErrorMgr*>(cinfo->err)->jump, 1);
}

// Warnings mean corrupt or cut-off data: such a file counts as unreadable.
void emitMessage(j_common_ptr cinfo, int level)
{
    if (level < 0)
        errorExit(cinfo);
}

void outputMessage(j_common_ptr) {}

void progressMonitor(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > MaxScans)
        errorExit(cinfo);
}

void installErrorHandlers(TJpegErrorMgr& err)
{
    jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.emit_message = emitMessage;
    err.pub.output_message = outputMessage;
}

// The library's object of one decompression or compression, with our error handlers; it is
// destroyed only once the library has created it.
template <class Info>
struct TCodec {
    Info cinfo{};
    TJpegErrorMgr err{};
    bool created = false;

    TCodec() { installErrorHandlers(err); cinfo.err = &err.pub; }
    TCodec(const TCodec&) = delete;
    TCodec& operator=(const TCodec&) = delete;
    ~TCodec()
    {
        if (created)
            jpeg_destroy(reinterpret_cast<j_common_ptr>(&cinfo));
    }
};

struct TDecompressor : TCodec<jpeg_decompress_struct> {
    jpeg_progress_mgr progress{};
};

// The compressed bytes are allocated by the library's memory destination and freed here.
struct TCompressor : TCodec<jpeg_compress_struct> {
    unsigned char* output = nullptr;
    unsigned long outputSize = 0;
    ~TCompressor() { std::free(output); }
};

// --- guarded steps: no locals with destructors below this line ---

bool guardedCreate(TDecompressor* d)
{
    if (setjmp(d->err.jump))
        return false;
    jpeg_create_decompress(&d->cinfo);
    d->created = true;
    return true;
}

bool guardedReadHeader(TDecompressor* d, const unsigned char* data, unsigned long size)
{
    if (setjmp(d->err.jump))
        return false;
    d->progress.progress_monitor = progressMonitor;
    d->cinfo.progress = &d->progress;
    d->cinfo.mem->max_memory_to_use = MaxLibraryMemory;
    jpeg_mem_src(&d->cinfo, data, size);
    jpeg_read_header(&d->cinfo, TRUE);
    return true;
}

bool guardedDecode(TDecompressor* d, J_COLOR_SPACE space, unsigned denom, unsigned char* const* rows,
                   unsigned width, unsigned height, int components)
{
    if (setjmp(d->err.jump))
        return false;
    jpeg_decompress_struct& c = d->cinfo;
    c.out_color_space = space;
    c.scale_num = 1;
    c.scale_denom = denom;
    jpeg_start_decompress(&c);
    if (c.output_width != width || c.output_height != height || c.output_components != components)
        return false;
    while (c.output_scanline < c.output_height) {
        JSAMPROW row = rows[c.output_scanline];
        jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    return true;
}

bool guardedCreate(TCompressor* k)
{
    if (setjmp(k->err.jump))
        return false;
    jpeg_create_compress(&k->cinfo);
    k->created = true;
    return true;
}

// Rows come from `rows`; when `expand` is given, each 8-bit grey row is first widened into
// it as (grey, 128, 128) YCbCr triples, which are exactly what grey RGB pixels convert to.
bool guardedCompress(TCompressor* k, unsigned char* const* rows, unsigned width, unsigned height,
                     J_COLOR_SPACE input, int inputComponents, bool greyFile, unsigned char* expand,
                     int quality, const unsigned char* comment, unsigned commentLength)
{
    if (setjmp(k->err.jump))
        return false;
    jpeg_compress_struct& c = k->cinfo;
    jpeg_mem_dest(&c, &k->output, &k->outputSize);
    c.image_width = width;
    c.image_height = height;
    c.in_color_space = input;
    c.input_components = inputComponents;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, greyFile ? JCS_GRAYSCALE : JCS_YCbCr);
    jpeg_set_quality(&c, quality, TRUE);
    // A grey picture written as YCbCr whose size is whole 16 x 16 units: its chroma is 128
    // everywhere, so the planes the library would convert and downsample are handed to it
    // as they come out, and the grey rows as they are (the same file, without a pass over
    // three times the pixels).
    const bool raw = expand != nullptr && width % 16 == 0 && height % 16 == 0;
    c.raw_data_in = raw ? TRUE : FALSE;
    jpeg_start_compress(&c, TRUE);
    if (commentLength > 0)
        jpeg_write_marker(&c, JPEG_COM, comment, commentLength);
    if (raw) {
        std::memset(expand, 128, width / 2);
        JSAMPROW luma[16], chroma[8];
        std::fill(std::begin(chroma), std::end(chroma), expand);
        JSAMPARRAY planes[3] = {luma, chroma, chroma};
        while (c.next_scanline < c.image_height) {
            for (unsigned y = 0; y < 16; ++y)
                luma[y] = rows[c.next_scanline + y];
            jpeg_write_raw_data(&c, planes, 16);
        }
    }
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = rows[c.next_scanline];
        if (expand) {
            for (unsigned x = 0; x < width; ++x) {
                expand[3 * x] = row[x];
                expand[3 * x + 1] = 128;
                expand[3 * x + 2] = 128;
            }
            row = expand;
        }
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    return true;
}

// --- end of guarded steps ---

template <class Bitmap>
std::vector<unsigned char*> rowTable(Bitmap& bitmap)
{
    std::vector<unsigned char*> rows(static_cast<std::size_t>(bitmap.Height()));
    for (int y = 0; y < bitmap.Height(); ++y)
        rows[static_cast<std::size_t>(y)] = const_cast<unsigned char*>(bitmap.ScanLine(y));
    return rows;
}

// The file, or its first `most` bytes; false when it is empty or cannot be read.
bool readWholeFile(const std::string& fileName, std::vector<unsigned char>& data,
                   std::streamoff most = std::numeric_limits<std::streamoff>::max())
{
    std::ifstream in(fileName, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    const auto size = static_cast<std::streamoff>(in.tellg());
    if (size <= 0 || static_cast<unsigned long long>(size) > 0xFFFFFFFFULL)
        return false;
    const std::streamoff wanted = std::min(size, most);
    data.resize(static_cast<std::size_t>(wanted));
    in.seekg(0);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(data.data()), wanted));
}

// Reads the file (or only its first `most` bytes) and its header, refusing what LoadJPEG
// never decodes. A header cut short by `most` fails as a damaged one does.
bool readHeader(const std::string& fileName, std::vector<unsigned char>& data, TDecompressor& d,
                std::streamoff most = std::numeric_limits<std::streamoff>::max())
{
    if (!readWholeFile(fileName, data, most) || !guardedCreate(&d) || !guardedReadHeader(&d, data.data(), data.size()))
        return false;
    const int channels = d.cinfo.num_components;
    if (channels != 1 && channels != 3 && channels != 4)
        return false;
    return static_cast<long long>(d.cinfo.image_width) * d.cinfo.image_height <= MaxPixels;
}

} // namespace

bool ReadJPEGSize(const std::string& fileName, int& width, int& height)
{
    // The header is nearly always in the first few kilobytes: a 3 MB composite is not read
    // whole to learn its size. Only a header that does not fit is looked for in the whole file.
    constexpr std::streamoff HeaderBytes = 64 * 1024;
    std::vector<unsigned char> data;
    std::optional<TDecompressor> d;
    d.emplace();
    if (!readHeader(fileName, data, *d, HeaderBytes)) {
        d.emplace();
        if (!readHeader(fileName, data, *d))
            return false;
    }
    width = static_cast<int>(d->cinfo.image_width);
    height = static_cast<int>(d->cinfo.image_height);
    return true;
}

int JpegScaledSize(int size, int scale)
{
    switch (scale) {
    case 1: return (size + 1) / 2;
    case 2: return (size + 3) / 4;
    case 3: return (size + 7) / 8;
    default: return size;
    }
}

bool SaveJPEG(const TExtBitmap& bitmap, const std::string& fileName, int quality,
              bool singleChannelGrey, const std::string& comment)
{
    if (bitmap.Height() == 0 || bitmap.Width() == 0)
        return false;
    TCompressor k;
    if (!guardedCreate(&k))
        throw EWriteError(writeFailure);
    try {
        J_COLOR_SPACE input;
        int inputComponents;
        bool greyFile = false;
        std::vector<unsigned char> expand;
        switch (bitmap.PixelFormat()) {
        case TPixelFormat::pf8bit:
            greyFile = singleChannelGrey;
            input = greyFile ? JCS_GRAYSCALE : JCS_YCbCr;
            inputComponents = greyFile ? 1 : 3;
            if (!greyFile)
                expand.resize(static_cast<std::size_t>(bitmap.Width()) * 3);
            break;
        case TPixelFormat::pf24bit:
            input = JCS_EXT_BGR;
            inputComponents = 3;
            break;
        default:
            throw EInvalidOperation("Cannot save bitmap as JPEG with specified PixelFormat");
        }
        const auto rows = rowTable(bitmap);
        // A COM marker holds at most 65533 bytes.
        const auto commentLength = static_cast<unsigned>(std::min<std::size_t>(comment.size(), 65533));
        if (!guardedCompress(&k, rows.data(), static_cast<unsigned>(bitmap.Width()),
                             static_cast<unsigned>(bitmap.Height()), input, inputComponents, greyFile,
                             expand.empty() ? nullptr : expand.data(), quality,
                             reinterpret_cast<const unsigned char*>(comment.data()), commentLength))
            throw EWriteError(writeFailure);
        TPartialFile file(fileName);
        file.write(k.output, k.outputSize);
        file.commit();
    } catch (const std::exception&) {
        throw EWriteError(writeFailure);
    }
    return true;
}

bool LoadJPEG(TExtBitmap* bitmap, const std::string& fileName, bool takeFileFormat, int scale)
{
    if (!bitmap)
        return false;
    int channels = bitmap->PixelFormat() == TPixelFormat::pf8bit    ? 1
                   : bitmap->PixelFormat() == TPixelFormat::pf24bit ? 3
                                                                    : 0;
    if (channels == 0 && !takeFileFormat)
        return false;
    std::vector<unsigned char> data;
    TDecompressor d;
    if (!readHeader(fileName, data, d))
        return false;
    const int fileWidth = static_cast<int>(d.cinfo.image_width);
    const int fileHeight = static_cast<int>(d.cinfo.image_height);
    const int width = JpegScaledSize(fileWidth, scale);
    const int height = JpegScaledSize(fileHeight, scale);
    const int fileChannels = d.cinfo.num_components;

    bitmap->SetSize(0, 0);
    if (takeFileFormat) {
        channels = fileChannels;
        bitmap->SetPixelFormat(channels == 1   ? TPixelFormat::pf8bit
                               : channels == 3 ? TPixelFormat::pf24bit
                                               : TPixelFormat::pf32bit);
    }
    bitmap->SetSize(width, height);

    // Four-channel files are CMYK (YCCK is turned into CMYK by the library).
    const J_COLOR_SPACE space = channels == 1 ? JCS_GRAYSCALE : channels == 3 ? JCS_EXT_BGR : JCS_CMYK;
    const unsigned denom = scale >= 1 && scale <= 3 ? 1u << scale : 1u;
    const auto rows = rowTable(*bitmap);
    if (!guardedDecode(&d, space, denom, rows.data(), static_cast<unsigned>(width),
                       static_cast<unsigned>(height), channels))
        return false;
    if (channels == 4) {
        // The stored (inverted) CMYK of such files becomes colour by scaling with K;
        // stored blue, green, red as the bitmap's byte order wants them.
        for (int y = 0; y < height; ++y) {
            unsigned char* p = bitmap->ScanLine(y);
            for (int x = 0; x < width; ++x, p += 4) {
                const unsigned k = p[3];
                const unsigned char r = static_cast<unsigned char>(p[0] * k / 255);
                const unsigned char g = static_cast<unsigned char>(p[1] * k / 255);
                const unsigned char b = static_cast<unsigned char>(p[2] * k / 255);
                p[0] = b;
                p[1] = g;
                p[2] = r;
            }
        }
    }
    bitmap->Changed();
    return true;
}
