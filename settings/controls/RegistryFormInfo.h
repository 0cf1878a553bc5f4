#pragma once
// Remembers one window's placement under FormState, FormLeft, FormTop, FormWidth, FormHeight,
// FormClientWidth and FormClientHeight. Restore() gives back the position, RestoreClientSize()
// the client size of a window that can be resized; the rest is recorded.

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
    // Never below the window's minimum size (what its layout needs with today's font).
    void RestoreClientSize();
    const TRegistryInteger& Value(std::size_t i) const { return *values_[i]; }

    enum { FormState, FormLeft, FormTop, FormWidth, FormHeight, FormClientWidth, FormClientHeight };

private:
    std::array<std::int32_t, 7> Current() const;

    QWidget* form_;
    std::array<std::unique_ptr<TRegistryInteger>, 7> values_;
};
