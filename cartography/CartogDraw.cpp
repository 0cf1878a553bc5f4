#include "cartography/CartogDraw.h"

#include <typeinfo>

#include "imaging/BMPExtImage.h"
#include "imaging/Canvas.h"
#include "mapping/AbiGrid.h"
#include "mapping/SegmentStuff.h"

void TCartogList::DrawOnBitmap(TExtBitmap& bitmap, int xOffset, int yOffset)
{
    if (Mapping == nullptr || Count() == 0)
        return;
    DrawOnCanvas(bitmap.Canvas(), xOffset, yOffset);
}

cartography::TLimbCull cartography::LimbCullFor(const TMapping& any)
{
    TLimbCull cull;
    if (const auto* abi = dynamic_cast<const TAbiGridMapping*>(&any)) {
        cull.Enabled = true;
        cull.SubLongitude = abi->Projection().SubLongitude;
        return cull;
    }
    // A mapping of a derived class may project as it likes; so may the rows that don't go
    // through the satellite-view engine (the newer GOES fixed grid, the world grid, and the
    // rows handed to preset map projections).
    if (typeid(any) != typeid(TSegmentMapping))
        return cull;
    const auto& mapping = static_cast<const TSegmentMapping&>(any);
    const int row = mapping.SegmentIndex;
    const TASegmentData* seg = SegmentData(row);
    if (seg == nullptr)
        return cull;
    for (int own : {151, 153, 156, 92, 95, 96, 143, 145})
        if (row == own)
            return cull;
    cull.Enabled = true;
    cull.SubLongitude = static_cast<double>(static_cast<long double>(seg->NominalLongitude) +
                                            static_cast<long double>(mapping.LongitudeOffset));
    return cull;
}

void TCartogList::DrawOnCanvas(TCanvas& canvas, int xOffset, int yOffset)
{
    if (Mapping == nullptr || Count() == 0)
        return;
    const TMapping& mapping = *Mapping;
    cartography::DrawLineStore(
        *this, mapping.ImageWidth(),
        [&mapping](int& x, int& y, float lon, float lat) { return mapping.GeoToPixel(x, y, lon, lat); },
        [&canvas](std::span<const TPoint> points) { canvas.Polyline(points); }, xOffset, yOffset,
        cartography::LimbCullFor(mapping));
}
