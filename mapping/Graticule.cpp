// The latitude/longitude grid drawer of TMapping. Every point goes through the virtual
// GeoToPixel, so a derived mapping gets the grid in its own geometry.

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "imaging/BMPExtImage.h"
#include "mapping/GraticuleLabels.h"
#include "mapping/Mapping.h"

namespace {

const QChar kDegree(0x00B0);

QString MeridianText(int lon)
{
    if (lon == 0)
        return QStringLiteral("0") + kDegree;
    if (lon == 180 || lon == -180)
        return QStringLiteral("180") + kDegree;
    return QString::number(std::abs(lon)) + kDegree + (lon < 0 ? QStringLiteral("W") : QStringLiteral("E"));
}

QString ParallelText(int lat)
{
    if (lat == 0)
        return QStringLiteral("0") + kDegree;
    return QString::number(std::abs(lat)) + kDegree + (lat < 0 ? QStringLiteral("S") : QStringLiteral("N"));
}

// The tropics, polar circles and equator, by bit of SpecialLines.
constexpr float kSpecialLatitudes[5] = {66.56082916259766f, 23.439170837402344f, 0.0f,
                                        -23.439170837402344f, -66.56082916259766f};

// Whole degrees from a map setting; far-off settings are held to a few turns so that the
// ranges stay short.
int TruncDegrees(long double v) { return static_cast<int>(std::trunc(std::clamp(v, -1000.0L, 1000.0L))); }
int RoundDegrees(long double v) { return static_cast<int>(std::nearbyint(std::clamp(v, -1000.0L, 1000.0L))); }

} // namespace

void TMapping::DrawGraticule(TExtBitmap* Bitmap, int LonStep, int LatStep, TColor LabelColour,
                             TColor LineColour, int OffsetX, int OffsetY, bool NoLabels,
                             std::uint8_t SpecialLines, TColor HaloColour)
{
    if (Bitmap == nullptr || Projection == 0)
        return;
    DrawGraticuleOnCanvas(&Bitmap->Canvas(), LonStep, LatStep, LabelColour, LineColour, OffsetX,
                          OffsetY, NoLabels, SpecialLines, HaloColour);
    Bitmap->Changed();
}

