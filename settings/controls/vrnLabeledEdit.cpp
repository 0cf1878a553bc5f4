#include "settings/controls/vrnLabeledEdit.h"


TvrnLabeledEdit::TvrnLabeledEdit(QWidget* parent) : QLineEdit(parent), label_(new QLabel(parent))
{
    label_->setBuddy(this);
    connect(this, &QLineEdit::textChanged, this, &TvrnLabeledEdit::Change);
}

TvrnLabeledEdit::~TvrnLabeledEdit()
{
    setting_.reset();  // writes the text
    delete label_.data();
}

void TvrnLabeledEdit::Loaded()
{
    if (setting_) return;
    if (namedAs_.isEmpty()) namedAs_ = objectName();
    setting_ = std::make_unique<TRegistryString>(namedAs_.toStdString(), text().toStdString());
    setText(QString::fromStdString(setting_->Value));
    PlaceLabel();
}

void TvrnLabeledEdit::Change(const QString& text)
{
    if (setting_) setting_->Value = text.toStdString();
}

void TvrnLabeledEdit::SaveNow()
{
    if (setting_) setting_->Save();
}

void TvrnLabeledEdit::moveEvent(QMoveEvent* event)
{
    QLineEdit::moveEvent(event);
    PlaceLabel();
}

void TvrnLabeledEdit::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    PlaceLabel();
}

void TvrnLabeledEdit::PlaceLabel()
{
    if (!label_) return;
    label_->adjustSize();
    if (labelLeft_)
        label_->move(x() - label_->width() - LabelSpacing, y() + (height() - label_->height()) / 2);
    else
        label_->move(x(), y() - label_->height() - LabelSpacing);
}
