#include "settings/controls/vrnControlOptions.h"

bool TvrnControlOptions::Ticked(std::string_view valueName) const
{
    const QString name = QString::fromUtf8(valueName.data(), static_cast<qsizetype>(valueName.size()));
    for (const TvrnCheckBox* box : boxes_)
        if (box->NamedAs() == name) return box->isChecked();
    return false;
}

std::string TvrnControlOptions::PathText(std::string_view valueName) const
{
    const QString name = QString::fromUtf8(valueName.data(), static_cast<qsizetype>(valueName.size()));
    for (const TvrnLabeledEdit* edit : edits_)
        if (edit->NamedAs() == name) return edit->text().toStdString();
    for (const TvrnComboBox* combo : combos_)
        if (combo->NamedAs() == name) return combo->currentText().toStdString();
    return {};
}
