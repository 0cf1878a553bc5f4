#include "mapping/CompositeLayout.h"

#include "mapping/SegmentStuff.h"

float CompositeLongitudeOffsetFor(double satelliteLongitude)
{
    return static_cast<float>(satelliteLongitude - static_cast<double>(SegmentData(CompositeSegmentRow)->NominalLongitude));
}

TSegmentMapping CompositeMapping(float longitudeOffset)
{
    TSegmentMapping m;
    m.SegmentIndex = CompositeSegmentRow;
    m.LongitudeOffset = longitudeOffset;
    return m;
}

TSegmentMapping CompositeMappingAt(double satelliteLongitude)
{
    return CompositeMapping(CompositeLongitudeOffsetFor(satelliteLongitude));
}
