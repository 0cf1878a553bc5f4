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

// The grid's extent in whole degrees and its steps, after the projection's own rules.
struct TGraticuleExtent {
    int LonStep = 0, LatStep = 0;
    int W = -179, E = 179, S = -89, N = 89;
    // The meridians' longitude ranges: the window itself first, then the part that crosses
    // the date line, if any.
    std::vector<std::pair<int, int>> MeridianRanges;
};

// Some projections keep steps of their own, whatever the caller asked for.
void ApplyProjectionSteps(const TMapping& m, int& LonStep, int& LatStep)
{
    const int kind = m.Projection;
    if (kind == 3) {
        LonStep = 30;
        LatStep = 15;
    } else if (kind == 4 && m.LatitudeSpan == 0) {
        LonStep = LatStep = 30;
    }
    if (kind == 6) {
        if (LonStep == 15)
            LonStep = 5;
        if (LatStep == 15)
            LatStep = 5;
    }
}

TGraticuleExtent GraticuleExtent(const TMapping& m, int LonStep, int LatStep)
{
    const int kind = m.Projection;
    TGraticuleExtent x;
    x.LonStep = LonStep;
    x.LatStep = LatStep;
    ApplyProjectionSteps(m, x.LonStep, x.LatStep);
    int& W = x.W;
    int& E = x.E;
    int& S = x.S;
    int& N = x.N;
    if (kind == 2 || kind == 6) {
        const long double cl = m.CentralLongitude, ls = m.LongitudeSpan;
        const long double rl = m.ReferenceLatitude, las = m.LatitudeSpan;
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
        const int c = RoundDegrees(m.CentralLongitude);
        W = c - 179;
        E = c + 179;
    }
    if (kind == 2 || kind == 6 || kind == 14) {
        // A window across the date line is drawn as two ranges, one on each side.
        if (W < -179) {
            x.MeridianRanges.emplace_back(std::max(W + 360, -180), 180);
            W = -179;
        }
        if (E >= 180) {
            x.MeridianRanges.emplace_back(-180, std::min(E - 360, 180));
            E = 179;
        }
        S = std::max(S, -89);
        N = std::min(N, 89);
    }
    x.MeridianRanges.insert(x.MeridianRanges.begin(), {W, E});
    return x;
}

// Draws the grid's lines and labels on one canvas through a mapping's virtual transform.
class TGraticulePainter {
public:
    TGraticulePainter(const TMapping& m, TCanvas& canvas, int offsetX, int offsetY, TColor labelColour,
                      TColor haloColour)
        : m_(m), canvas_(canvas), offsetX_(offsetX), offsetY_(offsetY), labelColour_(labelColour),
          haloColour_(haloColour),
          // The picture's size through the virtual operations, so that a derived mapping whose
          // size comes from elsewhere (a segment row) clips and places labels by its real picture.
          lines_(m.ImageHeight()), columns_(m.ImageWidth()), textHeight_(labels_.TextHeight()),
          straight_(m.Projection == 1 || m.Projection == 2 || m.Projection == 5 || m.Projection == 6),
          xMax_(std::max(-100, m.DrawingWidth() + 100)),
          yMax_(std::max(-100, m.DrawingHeight() + std::abs(m.OriginY()) + 100))
    {
    }

    void Meridians(const TGraticuleExtent& x, bool noLabels);
    void Parallels(const TGraticuleExtent& x, bool noLabels);
    void SpecialLines(const TGraticuleExtent& x, std::uint8_t specialLines);

private:
    bool Pixel(float lon, float lat, int& x, int& y) const
    {
        x = y = 0;
        return m_.GeoToPixel(x, y, lon, lat);
    }
    void Flush()
    {
        if (run_.size() >= 2)
            canvas_.Polyline(run_);
        run_.clear();
    }
    // Walks a line point by point; points that are not shown cut it into separate runs.
    template <class GeoAt>
    void Walk(GeoAt&& geoAt, int from, int to)
    {
        run_.clear();
        for (int v = from; v >= to; --v) {
            const auto [lon, lat] = geoAt(v);
            int x, y;
            if (Pixel(lon, lat, x, y)) {
                x = std::clamp(x, -100, xMax_);
                y = std::clamp(y, -100, yMax_);
                run_.push_back({x + offsetX_, y + offsetY_});
            } else {
                Flush();
            }
        }
        Flush();
    }
    void StraightLine(TPoint a, TPoint b)
    {
        const TPoint pts[2] = {a, b};
        canvas_.Polyline(pts);
    }
    // Centred on its anchor, dropped when it would leave the picture.
    void Place(const QString& text, int x, int y);

    const TMapping& m_;
    TCanvas& canvas_;
    TGraticuleLabels labels_;
    const int offsetX_, offsetY_;
    const TColor labelColour_, haloColour_;
    const int lines_, columns_, textHeight_;
    const bool straight_;
    const int xMax_, yMax_;
    std::vector<TPoint> run_;
};

void TGraticulePainter::Place(const QString& text, int x, int y)
{
    const int w = labels_.TextWidth(text);
    if (!(columns_ >= x + w))
        return;
    x -= w / 2;
    if (x < 0)
        return;
    y -= textHeight_ / 2;
    labels_.Prepare(text);
    for (const auto& [dx, dy] : {std::pair{-1, -1}, std::pair{1, -1}, std::pair{-1, 1}, std::pair{1, 1}})
        labels_.Stamp(canvas_, x + dx + offsetX_, y + dy + offsetY_, haloColour_);
    labels_.Stamp(canvas_, x + offsetX_, y + offsetY_, labelColour_);
}

