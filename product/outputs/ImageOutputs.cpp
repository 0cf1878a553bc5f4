#include "product/outputs/ImageOutputs.h"

#include <cerrno>
#include <cstring>
#include <exception>

#include "imaging/JPEG_IO.h"
#include "imaging/PNG_IO.h"
#include "product/outputs/ImageLegend.h"
#include "product/outputs/Publisher.h"

namespace {

constexpr int JpegQuality = 99;
const char* const PngSoftware = "Quillon's Orvanta";
// The satellite's name in the PNG's description.
std::string PngDescription(std::uint8_t channel) { return SatelliteName(channel) + " image from netCDF"; }

// A JPEG or PNG picture, grey or in colour.
class TPictureOutput : public TImageOutput {
public:
    using TImageOutput::TImageOutput;
    std::string Write(TImagePictures& pictures, const std::string& name) override
    {
        const TExtBitmap& picture = Kind.Colour ? pictures.Coloured() : pictures.Grey();
        // The codecs report a failed write without its cause; the system's error number still
        // holds it, and is brought back from the thread that encoded.
        int writeErrno = 0;
        const auto encode = [&] {
            errno = 0;
            bool ok = false;
            try {
                ok = encode_(picture, name, pictures.Image);
            } catch (const std::exception&) {
                ok = false;
            }
            writeErrno = errno;
            return ok;
        };
        const bool saved = pictures.Encode ? pictures.Encode(encode) : encode();
        errno = writeErrno;
        if (saved)
            return {};
        return "cannot write image " + name + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
    }

protected:
    virtual bool encode_(const TExtBitmap& picture, const std::string& name, const TImageToSave& image) = 0;
};

class TPngOutput : public TPictureOutput {
public:
    using TPictureOutput::TPictureOutput;

protected:
    bool encode_(const TExtBitmap& picture, const std::string& name, const TImageToSave& image) override
    {
        return SavePNGWithText(picture, name, PublisherAddress, PngDescription(image.Channel).c_str(), PngSoftware,
                               FormatDateTime("yyyy-mm-dd hh:nn", image.ImageTime));
    }
};

class TJpegOutput : public TPictureOutput {
public:
    using TPictureOutput::TPictureOutput;

protected:
    bool encode_(const TExtBitmap& picture, const std::string& name, const TImageToSave&) override
    {
        return SaveJPEG(picture, name, JpegQuality, false, PublisherAddress);
    }
};

class TGeoTiffImageOutput : public TImageOutput {
public:
    TGeoTiffImageOutput(const TImageKind& kind, const TStationSettings& settings, TComposites& composites)
        : TImageOutput(kind), settings_(settings), composites_(composites)
    {}
    std::string Write(TImagePictures& pictures, const std::string& name) override
    {
        if (const std::string why = SaveCleanGeoTiff(composites_, settings_, pictures.Image.Placed, name); !why.empty())
            return "cannot write GeoTIFF " + name + ": " + why;
        return {};
    }

private:
    const TStationSettings settings_;
    TComposites& composites_;
};

} // namespace

TImagePictures::TImagePictures(const TImageToSave& image, std::string legend,
                               std::function<void(const std::string&)> onLegendProblem)
    : Image(image), legend_(std::move(legend)), onLegendProblem_(std::move(onLegendProblem))
{}

void TImagePictures::stamp(TExtBitmap& picture, const TColourTable* table)
{
    if (const std::string why = DrawLegend(picture, legend_, table); !why.empty() && onLegendProblem_)
        onLegendProblem_("Legend stamp: " + why + "; images saved without it");
}

// The legend goes on copies: the composite, and the GeoTIFF made from it, stay data.
const TExtBitmap& TImagePictures::Grey()
{
    if (legend_.empty())
        return *Image.Composite;
    if (!grey_) {
        grey_ = *Image.Composite;
        stamp(*grey_, nullptr);
    }
    return *grey_;
}

const TExtBitmap& TImagePictures::Coloured()
{
    if (!coloured_) {
        grey_.reset();
        coloured_ = ColouredImage(*Image.Composite, *Image.ColourTable, Image.BeforeLines);
        if (!legend_.empty())
            stamp(*coloured_, Image.ColourTable);
    }
    return *coloured_;
}

bool TImageOutput::Writes(const TImageToSave& image) const { return !Kind.Colour || image.ColourTable; }

std::vector<std::unique_ptr<TImageOutput>> ImageOutputs(const TStationSettings& settings, TComposites& composites)
{
    std::vector<std::unique_ptr<TImageOutput>> outputs;
    for (const TImageKind& kind : ImageKinds) {
        if (!(settings.*kind.Setting))
            continue;
        if (&kind == &GeoTiffKind)
            outputs.push_back(std::make_unique<TGeoTiffImageOutput>(kind, settings, composites));
        else if (kind.Extension == ".png")
            outputs.push_back(std::make_unique<TPngOutput>(kind));
        else
            outputs.push_back(std::make_unique<TJpegOutput>(kind));
    }
    return outputs;
}
