#include "mapping/CompositeLayout.h"

#include "mapping/SegmentStuff.h"

TSegmentMapping CompositeMapping()
{
    TSegmentMapping m;
    m.SegmentIndex = CompositeSegmentRow;
    m.LongitudeOffset = CompositeLongitudeOffset;
    return m;
}
