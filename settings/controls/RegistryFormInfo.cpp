#include "settings/controls/RegistryFormInfo.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace {
constexpr const char* kNames[7] = {"FormState", "FormLeft", "FormTop", "FormWidth",
                                   "FormHeight", "FormClientWidth", "FormClientHeight"};
}

TRegistryFormInfo::TRegistryFormInfo(QWidget* form) : form_(form)
{
    const auto now = Current();
    for (std::size_t i = 0; i < values_.size(); ++i)
        values_[i] = std::make_unique<TRegistryInteger>(kNames[i], now[i]);
}

TRegistryFormInfo::~TRegistryFormInfo()
{
    const auto now = Current();
    for (std::size_t i = 0; i < values_.size(); ++i) {
        values_[i]->Value = now[i];
        values_[i].reset();
    }
}

std::array<std::int32_t, 7> TRegistryFormInfo::Current() const
{
    const Qt::WindowStates s = form_->windowState();
    const std::int32_t state = (s & Qt::WindowMinimized) ? 1 : (s & Qt::WindowMaximized) ? 2 : 0;
    // The size and place to come back to is the normal one, also when closed maximised or
    // minimised: un-maximising after a restart gives the size the operator had chosen.
    const QRect client = state != 0 && form_->normalGeometry().isValid() ? form_->normalGeometry() : form_->geometry();
    // The client area's corner: the frame's is known only once the window manager has told it,
    // which it may not have done yet when the window closes soon after it opened.
    const QSize margins = form_->frameGeometry().size() - form_->size();
    return {state,
            client.left(),
            client.top(),
            client.width() + margins.width(),
            client.height() + margins.height(),
            client.width(),
            client.height()};
}

QRect PlaceOnScreens(const QRect& saved, const std::vector<QRect>& screens)
{
    if (screens.empty())
        return saved;
    const QRect* best = &screens.front();
    long long bestArea = 0;
    for (const QRect& screen : screens) {
        const QRect common = screen.intersected(saved);
        const long long area = common.isEmpty() ? 0 : static_cast<long long>(common.width()) * common.height();
        if (area > bestArea) {
            bestArea = area;
            best = &screen;
        }
    }
    QRect placed(saved.topLeft(), saved.size().boundedTo(best->size()));
    placed.moveLeft(std::clamp(placed.left(), best->left(), best->right() + 1 - placed.width()));
    placed.moveTop(std::clamp(placed.top(), best->top(), best->bottom() + 1 - placed.height()));
    return placed;
}

void TRegistryFormInfo::Restore()
{
    // FormLeft and FormTop are the client area's corner; the frame round it, as it was saved,
    // is what must fit on a screen.
    const int border = std::max(values_[FormWidth]->Value - values_[FormClientWidth]->Value, 0) / 2;
    const int title = std::max(values_[FormHeight]->Value - values_[FormClientHeight]->Value - border, 0);
    const bool framed = values_[FormClientWidth]->Value > 0 && values_[FormClientHeight]->Value > 0;
    const QPoint offset = framed ? QPoint(border, title) : QPoint();
    QRect saved(QPoint(values_[FormLeft]->Value, values_[FormTop]->Value) - offset,
                QSize(values_[FormWidth]->Value, values_[FormHeight]->Value));
    if (saved.width() <= 0 || saved.height() <= 0)
        saved.setSize(form_->frameGeometry().size());
    std::vector<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens.push_back(screen->availableGeometry());
    const QRect placed = PlaceOnScreens(saved, screens);
    room_ = screens.empty() ? QSize() : placed.size();
    // Placed by the client area, which a window manager that has not told its frame yet cannot
    // take for the frame's corner: the window would climb by its title bar at every start.
    const QPoint client = placed.topLeft() + offset;
    // Nothing saved yet (a first start) leaves the window where the window manager puts it.
    if (client != form_->geometry().topLeft()) form_->setGeometry(QRect(client, form_->size()));
}

void TRegistryFormInfo::RestoreClientSize()
{
    int width = values_[FormClientWidth]->Value, height = values_[FormClientHeight]->Value;
    if (width > 0 && height > 0) {
        if (room_.isValid()) {
            // The frame's share as it was saved: the title bar and borders of the window manager.
            width = std::min(width, room_.width() - std::max(values_[FormWidth]->Value - width, 0));
            height = std::min(height, room_.height() - std::max(values_[FormHeight]->Value - height, 0));
        }
        form_->resize(form_->minimumSize().expandedTo(QSize(width, height)));
    }
    if (values_[FormState]->Value == 2)
        form_->setWindowState(form_->windowState() | Qt::WindowMaximized);
}
