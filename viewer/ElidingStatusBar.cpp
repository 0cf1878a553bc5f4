#include "viewer/ElidingStatusBar.h"

#include <QPainter>

#include <algorithm>

TElidingStatusBar::TElidingStatusBar(QWidget* parent) : QStatusBar(parent)
{
    connect(this, &QStatusBar::messageChanged, this, [this](const QString& text) { setToolTip(text); });
}

void TElidingStatusBar::paintEvent(QPaintEvent* event)
{
    const QString message = currentMessage();
    if (message.isEmpty()) {
        QStatusBar::paintEvent(event);
        return;
    }
    // The permanent widgets sit at the right; the message ends before the first of them.
    int right = width();
    for (const QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isVisible() && w->width() > 0 && w->x() > 0) right = std::min(right, w->x());
    const QRect room(6, 0, std::max(right - 12, 0), height());
    QPainter p(this);
    p.setPen(palette().windowText().color());
    p.drawText(room, Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine,
               fontMetrics().elidedText(message, Qt::ElideRight, room.width()));
}
