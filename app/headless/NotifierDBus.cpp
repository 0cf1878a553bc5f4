#include "app/headless/NotifierDBus.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariant>

TDBusAnimationNotifier::TDBusAnimationNotifier() : connection_(QDBusConnection::sessionBus()) {}

TDBusAnimationNotifier::TDBusAnimationNotifier(const QDBusConnection& connection) : connection_(connection) {}

bool TDBusAnimationNotifier::CompanionPresent()
{
    if (!connection_.isConnected())
        return false;
    QDBusConnectionInterface* bus = connection_.interface();
    if (!bus)
        return false;
    const QDBusReply<bool> reply = bus->isServiceRegistered(kCompanionService);
    return reply.isValid() && reply.value();
}

void TDBusAnimationNotifier::Post(std::uint32_t wParam, std::int32_t lParam)
{
    if (!connection_.isConnected())
        return;
    QDBusMessage msg = QDBusMessage::createMethodCall(kCompanionService, kCompanionPath, kCompanionInterface,
                                                      kCompanionMember);
    // Never start a companion that isn't running, and never wait for an answer.
    msg.setAutoStartService(false);
    msg << QVariant::fromValue<uint>(wParam) << QVariant::fromValue<int>(lParam);
    connection_.send(msg);
}
