#pragma once
// PNG codec object over libpng, and its shared-image graphic wrapper.

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "imaging/BMPExtImage.h"
#include "base/StreamErrors.h"

class TCanvas;

// Progress notification (percent done); nothing in the program sets one.
using TPngProgressEvent = std::function<void(int percent)>;

struct TPngRGB {
    std::uint8_t Red = 0, Green = 0, Blue = 0;
};

class TPngImage {
public:
    // Texts (UTF-8) written as text chunks (Author, Description, Software, Title): Latin-1
    // tEXt, or iTXt for a text beyond Latin-1. The reader fills Title, Author and Description.
    std::string Title, Author, Description, Software;
    int BitDepth = 8;
    int BytesPerPixel = 0;  // samples per pixel of the pixel buffer: 1..4
    int ColorType = 2;      // 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGB+alpha
    int Height = 0, Width = 0;
    int Interlace = 0;
    int Compression = 0;
    int FilterMethod = 0;
    int Filters = 56;       // libpng filter bits the writer may choose from: none, sub, up
    std::vector<std::string> TextChk;  // "key=value" per text chunk read
    double LastModified = 0;           // from tIME: days since 1899-12-30, UTC
    bool Transparent = false;          // the file had a bKGD chunk
    int NumberOfPasses = 0;
    int CompressionLevel = 3;
    bool ForceColor = true;            // reading expands palette and grey images to RGB
    TPngProgressEvent OnProgress;

    TPngImage() = default;
    TPngImage(const TPngImage&) = delete;
    TPngImage& operator=(const TPngImage&) = delete;

    // Failures raise: EImageError "Is not a valid PNG !", "Buffer override: ..." or the
    // library's message for damaged data; EReadError when the stream ends early.
    void LoadFromStream(std::istream& stream);
    void LoadFromFile(const std::string& fileName);
    // The header alone (size, depth, colour type, samples per pixel, texts), without the
    // pixels: cheap, and Row() holds nothing afterwards. Failures raise as above.
    void LoadHeaderFromFile(const std::string& fileName);
    // The file appears under its name only once completely written.
    void SaveToStream(std::ostream& stream) const;
    void SaveToFile(const std::string& fileName) const;

    // Takes an 8- or 24-bit bitmap (EInvalidGraphicOperation "Unsupported bitmap format"
    // otherwise); a palette that is not the grey ramp makes a palette image.
    void AssignFromBitmap(const TExtBitmap& bitmap);
    // Draws the pixels into the bitmap with their top-left corner at (x, y), growing it as
    // needed; alpha blends over what the bitmap held.
    void AssignToBitmap(TExtBitmap& bitmap, int x, int y) const;
    void Draw(TCanvas& canvas) const;

    const std::vector<TPngRGB>& Palette() const { return palette_; }
    int RowBytes() const { return rowBytes_; }
    const std::uint8_t* Row(int y) const { return pixels_.data() + static_cast<std::size_t>(y) * rowBytes_; }

private:
    struct TReadResult;
    void load(std::istream& stream, bool pixels);
    void clearPixels();
    void allocatePixels();

    std::vector<std::uint8_t> pixels_;
    int rowBytes_ = 0;
    std::vector<TPngRGB> palette_;
    double fileGamma_ = 0.45455;
    double screenGamma_ = 2.2;
};

// A graphic holding one TPngImage, shared between copies made with Assign.
class TPngGraphic {
public:
    TPngGraphic();
    void Assign(const TPngGraphic& other);

    void Draw(TCanvas& canvas) const;
    bool GetEmpty() const { return !image_; }
    int GetHeight() const { return image_ ? image_->Height : 0; }
    int GetWidth() const { return image_ ? image_->Width : 0; }
    void LoadFromFile(const std::string& fileName);
    void LoadFromStream(std::istream& stream);
    void SaveToFile(const std::string& fileName) const;
    void SaveToStream(std::ostream& stream) const;

    // Not supported: raise EImageError.
    void LoadFromClipboardFormat();
    void SaveToClipboardFormat() const;
    void SetHeight(int);
    void SetWidth(int);

    TPngImage* Image() { return image_.get(); }
    long UseCount() const { return image_.use_count(); }

private:
    std::shared_ptr<TPngImage> image_;
};