void TGraticulePainter::Meridians(const TGraticuleExtent& g, bool noLabels)
{
    const int kind = m_.Projection;
    for (const auto& [w0, e0] : g.MeridianRanges) {
        for (int k = w0 / g.LonStep; k <= e0 / g.LonStep; ++k) {
            int lon = k * g.LonStep;
            while (lon > 180)
                lon -= 360;
            while (lon < -180)
                lon += 360;
            const float flon = static_cast<float>(lon);
            if (straight_) {
                int xs, ys, xn, yn;
                Pixel(flon, static_cast<float>(g.S), xs, ys);
                Pixel(flon, static_cast<float>(g.N), xn, yn);
                StraightLine({xs + offsetX_, lines_ + offsetY_ - textHeight_}, {xn + offsetX_, yn + offsetY_});
            } else {
                Walk([&](int lat) { return std::pair{flon, static_cast<float>(lat)}; }, g.N, g.S);
            }
            if (noLabels)
                continue;
            const QString text = MeridianText(lon);
            int x, y;
            if (kind <= 2 || kind == 5 || kind == 6 || kind >= 15) {
                if (Pixel(flon, 0.0f, x, y) || straight_)
                    Place(text, x, lines_ - textHeight_ * 3 / 4);
            } else if (kind == 9) {
                if (Pixel(flon, m_.ReferenceLatitude, x, y))
                    Place(text, x, y);
            } else if (kind == 10) {
                // The first point of the meridian well clear of the bottom edge.
                const int from = m_.Southern ? -89 : 1, to = m_.Southern ? -1 : 86;
                for (int lat = from; lat <= to; ++lat) {
                    if (Pixel(flon, static_cast<float>(lat), x, y) && y < lines_ - textHeight_) {
                        Place(text, x, lines_ - textHeight_ * 3 / 4);
                        break;
                    }
                }
            } else if (kind == 12) {
                if (Pixel(flon, -3.0f, x, y))
                    Place(text, x, y);
            } else {
                const float at = std::fabs(m_.ReferenceLatitude) >= 10 ? m_.ReferenceLatitude : 0.0f;
                if (Pixel(flon, at, x, y))
                    Place(text, x, y);
            }
        }
    }
}

void TGraticulePainter::Parallels(const TGraticuleExtent& g, bool noLabels)
{
    const int kind = m_.Projection;
    for (int k = g.S / g.LatStep; k <= g.N / g.LatStep; ++k) {
        const int lat = k * g.LatStep;
        const float flat = static_cast<float>(lat);
        const QString text = ParallelText(lat);
        const int w = labels_.TextWidth(text);
        int xw = 0, yw = 0;
        if (straight_) {
            Pixel(static_cast<float>(g.W), flat, xw, yw);
            StraightLine({w + offsetX_ + 4, yw + offsetY_}, {columns_ + offsetX_ - 2, yw + offsetY_});
        } else {
            Walk([&](int lon) { return std::pair{static_cast<float>(lon), flat}; }, g.E, g.W);
        }
        if (noLabels || kind == 0 || kind == 12 || kind >= 14)
            continue;
        int x, y;
        if (straight_) {
            Place(text, w / 2 + 2, yw);
        } else if (kind == 10) {
            for (int lon = -179; lon <= 177; ++lon) {
                if (Pixel(static_cast<float>(lon), flat, x, y) && x > 0 && x < 2 * w && y >= 10 &&
                    y <= m_.ImageHeight()) {
                    Place(text, w / 2 + 2, y);
                    break;
                }
            }
        } else {
            // Halfway between the meridian nearest the centre and the next one west: on the
            // meridian itself the label of the parallel that carries the meridian labels
            // would cover that meridian's label.
            const long double nearest =
                std::nearbyint(static_cast<long double>(m_.CentralLongitude) / g.LonStep) * g.LonStep;
            const float labelLon = static_cast<float>(nearest - g.LonStep / 2.0L);
            if (Pixel(labelLon, flat, x, y))
                Place(text, x - w * 4 / 5, y);
        }
    }
}

// The tropics, polar circles and equator, dotted.
void TGraticulePainter::SpecialLines(const TGraticuleExtent& g, std::uint8_t specialLines)
{
    const TPenStyle savedStyle = canvas_.Pen.Style;
    canvas_.Pen.Style = TPenStyle::psDot;
    for (int bit = 0; bit < 5; ++bit) {
        if ((specialLines & (1u << bit)) == 0)
            continue;
        const float lat = kSpecialLatitudes[bit];
        if (straight_) {
            int x, y;
            Pixel(static_cast<float>(g.W), lat, x, y);
            StraightLine({offsetX_, y + offsetY_}, {columns_ + offsetX_ - 2, y + offsetY_});
        } else {
            Walk([&](int lon) { return std::pair{static_cast<float>(lon), lat}; }, 179, -179);
        }
    }
    canvas_.Pen.Style = savedStyle;
}

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
    TGraticulePainter painter(*this, *Canvas, OffsetX, OffsetY, LabelColour, HaloColour);
    Canvas->Pen.Color = LineColour;
    const TGraticuleExtent extent = GraticuleExtent(*this, LonStep, LatStep);
    painter.Meridians(extent, NoLabels);
    painter.Parallels(extent, NoLabels);
    painter.SpecialLines(extent, SpecialLines);
}
