#include "settings/controls/vrnComboBox.h"

#include <QLineEdit>

TvrnComboBox::TvrnComboBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    connect(this, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (setting_) setting_->Value = text.toStdString();
    });
}

TvrnComboBox::~TvrnComboBox()
{
    setting_.reset();  // writes the text
}

void TvrnComboBox::Loaded()
{
    if (setting_) return;
    if (namedAs_.isEmpty()) namedAs_ = objectName();
    setting_ = std::make_unique<TRegistryString>(namedAs_.toStdString(), currentText().toStdString());
    setEditText(QString::fromStdString(setting_->Value));
}