void TMapping::DrawGraticuleOnCanvas(TCanvas* Canvas, int LonStep, int LatStep, TColor LabelColour,
                                     TColor LineColour, int OffsetX, int OffsetY, bool NoLabels,
                                     std::uint8_t SpecialLines, TColor HaloColour)
{
    // A negative step has no lines to draw: nothing at all is drawn, not even the dotted ones.
    if (Canvas == nullptr || LonStep <= 0 || LatStep <= 0)
        return;
    TCanvas& canvas = *Canvas;
    TGraticuleLabels labels;
    canvas.Pen.Color = LineColour;

    const int kind = Projection;
    // The picture's size through the virtual operations, so that a derived mapping whose size
    // comes from elsewhere (a segment row) clips and places labels by its real picture.
    const int lines = ImageHeight(), columns = ImageWidth();
    const int textHeight = labels.TextHeight();
    const bool straight = kind == 1 || kind == 2 || kind == 5 || kind == 6;

    // 1. Bounds and steps.
    int W = -179, E = 179, S = -89, N = 89;
    std::vector<std::pair<int, int>> meridianRanges;
    if (kind == 3) {
        LonStep = 30;
        LatStep = 15;
    } else if (kind == 4 && LatitudeSpan == 0) {
        LonStep = LatStep = 30;
    }
    if (kind == 6) {
        if (LonStep == 15)
            LonStep = 5;
        if (LatStep == 15)
            LatStep = 5;
    }
    if (kind == 2 || kind == 6) {
        const long double cl = CentralLongitude, ls = LongitudeSpan;
        const long double rl = ReferenceLatitude, las = LatitudeSpan;
        W = TruncDegrees(cl - ls / 2) - 1;
        E = RoundDegrees(cl + ls / 2) + 1;
        S = TruncDegrees(rl - las / 2) - 1;
        N = RoundDegrees(rl + las / 2) + 1;
    } else if (kind == 14) {
        W = -179;
        E = 179;
        S = 0;
        N = 89;
    } else if (kind == 12) {
        const int c = RoundDegrees(CentralLongitude);
        W = c - 179;
        E = c + 179;
    }
    if (kind == 2 || kind == 6 || kind == 14) {
        // A window across the date line is drawn as two ranges, one on each side.
        if (W < -179) {
            meridianRanges.emplace_back(std::max(W + 360, -180), 180);
            W = -179;
        }
        if (E >= 180) {
            meridianRanges.emplace_back(-180, std::min(E - 360, 180));
            E = 179;
        }
        S = std::max(S, -89);
        N = std::min(N, 89);
    }
    meridianRanges.insert(meridianRanges.begin(), {W, E});

    const auto pixel = [this](float lon, float lat, int& x, int& y) {
        x = y = 0;
        return GeoToPixel(x, y, lon, lat);
    };

    // Walks a line point by point; points that are not shown cut it into separate runs.
    const int xMax = std::max(-100, DrawingWidth() + 100);
    const int yMax = std::max(-100, DrawingHeight() + std::abs(OriginY()) + 100);
    std::vector<TPoint> run;
    const auto flush = [&]() {
        if (run.size() >= 2)
            canvas.Polyline(run);
        run.clear();
    };
    const auto walk = [&](auto&& geoAt, int from, int to) {
        run.clear();
        for (int v = from; v >= to; --v) {
            const auto [lon, lat] = geoAt(v);
            int x, y;
            if (pixel(lon, lat, x, y)) {
                x = std::clamp(x, -100, xMax);
                y = std::clamp(y, -100, yMax);
                run.push_back({x + OffsetX, y + OffsetY});
            } else {
                flush();
            }
        }
        flush();
    };
    const auto straightLine = [&](TPoint a, TPoint b) {
        const TPoint pts[2] = {a, b};
        canvas.Polyline(pts);
    };

    // 6. Label placement: centred on its anchor, dropped when it would leave the picture.
    const auto place = [&](const QString& text, int x, int y) {
        const int w = labels.TextWidth(text);
        if (!(columns >= x + w))
            return;
        x -= w / 2;
        if (x < 0)
            return;
        y -= textHeight / 2;
        labels.Prepare(text);
        for (const auto& [dx, dy] : {std::pair{-1, -1}, std::pair{1, -1}, std::pair{-1, 1}, std::pair{1, 1}})
            labels.Stamp(canvas, x + dx + OffsetX, y + dy + OffsetY, HaloColour);
        labels.Stamp(canvas, x + OffsetX, y + OffsetY, LabelColour);
    };

    // 3. Meridians.
    for (const auto& [w0, e0] : meridianRanges) {
        for (int k = w0 / LonStep; k <= e0 / LonStep; ++k) {
            int lon = k * LonStep;
            while (lon > 180)
                lon -= 360;
            while (lon < -180)
                lon += 360;
            const float flon = static_cast<float>(lon);
            if (straight) {
                int xs, ys, xn, yn;
                pixel(flon, static_cast<float>(S), xs, ys);
                pixel(flon, static_cast<float>(N), xn, yn);
                straightLine({xs + OffsetX, lines + OffsetY - textHeight}, {xn + OffsetX, yn + OffsetY});
            } else {
                walk([&](int lat) { return std::pair{flon, static_cast<float>(lat)}; }, N, S);
            }
            if (NoLabels)
                continue;
            const QString text = MeridianText(lon);
            int x, y;
            if (kind <= 2 || kind == 5 || kind == 6 || kind >= 15) {
                if (pixel(flon, 0.0f, x, y) || straight)
                    place(text, x, lines - textHeight * 3 / 4);
            } else if (kind == 9) {
                if (pixel(flon, ReferenceLatitude, x, y))
                    place(text, x, y);
            } else if (kind == 10) {
                // The first point of the meridian well clear of the bottom edge.
                const int from = Southern ? -89 : 1, to = Southern ? -1 : 86;
                for (int lat = from; lat <= to; ++lat) {
                    if (pixel(flon, static_cast<float>(lat), x, y) && y < lines - textHeight) {
                        place(text, x, lines - textHeight * 3 / 4);
                        break;
                    }
                }
            } else if (kind == 12) {
                if (pixel(flon, -3.0f, x, y))
                    place(text, x, y);
            } else {
                const float at = std::fabs(ReferenceLatitude) >= 10 ? ReferenceLatitude : 0.0f;
                if (pixel(flon, at, x, y))
                    place(text, x, y);
            }
        }
    }

    // 4. Parallels.
    for (int k = S / LatStep; k <= N / LatStep; ++k) {
        const int lat = k * LatStep;
        const float flat = static_cast<float>(lat);
        const QString text = ParallelText(lat);
        const int w = labels.TextWidth(text);
        int xw = 0, yw = 0;
        if (straight) {
            pixel(static_cast<float>(W), flat, xw, yw);
            straightLine({w + OffsetX + 4, yw + OffsetY}, {columns + OffsetX - 2, yw + OffsetY});
        } else {
            walk([&](int lon) { return std::pair{static_cast<float>(lon), flat}; }, E, W);
        }
        if (NoLabels || kind == 0 || kind == 12 || kind >= 14)
            continue;
        int x, y;
        if (straight) {
            place(text, w / 2 + 2, yw);
        } else if (kind == 10) {
            for (int lon = -179; lon <= 177; ++lon) {
                if (pixel(static_cast<float>(lon), flat, x, y) && x > 0 && x < 2 * w && y >= 10 &&
                    y <= ImageHeight()) {
                    place(text, w / 2 + 2, y);
                    break;
                }
            }
        } else {
            // Halfway between the meridian nearest the centre and the next one west: on the
            // meridian itself the label of the parallel that carries the meridian labels
            // would cover that meridian's label.
            const long double nearest =
                std::nearbyint(static_cast<long double>(CentralLongitude) / LonStep) * LonStep;
            const float labelLon = static_cast<float>(nearest - LonStep / 2.0L);
            if (pixel(labelLon, flat, x, y))
                place(text, x - w * 4 / 5, y);
        }
    }

    // 5. Tropics, polar circles and equator, dotted.
    const TPenStyle savedStyle = canvas.Pen.Style;
    canvas.Pen.Style = TPenStyle::psDot;
    for (int bit = 0; bit < 5; ++bit) {
        if ((SpecialLines & (1u << bit)) == 0)
            continue;
        const float lat = kSpecialLatitudes[bit];
        if (straight) {
            int x, y;
            pixel(static_cast<float>(W), lat, x, y);
            straightLine({OffsetX, y + OffsetY}, {columns + OffsetX - 2, y + OffsetY});
        } else {
            walk([&](int lon) { return std::pair{static_cast<float>(lon), lat}; }, 179, -179);
        }
    }
    canvas.Pen.Style = savedStyle;
}
