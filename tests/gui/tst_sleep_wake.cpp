// Sleep and wake as the application follows them: a fake logind on a private system bus (a
// real dbus-daemon) announces PrepareForSleep, and the application closes and reopens its
// connection to the real broker, announces the device to the real quillet-sync-server again
// and schedules the version check, whose reply puts the update hint into the status menu.
// A sign-in the service ended is noticed at the next announcement.
#include "RequestOutcome.h"
#include "ServerHarness.h"
#include "SessionBus.h"
#include "SyncClient.h"
#include "TestDirs.h"
#include "app/AppDelegate.h"
#include "menu/ClipFixtures.h"
#include "menu/MenuController.h"
#include "menu/StatusBarController.h"
#include "store/ClipUserDefaults.h"
#include "store/DBKeeper.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "sync/MqttManager.h"
#include "sync/SyncIdentity.h"

#include <QDBusConnection>
#include <QMenu>
#include <QtTest>

using namespace Qt::StringLiterals;

// logind's manager object, as far as sleep goes.
class FakeLogind final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

Q_SIGNALS:
    void PrepareForSleep(bool start);
};

namespace {

bool connected(AppDelegate &app)
{
    return app.sync().notices().isConnected();
}

} // namespace

class TestSleepWake final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    ServerHarness m_server;
    SessionBus m_bus;
    FakeLogind m_logind;
    const QString m_newer = Utils::appVersion() + u".1"_s;

private slots:
    void initTestCase()
    {
        // The system bus of this process is a private dbus-daemon, set before its first use.
        QVERIFY2(m_bus.start(), "dbus-daemon cannot be started (scripts/install-deps.sh)");
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.address().toUtf8());
        QDBusConnection logind = QDBusConnection::connectToBus(m_bus.address(), u"logind"_s);
        QVERIFY(logind.registerService(u"org.freedesktop.login1"_s));
        QVERIFY(logind.registerObject(u"/org/freedesktop/login1"_s, &m_logind,
                                      QDBusConnection::ExportAllSignals));

        ServerHarness::Options options;
        options.config = {{u"homepage"_s, u"http://127.0.0.1:1/woken/"_s}, {u"version"_s, m_newer}};
        QVERIFY(m_server.start(options));
        qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8());
        qputenv("QUILLET_MQTT_HOST", "127.0.0.1");
        qputenv("QUILLET_MQTT_PORT", QByteArray::number(m_server.mqttPort()));

        QCOMPARE(registerAccount(u"sleeper@example.org"_s, u"pw"_s).code(), 0);
        QVERIFY(testAccount().isSignedIn());
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(u"logind"_s);
        m_bus.stop();
    }

    void sleepClosesAndWakeRestartsTheServiceWork()
    {
        AppDelegate app;
        app.followSleepAndWake();
        app.sync().notices().connect();
        QTRY_VERIFY_WITH_TIMEOUT(connected(app), 10000);

        Q_EMIT m_logind.PrepareForSleep(true);
        QTRY_VERIFY_WITH_TIMEOUT(!connected(app), 10000);
        QVERIFY(!app.isVersionCheckScheduled());

        ClipUserDefaults::remove(QLatin1String(SettingsKeys::homepage));
        Q_EMIT m_logind.PrepareForSleep(false);
        QTRY_VERIFY_WITH_TIMEOUT(connected(app), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::homepage)),
                                  u"http://127.0.0.1:1/woken/"_s, 10000);
        QVERIFY(app.isVersionCheckScheduled());

        // The check the timer starts: the menu names the offered version.
        app.startCheckVersion();
        const QString hint = u"设置 (!新版本 %1)"_s.arg(m_newer);
        QTRY_VERIFY_WITH_TIMEOUT(std::any_of(app.menus().mainMenu()->actions().cbegin(),
                                             app.menus().mainMenu()->actions().cend(),
                                             [&](QAction *item) { return item->text() == hint; }),
                                 10000);
    }

    // The service ends the sign-in (here the token is ended elsewhere, as a password reset
    // ends it): at the next device announcement the program signs out, tells the user in a
    // tray message and keeps every local clip (the store's side: tst_settings).
    void aSignInTheServiceEndedKeepsTheHistoryAndSaysSo()
    {
        AppDelegate app;
        const HistoryModel clip = ClipFixtures::text(u"never left this computer"_s, 1700000000);
        SyncClient elsewhere(m_server.origin(), currentDeviceToken());
        elsewhere.setUserToken(app.sync().account().loginUserToken());
        const HttpReply ended = elsewhere.get(u"/logout/"_s);
        // On failure: the reply (or the client's error) and the end of the service's log.
        QVERIFY2(ended.code() == 0,
                 qPrintable(u"%1 %2\n%3"_s.arg(ended.status)
                                .arg(QString::fromUtf8(ended.body),
                                     QString::fromUtf8(m_server.serviceLog().right(2000)))));
        app.initRequest();
        QTRY_VERIFY_WITH_TIMEOUT(!app.sync().account().isSignedIn(), 10000);
        QTRY_VERIFY(!app.tray().latestWarning().isEmpty());
        QVERIFY(DBKeeper::historyExist(clip.hash()));
    }
};

QTEST_MAIN(TestSleepWake)
#include "tst_sleep_wake.moc"
