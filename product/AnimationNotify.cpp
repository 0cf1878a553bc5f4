#include "product/AnimationNotify.h"

#include <cmath>

namespace {
constexpr double kYear2000 = 36526.0;  // 2000-01-01 00:00 as a date-time
}

std::int32_t AnimationMinutes(double slot)
{
    return static_cast<std::int32_t>(std::nearbyint((slot - kYear2000) * 1440.0));
}

void NotifyAnimationProgram(IAnimationNotifier* notifier, int code, double slot)
{
    if (!notifier || slot == 0.0 || !notifier->CompanionPresent())
        return;
    notifier->Post(static_cast<std::uint32_t>(code) & 0xFFFFu, AnimationMinutes(slot));
}
