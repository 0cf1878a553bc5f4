#pragma once
// An editable list of choices whose text persists under the registry value NamedAs (or the
// control's object name), like the labeled edit: read by Loaded(), kept up to date on every
// change, written when the control is destroyed. The choices only help: any text typed stays.

#include <QComboBox>

#include <memory>

#include "settings/RegistryVariables.h"

class TvrnComboBox : public QComboBox {
    Q_OBJECT
    Q_PROPERTY(QString NamedAs READ NamedAs WRITE SetNamedAs)
public:
    explicit TvrnComboBox(QWidget* parent = nullptr);
    ~TvrnComboBox() override;

    QString NamedAs() const { return namedAs_; }
    void SetNamedAs(const QString& name) { namedAs_ = name; }
    // Call once the control has its name, its choices and its default text.
    void Loaded();
    TRegistryString* Setting() const { return setting_.get(); }

private:
    QString namedAs_;
    std::unique_ptr<TRegistryString> setting_;
};
