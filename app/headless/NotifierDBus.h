#pragma once
// The companion animation program listens on the session bus. Without a bus, or while
// the companion is not running, posting does nothing and reports nothing.

#include <QDBusConnection>
#include <QString>

#include "product/AnimationNotify.h"

inline const QString kCompanionService = QStringLiteral("org.quillon.KavelloControl");
inline const QString kCompanionPath = QStringLiteral("/org/quillon/KavelloControl");
inline const QString kCompanionInterface = QStringLiteral("org.quillon.KavelloControl");
inline const QString kCompanionMember = QStringLiteral("Dunewaymessage");

class TDBusAnimationNotifier : public IAnimationNotifier {
public:
    TDBusAnimationNotifier();
    explicit TDBusAnimationNotifier(const QDBusConnection& connection);

    bool CompanionPresent() override;
    void Post(std::uint32_t code, std::int32_t minutes) override;

private:
    QDBusConnection connection_;
};
