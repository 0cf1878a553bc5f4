#pragma once
// A check box whose state persists under the registry value NamedAs (or the control's object
// name). Loaded() reads it without running the click handlers; the state is written only when
// the control is destroyed.

#include <QCheckBox>

#include <memory>

#include "settings/RegistryVariables.h"

class TvrnCheckBox : public QCheckBox {
    Q_OBJECT
    Q_PROPERTY(QString NamedAs READ NamedAs WRITE SetNamedAs)
public:
    explicit TvrnCheckBox(QWidget* parent = nullptr);
    ~TvrnCheckBox() override;

    QString NamedAs() const { return namedAs_; }
    void SetNamedAs(const QString& name) { namedAs_ = name; }

    // Call once the control has its name and its default state.
    void Loaded();
    TRegistryBoolean* Setting() const { return setting_.get(); }

private:
    QString namedAs_;
    std::unique_ptr<TRegistryBoolean> setting_;
};
