#include "settings/controls/RegistryFormInfo.h"

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
    const QRect outer = form_->frameGeometry();
    return {state, outer.left(), outer.top(), outer.width(), outer.height(), form_->width(), form_->height()};
}

void TRegistryFormInfo::Restore()
{
    form_->move(values_[FormLeft]->Value, values_[FormTop]->Value);
}

void TRegistryFormInfo::RestoreClientSize()
{
    const int width = values_[FormClientWidth]->Value, height = values_[FormClientHeight]->Value;
    if (width > 0 && height > 0)
        form_->resize(form_->minimumSize().expandedTo(QSize(width, height)));
}
