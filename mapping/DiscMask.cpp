#include "mapping/DiscMask.h"

#include <algorithm>
#include <vector>

#include "mapping/SegmentStuff.h"

namespace {

// Hands each line of the picture, as 255 on the disc and 0 off it, to take(y, line).
template <typename Take> void ForEachDiscLine(const TSegmentMapping& mapping, int width, int height, Take take)
{
    long double unused = 0;
    std::vector<long double> columnTan(static_cast<std::size_t>(width));
    std::vector<long double> lineTan(static_cast<std::size_t>(height));
    bool separable = true;
    for (int x = 0; x < width && separable; ++x)
        separable = mapping.ScanTangents(x, 0, columnTan[static_cast<std::size_t>(x)], unused);
    for (int y = 0; y < height && separable; ++y)
        separable = mapping.ScanTangents(0, y, unused, lineTan[static_cast<std::size_t>(y)]);

    std::vector<std::uint8_t> line(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool on = separable ? mapping.TangentsOnDisc(columnTan[static_cast<std::size_t>(x)],
                                                               lineTan[static_cast<std::size_t>(y)])
                                      : mapping.PixelOnDisc(x, y);
            line[static_cast<std::size_t>(x)] = on ? 255 : 0;
        }
        take(y, line.data());
    }
}

} // namespace

TDiscMask RenderDiscMask(const TSegmentMapping& mapping)
{
    TDiscMask mask;
    mask.Width = std::max(0, mapping.ImageWidth());
    mask.Height = std::max(0, mapping.ImageHeight());
    mask.Pixels.assign(static_cast<std::size_t>(mask.Width) * mask.Height, 0);
    if (mask.Pixels.empty())
        return mask;
    ForEachDiscLine(mapping, mask.Width, mask.Height, [&](int y, const std::uint8_t* line) {
        std::copy_n(line, mask.Width, mask.Pixels.data() + static_cast<std::size_t>(y) * mask.Width);
    });
    return mask;
}

std::vector<TDiscRun> DiscRuns(const TSegmentMapping& mapping)
{
    const int width = std::max(0, mapping.ImageWidth());
    std::vector<TDiscRun> runs;
    ForEachDiscLine(mapping, width, std::max(0, mapping.ImageHeight()), [&](int, const std::uint8_t* line) {
        const std::uint8_t* first = std::find(line, line + width, 255);
        const std::uint8_t* end = std::find(first, line + width, 0);
        runs.push_back({static_cast<int>(first - line), static_cast<int>(end - line)});
    });
    return runs;
}

const std::vector<TDiscRun>& CompositeDiscRuns()
{
    static const std::vector<TDiscRun> runs = DiscRuns(CompositeMapping());
    return runs;
}
