// The line-file readers on arbitrary bytes: whatever they read must stay inside the buffer,
// allocate only what the bytes back, and leave a consistent store that draws.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "cartography/BinnedGshhg.h"
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

// Takes little-endian values off the front of the bytes; zeros once they run out.
struct TTake {
    std::span<const std::uint8_t> bytes;
    template <class T>
    T next()
    {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < sizeof(T) && !bytes.empty(); ++i) {
            v |= static_cast<std::uint64_t>(bytes.front()) << (8 * i);
            bytes = bytes.subspan(1);
        }
        return static_cast<T>(v);
    }
};

// The arrays of a binned file straight from the bytes, past the netCDF library: bins, pieces
// and points whose counts and offsets point anywhere.
binned::TBinnedLines binnedArrays(std::span<const std::uint8_t> body)
{
    TTake take{body};
    binned::TBinnedLines f;
    f.Shorelines = take.next<std::uint8_t>() & 1;
    // Mostly a tiling of the globe, so the walk gets past the first check.
    const std::uint8_t tiling = take.next<std::uint8_t>();
    f.BinMinutes = tiling & 0x80 ? take.next<std::int32_t>() : 10800;
    f.BinsAcross = tiling & 0x40 ? take.next<std::int32_t>() : 2;
    f.BinsDown = 1;
    const std::size_t bins = take.next<std::uint8_t>() % 4;
    const std::size_t pieces = take.next<std::uint8_t>() % 16;
    const std::size_t points = take.next<std::uint8_t>();
    for (std::size_t i = 0; i < bins; ++i) {
        f.FirstPiece.push_back(take.next<std::int8_t>());
        f.PiecesInBin.push_back(take.next<std::int8_t>());
    }
    for (std::size_t i = 0; i < pieces; ++i) {
        f.PointsInPiece.push_back(take.next<std::int16_t>());
        f.Level.push_back(take.next<std::uint8_t>() % 8);
        f.FirstPoint.push_back(take.next<std::int16_t>());
    }
    for (std::size_t i = 0; i < points; ++i) {
        f.Dx.push_back(take.next<std::uint16_t>());
        f.Dy.push_back(take.next<std::uint16_t>());
    }
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const std::uint8_t selector = data[0];
    const std::span<const std::uint8_t> body(data + 1, size - 1);
    Store store;
    switch (selector % 6) {
    case 0:
        store.LoadFromMemory(body, "coast.b");
        break;
    case 1:
        store.LoadFromMemory(body, "track.gpx");
        break;
    case 2:
        store.LoadFromMemory(body, "Countries.dat");
        break;
    case 4: {
        // A classic netCDF header from the bytes on: the format decision, the library's
        // parsing and our reading of whatever variables it finds.
        std::vector<std::uint8_t> nc{'C', 'D', 'F', 1};
        nc.insert(nc.end(), body.begin(), body.end());
        store.LoadFromMemory(nc, "binned_GSHHS_l.nc");
        break;
    }
    case 5:
        try { binned::AppendBinnedLines(store, binnedArrays(body)); } catch (const EReadError&) {}
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
