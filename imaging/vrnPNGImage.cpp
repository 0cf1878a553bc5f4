#include "imaging/vrnPNGImage.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csetjmp>
#include <cstring>
#include <ctime>
#include <fstream>
#include <new>

#include "imaging/Canvas.h"
#include "base/PartialFile.h"

// libpng reports errors through png_error, which must not return. Ours records the
// message and longjmps, and only ever to a setjmp in one of the small "guarded" functions
// below: they own nothing and hold no objects with destructors, so the jump skips no C++
// cleanup. The structures and buffers are owned by their callers and destroyed normally;
// the callers turn a failed step into an exception.

namespace {

// A single transfer larger than this is refused (the stream callbacks' buffer size).
constexpr std::size_t MaxTransfer = 8193;
// Far above the program's composites (9 MB), yet a forged header cannot make us allocate
// gigabytes.
constexpr std::uint64_t MaxPixelBytes = 256ULL * 1024 * 1024;
constexpr png_alloc_size_t MaxChunkBytes = 1024 * 1024;

enum class TFailure { None, Library, General, Read, Write };

// Everything the callbacks need, reached through the library's io pointer.
struct TPngIo {
    std::istream* in = nullptr;
    std::ostream* out = nullptr;
    TPartialFile* file = nullptr;
    TFailure failure = TFailure::None;
    char message[200] = {};

    void fail(TFailure kind, const std::string& text)
    {
        failure = kind;
        std::snprintf(message, sizeof message, "%s", text.c_str());
    }

    // Both return false (never raise) so the callback can leave through png_error.
    bool read(png_bytep data, std::size_t length) noexcept
    {
        try {
            if (length > MaxTransfer) {
                fail(TFailure::General, "Buffer override: needed " + std::to_string(length) + "bytes for buffer !");
                return false;
            }
            in->read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(length));
            if (static_cast<std::size_t>(in->gcount()) != length) {
                fail(TFailure::Read, "Stream read error");
                return false;
            }
            return true;
        } catch (...) {
            fail(TFailure::Read, "Stream read error");
            return false;
        }
    }

    bool write(png_bytep data, std::size_t length) noexcept
    {
        try {
            if (length > MaxTransfer) {
                fail(TFailure::General, "Buffer override: needed " + std::to_string(length));
                return false;
            }
            if (file)
                file->write(data, length);
            else if (!out->write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length)))
                throw EWriteError("");
            return true;
        } catch (...) {
            fail(TFailure::Write, "Stream write error");
            return false;
        }
    }
};

TPngIo* ioOf(png_structp png)
{
    return static_cast<TPngIo*>(png_get_io_ptr(png));
}

struct TErrorTarget {
    std::jmp_buf jump;
    TPngIo* io;
};

void onError(png_structp png, png_const_charp message)
{
    auto* target = static_cast<TErrorTarget*>(png_get_error_ptr(png));
    if (target->io->failure == TFailure::None) {
        target->io->failure = TFailure::Library;
        std::snprintf(target->io->message, sizeof target->io->message, "%s", message ? message : "PNG error");
    }
    std::longjmp(target->jump, 1);
}

void onWarning(png_structp, png_const_charp) {}

void readCallback(png_structp png, png_bytep data, std::size_t length)
{
    if (!ioOf(png)->read(data, length))
        png_error(png, "read");
}

void writeCallback(png_structp png, png_bytep data, std::size_t length)
{
    if (!ioOf(png)->write(data, length))
        png_error(png, "write");
}

void flushCallback(png_structp) {}

[[noreturn]] void raise(const TPngIo& io)
{
    switch (io.failure) {
    case TFailure::Read: throw EReadError(io.message);
    case TFailure::Write: throw EWriteError(io.message);
    default: throw EImageError(io.message);
    }
}

