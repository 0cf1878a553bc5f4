#pragma once
// An edit with its label above it whose text persists under the registry value NamedAs (or
// the control's object name when NamedAs is empty). The value is read by Loaded(), kept up to
// date on every change, and written by SaveNow() and when the control is destroyed.

#include <QLabel>
#include <QLineEdit>
#include <QPointer>

#include <memory>

#include "settings/RegistryVariables.h"

class TvrnLabeledEdit : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(QString NamedAs READ NamedAs WRITE SetNamedAs)
public:
    explicit TvrnLabeledEdit(QWidget* parent = nullptr);
    ~TvrnLabeledEdit() override;

    QString NamedAs() const { return namedAs_; }
    void SetNamedAs(const QString& name) { namedAs_ = name; }
    static constexpr int LabelSpacing = 3;
    QLabel* EditLabel() const { return label_; }
    // The label beside the edit, on its left, instead of above it (short numbers in a row).
    void SetLabelLeft(bool left)
    {
        labelLeft_ = left;
        PlaceLabel();
    }

    // Call once the control has its name and its default text.
    void Loaded();
    void SaveNow();
    TRegistryString* Setting() const { return setting_.get(); }

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Change(const QString& text);
    void PlaceLabel();

    QString namedAs_;
    std::unique_ptr<TRegistryString> setting_;
    QPointer<QLabel> label_;
    bool labelLeft_ = false;
};
