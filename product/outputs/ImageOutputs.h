#pragma once
// The files one image is saved as, an object each: the grey PNG and JPEG, their colour twins
// and the GeoTIFF. The list is built from the settings once a cycle, in the order of
// ImageKinds, and the product hands every image to each output in turn, so an image of any
// instrument is saved by the same list. The pictures outputs share (the grey picture with its
// legend, the colour image) are made once, when the first output wants them.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "product/outputs/ColourTables.h"
#include "product/outputs/GeoTiffOutput.h"
#include "product/outputs/ImageKinds.h"
#include "settings/StationSettings.h"

// What the outputs of one image are made from.
struct TImageToSave {
    std::uint8_t Channel = 0;
    std::uint8_t Sector = 0;
    TDateTime ImageTime = 0;
    const TExtBitmap* Composite = nullptr; // lines drawn, no legend
    const TColourTable* ColourTable = nullptr; // none: grey pictures only
    const TExtBitmap* BeforeLines = nullptr; // the composite before its lines, or none
    TPlacedScan Placed; // the scan as placed into the composite
};

// The pictures made of one image for its outputs, each made once when first asked for.
class TImagePictures {
public:
    // legend: the stamp's text, empty for none; onLegendProblem gets a line when it cannot be
    // drawn.
    TImagePictures(const TImageToSave& image, std::string legend,
                   std::function<void(const std::string&)> onLegendProblem);
    const TImageToSave& Image;
    // The composite, on a stamped copy when there is a legend.
    const TExtBitmap& Grey();
    // The colour image, with its legend and colour bar. The grey copy is let go first: the
    // outputs come in the order of ImageKinds, grey before colour.
    const TExtBitmap& Coloured();
    // Runs an encoder and gives its answer; unset: on this thread. The window's thread must go
    // on answering its user meanwhile.
    std::function<bool(const std::function<bool()>&)> Encode;

private:
    void stamp(TExtBitmap& picture, const TColourTable* table);
    std::string legend_;
    std::function<void(const std::string&)> onLegendProblem_;
    std::optional<TExtBitmap> grey_, coloured_;
};

class TImageOutput {
public:
    explicit TImageOutput(const TImageKind& kind) : Kind(kind) {}
    virtual ~TImageOutput() = default;
    const TImageKind& Kind;
    // Whether it writes a file of this image: a colour output only for a channel with a table.
    virtual bool Writes(const TImageToSave& image) const;
    // Writes the image's file name, complete or not at all; empty when written, else why not
    // as the file's failure reason.
    virtual std::string Write(TImagePictures& pictures, const std::string& name) = 0;
};

// The outputs the settings tick, in the order of ImageKinds. The GeoTIFF's places each scan
// into the channel's clean copy among composites.
std::vector<std::unique_ptr<TImageOutput>> ImageOutputs(const TStationSettings& settings, TComposites& composites);
