#include "app/window/LED.h"

#include <QPainter>
#include <QRadialGradient>

TLED::TLED(QWidget* parent) : QWidget(parent)
{
    setFixedSize(17, 17);
}

QColor TLED::ToQColor(std::uint32_t colour)
{
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

void TLED::SetColour(std::uint32_t colour)
{
    if (colour == colour_) return;
    colour_ = colour;
    update();
}

void TLED::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor c = ToQColor(colour_);
    QRadialGradient glow(QPointF(6.5, 6.0), 9.0);
    glow.setColorAt(0.0, c.lighter(170));
    glow.setColorAt(0.6, c);
    glow.setColorAt(1.0, c.darker(160));
    p.setBrush(glow);
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.drawEllipse(QRectF(1.0, 1.0, 15.0, 15.0));
}
