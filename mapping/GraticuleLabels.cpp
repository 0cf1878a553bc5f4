#include "mapping/GraticuleLabels.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include "imaging/BMPExtImage.h"

namespace {

// 10 pixels is the smallest size at which the digits and the degree sign stay readable.
constexpr int kLabelPixelSize = 10;
// Estimates used when no fonts can be loaded (a process without a GUI application object).
constexpr int kFallbackCharWidth = 6;
constexpr int kFallbackHeight = 12;

} // namespace

TGraticuleLabels::TGraticuleLabels()
{
    fontsAvailable_ = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (!fontsAvailable_)
        return;
    font_ = QGuiApplication::font();
    font_.setPixelSize(kLabelPixelSize);
    font_.setStyleStrategy(QFont::NoAntialias);
}

int TGraticuleLabels::TextWidth(const QString& text) const
{
    if (!fontsAvailable_)
        return kFallbackCharWidth * static_cast<int>(text.size());
    return QFontMetrics(font_).horizontalAdvance(text);
}

int TGraticuleLabels::TextHeight() const
{
    if (!fontsAvailable_)
        return kFallbackHeight;
    return QFontMetrics(font_).height();
}

void TGraticuleLabels::Prepare(const QString& text)
{
    coverage_ = QImage();
    if (!fontsAvailable_ || text.isEmpty())
        return;
    const QFontMetrics fm(font_);
    const int w = fm.horizontalAdvance(text), h = fm.height();
    if (w <= 0 || h <= 0)
        return;
    coverage_ = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
    coverage_.fill(Qt::transparent);
    QPainter painter(&coverage_);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setFont(font_);
    painter.setPen(Qt::white);
    painter.drawText(0, fm.ascent(), text);
}

void TGraticuleLabels::Stamp(TCanvas& canvas, int x, int y, TColor colour) const
{
    if (coverage_.isNull())
        return;
    TExtBitmap& bmp = canvas.Bitmap();
    const int bpp = bmp.BytesPerPixel();
    const bool indexed = bmp.PixelFormat() == TPixelFormat::pf8bit;
    const std::uint8_t index = indexed ? canvas.NearestPaletteIndex(colour) : 0;
    bool touched = false;
    for (int j = 0; j < coverage_.height(); ++j) {
        const int by = y + j;
        if (by < 0 || by >= bmp.Height())
            continue;
        const auto* cov = reinterpret_cast<const QRgb*>(coverage_.constScanLine(j));
        std::uint8_t* row = bmp.ScanLine(by);
        for (int i = 0; i < coverage_.width(); ++i) {
            const int bx = x + i;
            if (bx < 0 || bx >= bmp.Width() || qAlpha(cov[i]) < 128)
                continue;
            if (indexed) {
                row[bx] = index;
            } else {
                std::uint8_t* p = row + static_cast<std::size_t>(bx) * bpp;
                p[0] = static_cast<std::uint8_t>((colour >> 16) & 0xFF);
                p[1] = static_cast<std::uint8_t>((colour >> 8) & 0xFF);
                p[2] = static_cast<std::uint8_t>(colour & 0xFF);
            }
            touched = true;
        }
    }
    if (touched)
        bmp.Changed();
}
