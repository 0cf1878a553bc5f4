// The three line-file readers on arbitrary bytes: whatever they read must stay inside the
// buffer, allocate only what the bytes back, and leave a consistent store that draws.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "cartography/CartogDraw.h"
#include "cartography/vrnCartography.h"
#include "imaging/BMPExtImage.h"

namespace {

struct Store : TCartogList {
    Store() : TCartogList(std::string()) {}
};

void checkConsistent(const TCartogList& store)
{
    std::int64_t maxCount = 0;
    int cursor = 0;
    int walked = 0;
    for (auto* seg = store.FirstSegment(cursor); seg; seg = store.NextSegment(cursor)) {
        if (seg->Count < 0 || static_cast<std::size_t>(seg->Count) != seg->Points.size()) std::abort();
        if (seg->Count > maxCount) maxCount = seg->Count;
        ++walked;
    }
    if (walked != store.Count() || store.MaxPoints != maxCount) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const std::uint8_t selector = data[0];
    const std::span<const std::uint8_t> body(data + 1, size - 1);
    Store store;
    switch (selector % 4) {
    case 0:
        store.LoadFromMemory(body, "coast.b");
        break;
    case 1:
        store.LoadFromMemory(body, "track.gpx");
        break;
    case 2:
        store.LoadFromMemory(body, "Countries.dat");
        break;
    default: {
        // Each reader on its own, past the format decision, one after another.
        TMemoryReadStream a(body), b(body), c(body);
        try { store.ReadGshhs(a); } catch (const EReadError&) {}
        try { store.ReadGpx(b); } catch (const EReadError&) {}
        checkConsistent(store);
        try { store.ReadCompactMap(c); } catch (const EReadError&) {}
        break;
    }
    }
    checkConsistent(store);

    // Whatever was read goes through the overlay walk onto a small image: wild coordinates
    // must be clipped, never written outside it.
    TExtBitmap bmp(64, 48);
    bmp.MakeGreyPalette();
    auto& canvas = bmp.Canvas();
    canvas.Pen.Color = 10526880;
    cartography::DrawLineStore(
        store, bmp.Width(),
        [](int& x, int& y, float lon, float lat) {
            if (!(std::fabs(lon) < 1e6f) || !(std::fabs(lat) < 1e6f) || lat > 80.0f) return false;
            x = static_cast<int>(lon * 4.0f);
            y = static_cast<int>(lat * 4.0f);
            return true;
        },
        [&](std::span<const TPoint> p) { canvas.Polyline(p); }, selector >> 4, -(selector & 7));
    return 0;
}
