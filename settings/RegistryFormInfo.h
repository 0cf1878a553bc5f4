#pragma once
// Remembers one window's placement under FormState, FormLeft, FormTop, FormWidth, FormHeight,
// FormClientWidth and FormClientHeight. Only the position is restored; the rest is recorded.

#include <QWidget>

#include <array>
#include <memory>

#include "settings/RegistryVariables.h"

class TRegistryFormInfo {
public:
    explicit TRegistryFormInfo(QWidget* form);
    ~TRegistryFormInfo();  // records the window's current placement and writes it
    TRegistryFormInfo(const TRegistryFormInfo&) = delete;
    TRegistryFormInfo& operator=(const TRegistryFormInfo&) = delete;

    void Restore();
    const TRegistryInteger& Value(std::size_t i) const { return *values_[i]; }

    enum { FormState, FormLeft, FormTop, FormWidth, FormHeight, FormClientWidth, FormClientHeight };

private:
    std::array<std::int32_t, 7> Current() const;

    QWidget* form_;
    std::array<std::unique_ptr<TRegistryInteger>, 7> values_;
};