// The library's structures of one read or one write, freed together however the work ends.
template <bool Writing>
struct THandles {
    TErrorTarget target{};
    png_structp png = nullptr;
    png_infop info = nullptr;
    explicit THandles(TPngIo& io)
    {
        target.io = &io;
        png = Writing ? png_create_write_struct(PNG_LIBPNG_VER_STRING, &target, onError, onWarning)
                      : png_create_read_struct(PNG_LIBPNG_VER_STRING, &target, onError, onWarning);
        if (!png)
            throw std::bad_alloc();
        info = png_create_info_struct(png);
        if (!info) {
            destroy();
            throw EImageError("Failed to Create info struct");
        }
    }
    THandles(const THandles&) = delete;
    THandles& operator=(const THandles&) = delete;
    ~THandles() { destroy(); }

private:
    void destroy()
    {
        if constexpr (Writing)
            png_destroy_write_struct(&png, &info);
        else
            png_destroy_read_struct(&png, &info, nullptr);
    }
};
using TReadHandles = THandles<false>;
using TWriteHandles = THandles<true>;

// What the header and the chosen transformations give; plain data, set in a guarded step.
struct THeader {
    png_uint_32 width, height;
    int bitDepth, colorType, interlace, compression, filterMethod;
    bool hasBackground;
    int passes;
    std::size_t rowBytes;
    int channels;
    double fileGamma;
    bool keepPalette;
};

// --- guarded steps: no locals with destructors below this line ---

bool guardedReadHeader(TReadHandles* h, bool forceColor, double screenGamma, THeader* out)
{
    if (setjmp(h->target.jump))
        return false;
    png_structp png = h->png;
    png_infop info = h->info;
    png_set_sig_bytes(png, 4);
    // A chunk may declare up to 2 GiB, which libpng would allocate before reading it;
    // larger ancillary chunks are skipped instead (the stream limit still applies).
    png_set_chunk_malloc_max(png, MaxChunkBytes);
    png_set_read_fn(png, h->target.io, readCallback);
    png_read_info(png, info);
    png_get_IHDR(png, info, &out->width, &out->height, &out->bitDepth, &out->colorType, &out->interlace,
                 &out->compression, &out->filterMethod);
    out->hasBackground = png_get_valid(png, info, PNG_INFO_bKGD) != 0;

    out->keepPalette = false;
    if (out->colorType == PNG_COLOR_TYPE_PALETTE) {
        if (forceColor)
            png_set_palette_to_rgb(png);
        else
            out->keepPalette = true;
    }
    if (out->colorType == PNG_COLOR_TYPE_GRAY && out->bitDepth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(png);
    if (forceColor && (out->colorType == PNG_COLOR_TYPE_GRAY || out->colorType == PNG_COLOR_TYPE_GRAY_ALPHA))
        png_set_gray_to_rgb(png);

    out->fileGamma = 0.45455;
    double gamma = 0;
    if (png_get_gAMA(png, info, &gamma) && gamma > 0)
        out->fileGamma = gamma;
    png_set_gamma(png, screenGamma, out->fileGamma);

    png_set_invert_alpha(png);
    if (out->bitDepth < 8)
        png_set_packing(png);
    // The pixel buffer holds one byte per sample whatever the file's depth.
    if (out->bitDepth == 16)
        png_set_scale_16(png);
    out->passes = out->interlace != PNG_INTERLACE_NONE ? png_set_interlace_handling(png) : 1;

    png_read_update_info(png, info);
    out->rowBytes = png_get_rowbytes(png, info);
    out->channels = png_get_channels(png, info);
    return true;
}

bool guardedReadImage(TReadHandles* h, png_bytepp rows)
{
    if (setjmp(h->target.jump))
        return false;
    png_read_image(h->png, rows);
    png_read_end(h->png, h->info);
    return true;
}

struct TWriteSettings {
    png_uint_32 width, height;
    int bitDepth, colorType, interlace, compression, filterMethod;
    int compressionLevel, filters;
    const png_color* palette;
    int paletteCount;
    png_text* texts;
    int textCount;
    png_bytepp rows;  // null: header and texts only
    png_time time;
};

bool guardedWrite(TWriteHandles* h, const TWriteSettings* s)
{
    if (setjmp(h->target.jump))
        return false;
    png_structp png = h->png;
    png_infop info = h->info;
    png_set_write_fn(png, h->target.io, writeCallback, flushCallback);
    png_set_compression_level(png, s->compressionLevel);
    png_set_IHDR(png, info, s->width, s->height, s->bitDepth, s->colorType, s->interlace, s->compression,
                 s->filterMethod);
    if (s->colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, s->palette, s->paletteCount);
    if (s->textCount > 0)
        png_set_text(png, info, s->texts, s->textCount);
    png_write_info(png, info);
    png_set_filter(png, 0, s->filters);
    if (s->rows) {
        if (s->bitDepth == 16)
            png_set_swap(png);
        if (s->interlace != PNG_INTERLACE_NONE)
            png_set_interlace_handling(png);
        png_write_image(png, s->rows);
        png_set_tIME(png, info, &s->time);
        png_write_end(png, info);
    }
    return true;
}

// --- end of guarded steps ---

bool isBlank(const std::string& s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

// The program's texts are UTF-8; a tEXt chunk holds Latin-1, which is the first 256 code
// points of Unicode.
std::string latin1ToUtf8(const char* text, std::size_t length)
{
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The Latin-1 bytes of a UTF-8 text: false when a character lies beyond Latin-1. Text that
// is not UTF-8 at all is taken to be 8-bit text already and kept as it is.
bool utf8ToLatin1(const std::string& text, std::string& latin1)
{
    latin1.clear();
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            latin1 += static_cast<char>(c);
            ++i;
            continue;
        }
        const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
        const bool continued = length > 0 && i + length <= text.size() &&
                               std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                           text.begin() + static_cast<std::ptrdiff_t>(i) + length,
                                           [](char b) { return (static_cast<unsigned char>(b) & 0xC0) == 0x80; });
        if (!continued || c >= 0xF8) {
            latin1 = text;
            return true;
        }
        if (length > 2 || c > 0xC3)
            return false;
        latin1 += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F));
        i += 2;
    }
    return true;
}

