#pragma once
// Remembers one window's placement under FormState, FormLeft, FormTop, FormWidth, FormHeight,
// FormClientWidth and FormClientHeight. Restore() gives back the position, RestoreClientSize()
// the client size of a window that can be resized; the rest is recorded. FormLeft and FormTop
// are the client area's corner, FormWidth and FormHeight the frame's size, all of the window's
// normal (not maximised) placement.

#include <QWidget>

#include <QRect>

#include <array>
#include <memory>
#include <vector>

#include "settings/RegistryVariables.h"

// Where a window saved with the frame `saved` goes among the screens' available areas: onto
// the screen it overlaps most (the first when it overlaps none: a monitor since unplugged),
// no larger than that screen, and wholly on it.
QRect PlaceOnScreens(const QRect& saved, const std::vector<QRect>& screens);

class TRegistryFormInfo {
public:
    explicit TRegistryFormInfo(QWidget* form);
    ~TRegistryFormInfo();  // records the window's current placement and writes it
    TRegistryFormInfo(const TRegistryFormInfo&) = delete;
    TRegistryFormInfo& operator=(const TRegistryFormInfo&) = delete;

    // Onto a screen that is there now (PlaceOnScreens).
    void Restore();
    // Never below the window's minimum size (what its layout needs with today's font), never
    // beyond the screen; a window saved maximised is maximised again.
    void RestoreClientSize();
    const TRegistryInteger& Value(std::size_t i) const { return *values_[i]; }

    enum { FormState, FormLeft, FormTop, FormWidth, FormHeight, FormClientWidth, FormClientHeight };

private:
    std::array<std::int32_t, 7> Current() const;

    QWidget* form_;
    QSize room_;  // the frame's largest size on the screen Restore chose; empty before
    std::array<std::unique_ptr<TRegistryInteger>, 7> values_;
};
