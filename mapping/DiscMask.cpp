#include "mapping/DiscMask.h"

#include <algorithm>

#include "mapping/SegmentStuff.h"

TDiscMask RenderDiscMask(const TSegmentMapping& mapping)
{
    TDiscMask mask;
    mask.Width = std::max(0, mapping.ImageWidth());
    mask.Height = std::max(0, mapping.ImageHeight());
    mask.Pixels.assign(static_cast<std::size_t>(mask.Width) * mask.Height, 0);
    if (mask.Pixels.empty())
        return mask;

    long double unused = 0;
    std::vector<long double> columnTan(static_cast<std::size_t>(mask.Width));
    std::vector<long double> lineTan(static_cast<std::size_t>(mask.Height));
    bool separable = true;
    for (int x = 0; x < mask.Width && separable; ++x)
        separable = mapping.ScanTangents(x, 0, columnTan[static_cast<std::size_t>(x)], unused);
    for (int y = 0; y < mask.Height && separable; ++y)
        separable = mapping.ScanTangents(0, y, unused, lineTan[static_cast<std::size_t>(y)]);

    std::uint8_t* p = mask.Pixels.data();
    for (int y = 0; y < mask.Height; ++y) {
        for (int x = 0; x < mask.Width; ++x) {
            const bool on = separable ? mapping.TangentsOnDisc(columnTan[static_cast<std::size_t>(x)],
                                                               lineTan[static_cast<std::size_t>(y)])
                                      : mapping.PixelOnDisc(x, y);
            *p++ = on ? 255 : 0;
        }
    }
    return mask;
}
