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

void TDBusAnimationNotifier::Post(std::uint32_t code, std::int32_t minutes)
{
    if (!connection_.isConnected())
        return;
    QDBusMessage msg = QDBusMessage::createMethodCall(kCompanionService, kCompanionPath, kCompanionInterface,
                                                      kCompanionMember);
    // Never start a companion that isn't running, and never wait for an answer.
    msg.setAutoStartService(false);
    // The companion takes (uint32 code, int32 minutes), in this order.
    msg << QVariant::fromValue<uint>(code) << QVariant::fromValue<int>(minutes);
    connection_.send(msg);
}