bool equalsIgnoringCase(const std::string& a, const char* b)
{
    return a.size() == std::strlen(b) &&
           std::equal(a.begin(), a.end(), b, [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

// Days since 1899-12-30 for a civil date and time (UTC).
double dateTimeOf(const png_time& t)
{
    using namespace std::chrono;
    const year_month_day ymd{year{t.year}, month{t.month}, day{t.day}};
    if (!ymd.ok())
        return 0;
    const auto days = (sys_days{ymd} - sys_days{year{1899} / December / 30}).count();
    return static_cast<double>(days) + (t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0;
}

png_time nowUtc()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    png_time t{};
    t.year = static_cast<png_uint_16>(tm.tm_year + 1900);
    t.month = static_cast<png_byte>(tm.tm_mon + 1);
    t.day = static_cast<png_byte>(tm.tm_mday);
    t.hour = static_cast<png_byte>(tm.tm_hour);
    t.minute = static_cast<png_byte>(tm.tm_min);
    t.second = static_cast<png_byte>(tm.tm_sec);
    return t;
}

std::vector<png_bytep> rowTable(std::uint8_t* pixels, std::size_t rowBytes, int height)
{
    std::vector<png_bytep> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        rows[static_cast<std::size_t>(y)] = pixels + static_cast<std::size_t>(y) * rowBytes;
    return rows;
}

} // namespace

void TPngImage::clearPixels()
{
    pixels_.clear();
    pixels_.shrink_to_fit();
    rowBytes_ = 0;
}

void TPngImage::allocatePixels()
{
    const std::uint64_t bytes = static_cast<std::uint64_t>(rowBytes_) * static_cast<std::uint64_t>(Height);
    if (bytes > MaxPixelBytes)
        throw std::bad_alloc();
    pixels_.assign(static_cast<std::size_t>(bytes), 0);
}

void TPngImage::LoadFromStream(std::istream& stream)
{
    load(stream, true);
}

void TPngImage::load(std::istream& stream, bool pixels)
{
    static const unsigned char signature[4] = {137, 80, 78, 71};
    unsigned char head[4] = {};
    stream.read(reinterpret_cast<char*>(head), 4);
    if (stream.gcount() != 4 || std::memcmp(head, signature, 4) != 0)
        throw EImageError("Is not a valid PNG !");

    TPngIo io;
    io.in = &stream;
    TReadHandles h(io);
    THeader header{};
    if (!guardedReadHeader(&h, ForceColor, screenGamma_, &header))
        raise(io);

    TextChk.clear();
    png_textp texts = nullptr;
    const int textCount = png_get_text(h.png, h.info, &texts, nullptr);
    for (int i = 0; i < textCount; ++i) {
        const std::string key = texts[i].key ? texts[i].key : "";
        // International text chunks carry UTF-8 and give their length apart.
        const bool international = texts[i].compression >= PNG_ITXT_COMPRESSION_NONE;
        const std::string value = !texts[i].text ? std::string()
                                  : international ? std::string(texts[i].text, texts[i].itxt_length)
                                                  : latin1ToUtf8(texts[i].text, texts[i].text_length);
        TextChk.push_back(key + "=" + value);
        if (equalsIgnoringCase(key, "Title"))
            Title = value;
        else if (equalsIgnoringCase(key, "Author"))
            Author = value;
        else if (equalsIgnoringCase(key, "Description"))
            Description = value;
    }

    Width = static_cast<int>(header.width);
    Height = static_cast<int>(header.height);
    BitDepth = header.bitDepth;
    ColorType = header.colorType;
    Interlace = header.interlace;
    Compression = header.compression;
    FilterMethod = header.filterMethod;
    Transparent = header.hasBackground;
    NumberOfPasses = header.passes;
    fileGamma_ = header.fileGamma;

    palette_.clear();
    if (header.keepPalette) {
        png_colorp entries = nullptr;
        int count = 0;
        if (png_get_PLTE(h.png, h.info, &entries, &count))
            for (int i = 0; i < count && i < 256; ++i)
                palette_.push_back({entries[i].red, entries[i].green, entries[i].blue});
    }

    clearPixels();
    rowBytes_ = static_cast<int>(header.rowBytes);
    BytesPerPixel = header.channels;
    if (!pixels)
        return;
    allocatePixels();
    auto rows = rowTable(pixels_.data(), header.rowBytes, Height);
    if (!guardedReadImage(&h, rows.data())) {
        clearPixels();
        raise(io);
    }

    png_timep time = nullptr;
    if (png_get_tIME(h.png, h.info, &time) && time)
        LastModified = dateTimeOf(*time);
}

void TPngImage::LoadFromFile(const std::string& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
    LoadFromStream(in);
}

void TPngImage::LoadHeaderFromFile(const std::string& fileName)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
    load(in, false);
}

namespace {

void savePng(const TPngImage& image, const std::vector<std::uint8_t>& pixels, TPngIo& io)
{
    TWriteHandles h(io);
    // Fixed order of the text chunks; texts of blanks only are left out.
    const std::pair<const char*, const std::string*> fields[] = {
        {"Author", &image.Author}, {"Description", &image.Description},
        {"Software", &image.Software}, {"Title", &image.Title}};
    png_text texts[4] = {};
    std::string values[4];
    int textCount = 0;
    for (const auto& [key, value] : fields) {
        if (isBlank(*value))
            continue;
        std::string& bytes = values[textCount];
        png_text& t = texts[textCount++];
        // A text beyond Latin-1 goes into an international chunk, as UTF-8.
        const bool latin1 = utf8ToLatin1(*value, bytes);
        if (!latin1)
            bytes = *value;
        t.compression = latin1 ? PNG_TEXT_COMPRESSION_NONE : PNG_ITXT_COMPRESSION_NONE;
        t.key = const_cast<char*>(key);
        t.text = bytes.data();
        t.text_length = latin1 ? bytes.size() : 0;
        t.itxt_length = latin1 ? 0 : bytes.size();
    }
    std::vector<png_color> palette;
    for (const auto& e : image.Palette())
        palette.push_back({e.Red, e.Green, e.Blue});

    std::vector<png_bytep> rows;
    if (!pixels.empty())
        rows = rowTable(const_cast<std::uint8_t*>(pixels.data()), static_cast<std::size_t>(image.RowBytes()),
                        image.Height);
    TWriteSettings s{};
    s.width = static_cast<png_uint_32>(image.Width);
    s.height = static_cast<png_uint_32>(image.Height);
    s.bitDepth = image.BitDepth;
    s.colorType = image.ColorType;
    s.interlace = image.Interlace;
    s.compression = image.Compression;
    s.filterMethod = image.FilterMethod;
    s.compressionLevel = image.CompressionLevel;
    s.filters = image.Filters;
    s.palette = palette.data();
    s.paletteCount = static_cast<int>(palette.size());
    s.texts = texts;
    s.textCount = textCount;
    s.rows = rows.empty() ? nullptr : rows.data();
    s.time = nowUtc();
    if (!guardedWrite(&h, &s))
        raise(io);
}

} // namespace

void TPngImage::SaveToStream(std::ostream& stream) const
{
    TPngIo io;
    io.out = &stream;
    savePng(*this, pixels_, io);
}

void TPngImage::SaveToFile(const std::string& fileName) const
{
    TPartialFile file(fileName);
    TPngIo io;
    io.file = &file;
    savePng(*this, pixels_, io);
    file.commit();
}

void TPngImage::AssignFromBitmap(const TExtBitmap& bitmap)
{
    palette_.clear();
    switch (bitmap.PixelFormat()) {
    case TPixelFormat::pf8bit: {
        ColorType = PNG_COLOR_TYPE_GRAY;
        BytesPerPixel = 1;
        bool grey = true;
        for (int i = 0; i < 256; ++i) {
            const TRGBQuad& q = bitmap.Palette()[static_cast<std::size_t>(i)];
            palette_.push_back({q.Red, q.Green, q.Blue});
            grey = grey && q.Red == i && q.Green == i && q.Blue == i;
        }
        if (!grey)
            ColorType = PNG_COLOR_TYPE_PALETTE;
        break;
    }
    case TPixelFormat::pf24bit:
        ColorType = PNG_COLOR_TYPE_RGB;
        BytesPerPixel = 3;
        break;
    default:
        throw EInvalidGraphicOperation("Unsupported bitmap format");
    }
    Width = bitmap.Width();
    Height = bitmap.Height();
    BitDepth = 8;
    rowBytes_ = Width * BytesPerPixel;
    allocatePixels();
    for (int y = 0; y < Height; ++y) {
        const std::uint8_t* src = bitmap.ScanLine(y);
        std::uint8_t* dst = pixels_.data() + static_cast<std::size_t>(y) * rowBytes_;
        if (BytesPerPixel == 1) {
            std::memcpy(dst, src, static_cast<std::size_t>(Width));
        } else {
            for (int x = 0; x < Width; ++x, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
        }
    }
}

void TPngImage::AssignToBitmap(TExtBitmap& bitmap, int x, int y) const
{
    if (Height < 0)
        throw EImageError("Image too high");
    if (Width < 0)
        throw EImageError("Image too wide");
    if (pixels_.empty() || BytesPerPixel < 1 || BytesPerPixel > 4)
        return;
    // One or two samples (grey, grey + alpha) go into an 8-bit image, three or four into
    // a 24-bit one.
    const TPixelFormat format = BytesPerPixel <= 2 ? TPixelFormat::pf8bit : TPixelFormat::pf24bit;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(std::max(bitmap.Width(), x + Width), std::max(bitmap.Height(), y + Height));
    if (BytesPerPixel == 1 && !palette_.empty()) {
        auto& pal = bitmap.Palette();
        for (std::size_t i = 0; i < pal.size(); ++i)
            pal[i] = i < palette_.size() ? TRGBQuad{palette_[i].Blue, palette_[i].Green, palette_[i].Red, 0}
                                         : TRGBQuad{};
    }
    const int outBytes = format == TPixelFormat::pf8bit ? 1 : 3;
    // Only the part that lands inside the bitmap (a negative offset clips).
    const int c0 = std::max(0, -x), r0 = std::max(0, -y);
    auto blend = [](std::uint8_t old, std::uint8_t add, unsigned invAlpha) {
        return static_cast<std::uint8_t>((invAlpha * old + (255 - invAlpha) * add) / 255);
    };
    for (int r = r0; r < Height; ++r) {
        const std::uint8_t* src = Row(r) + static_cast<std::size_t>(c0) * BytesPerPixel;
        std::uint8_t* dst = bitmap.ScanLine(y + r) + static_cast<std::size_t>(x + c0) * outBytes;
        switch (BytesPerPixel) {
        case 1:
            std::memcpy(dst, src, static_cast<std::size_t>(Width - c0));
            break;
        case 2:
            for (int c = c0; c < Width; ++c, src += 2, dst += 1)
                dst[0] = src[1] == 0 ? src[0] : blend(dst[0], src[0], src[1]);
            break;
        case 3:
            for (int c = c0; c < Width; ++c, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
            break;
        case 4:
            for (int c = c0; c < Width; ++c, src += 4, dst += 3) {
                const unsigned a = src[3];
                if (a == 0) {
                    dst[0] = src[2];
                    dst[1] = src[1];
                    dst[2] = src[0];
                } else {
                    dst[0] = blend(dst[0], src[2], a);
                    dst[1] = blend(dst[1], src[1], a);
                    dst[2] = blend(dst[2], src[0], a);
                }
            }
            break;
        }
    }
    bitmap.Changed();
}

void TPngImage::Draw(TCanvas& canvas) const
{
    TExtBitmap temp;
    AssignToBitmap(temp, 0, 0);
    canvas.Bitmap().Draw(0, 0, temp);
}

TPngGraphic::TPngGraphic() : image_(std::make_shared<TPngImage>()) {}

void TPngGraphic::Assign(const TPngGraphic& other)
{
    image_ = other.image_;
}

void TPngGraphic::Draw(TCanvas& canvas) const
{
    if (image_)
        image_->Draw(canvas);
}

void TPngGraphic::LoadFromFile(const std::string& fileName)
{
    image_->LoadFromFile(fileName);
}

void TPngGraphic::LoadFromStream(std::istream& stream)
{
    image_->LoadFromStream(stream);
}

void TPngGraphic::SaveToFile(const std::string& fileName) const
{
    image_->SaveToFile(fileName);
}

void TPngGraphic::SaveToStream(std::ostream& stream) const
{
    image_->SaveToStream(stream);
}

void TPngGraphic::LoadFromClipboardFormat()
{
    throw EImageError("Cannot load a TPngGraphic from the Clipboard");
}

void TPngGraphic::SaveToClipboardFormat() const
{
    throw EImageError("Cannot save a TPngGraphic to the Clipboard");
}

void TPngGraphic::SetHeight(int)
{
    throw EImageError("Cannot set height on a TPngGraphic");
}

void TPngGraphic::SetWidth(int)
{
    throw EImageError("Cannot set width on a TPngGraphic");
}
