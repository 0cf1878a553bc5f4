#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>

#include <memory>
#include <vector>

#include "product/AnimationNotify.h"
#include "app/headless/NotifierDBus.h"

// A stand-in for the companion animation program: records what it is sent.
class FakeCompanion : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quillon.KavelloControl")
public:
    std::vector<std::pair<uint, int>> received;
public slots:
    void Dunewaymessage(uint wParam, int lParam) { received.emplace_back(wParam, lParam); }
};

namespace {

QCoreApplication* EnsureApp()
{
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
    return QCoreApplication::instance();
}

// A private session bus, so the test never talks to a real desktop's bus.
class PrivateBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApp();
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            GTEST_SKIP() << "dbus-daemon not installed";
        daemon_ = std::make_unique<QProcess>();
        daemon_->start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        ASSERT_TRUE(daemon_->waitForStarted(5000));
        ASSERT_TRUE(daemon_->waitForReadyRead(5000));
        address_ = QString::fromUtf8(daemon_->readLine()).trimmed();
        ASSERT_FALSE(address_.isEmpty());
    }
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus("companion");
        QDBusConnection::disconnectFromBus("station");
        if (daemon_) {
            daemon_->terminate();
            daemon_->waitForFinished(3000);
        }
    }

    QString address_;
    std::unique_ptr<QProcess> daemon_;
};

TEST_F(PrivateBus, CompanionReceivesCodeAndMinutesSince2000)
{
    FakeCompanion companion;
    QDBusConnection companionBus = QDBusConnection::connectToBus(address_, "companion");
    ASSERT_TRUE(companionBus.isConnected());
    ASSERT_TRUE(companionBus.registerObject(kCompanionPath, &companion, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(companionBus.registerService(kCompanionService));

    TDBusAnimationNotifier notifier(QDBusConnection::connectToBus(address_, "station"));
    ASSERT_TRUE(notifier.CompanionPresent());
    // 2013-05-30 12:00 as a date-time.
    NotifyAnimationProgram(&notifier, 18, 41424.5);

    QDeadlineTimer deadline(5000);
    while (companion.received.empty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_EQ(companion.received.size(), 1u);
    EXPECT_EQ(companion.received[0].first, 18u);
    EXPECT_EQ(companion.received[0].second, 7053840);
}

TEST_F(PrivateBus, NothingHappensWithoutTheCompanion)
{
    TDBusAnimationNotifier notifier(QDBusConnection::connectToBus(address_, "station"));
    EXPECT_FALSE(notifier.CompanionPresent());
    NotifyAnimationProgram(&notifier, 19, 41424.5);  // must neither block nor throw
}

TEST(NotifierWithoutBus, IsSilent)
{
    EnsureApp();
    TDBusAnimationNotifier notifier(QDBusConnection::connectToBus(QString("unix:path=/nonexistent/bus"), "nobus"));
    EXPECT_FALSE(notifier.CompanionPresent());
    notifier.Post(18, 1);
    QDBusConnection::disconnectFromBus("nobus");
}

struct MinutesCase {
    double slot;
    std::int32_t minutes;
};
class AnimationMinutesTest : public ::testing::TestWithParam<MinutesCase> {};
TEST_P(AnimationMinutesTest, RoundsToWholeMinutes)
{
    EXPECT_EQ(AnimationMinutes(GetParam().slot), GetParam().minutes);
}
INSTANTIATE_TEST_SUITE_P(Slots, AnimationMinutesTest,
                         ::testing::Values(MinutesCase{36526.0 + 30.0 / 1440.0, 30}, MinutesCase{41424.5, 7053840},
                                           MinutesCase{36526.0, 0}, MinutesCase{36525.5, -720}));

class RecordingNotifier : public IAnimationNotifier {
public:
    bool present = true;
    int posts = 0;
    bool CompanionPresent() override { return present; }
    void Post(std::uint32_t, std::int32_t) override { ++posts; }
};

TEST(NotifyAnimationProgram, SkipsAZeroSlotAndAnAbsentCompanion)
{
    RecordingNotifier n;
    NotifyAnimationProgram(&n, 18, 0.0);
    EXPECT_EQ(n.posts, 0);
    n.present = false;
    NotifyAnimationProgram(&n, 18, 41424.5);
    EXPECT_EQ(n.posts, 0);
    n.present = true;
    NotifyAnimationProgram(&n, 18, 41424.5);
    EXPECT_EQ(n.posts, 1);
}

}  // namespace

#include "NotifierDBusTest.moc"
