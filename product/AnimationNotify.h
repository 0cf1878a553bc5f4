#pragma once
// Telling the companion animation program that a new image exists. The core decides what
// to send; how it travels (D-Bus here) is the window side's business.

#include <cstdint>

// The image time as whole minutes since 2000-01-01 00:00 UTC, rounded half to even.
// `slot` is a date-time in days since 1899-12-30.
std::int32_t AnimationMinutes(double slot);

class IAnimationNotifier {
public:
    virtual ~IAnimationNotifier() = default;
    // Whether the companion is there to be told.
    virtual bool CompanionPresent() = 0;
    // Fire and forget: nothing is waited for. The channel's notification code (16 bits) and
    // the image time in AnimationMinutes.
    virtual void Post(std::uint32_t code, std::int32_t minutes) = 0;
};

// Posts the notification when the companion is present and the slot is set.
void NotifyAnimationProgram(IAnimationNotifier* notifier, int code, double slot);
