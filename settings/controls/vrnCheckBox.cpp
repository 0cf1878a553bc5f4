#include "settings/controls/vrnCheckBox.h"

#include <QSignalBlocker>

TvrnCheckBox::TvrnCheckBox(QWidget* parent) : QCheckBox(parent) {}

TvrnCheckBox::~TvrnCheckBox()
{
    if (setting_) {
        setting_->Value = isChecked();
        setting_.reset();  // writes it
    }
}

void TvrnCheckBox::Loaded()
{
    if (setting_) return;
    if (namedAs_.isEmpty()) namedAs_ = objectName();
    setting_ = std::make_unique<TRegistryBoolean>(namedAs_.toStdString(), isChecked());
    const QSignalBlocker quiet(this);
    setChecked(setting_->Value);
}
