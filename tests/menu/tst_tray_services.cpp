// The services of the tray application that need no display: the hot-key settings, login
// items, the recently-used list, the single-instance guard, the hot-key translation and the
// sleep watcher on a private D-Bus daemon.
#include "TestDirs.h"

#include "app/AppDelegate.h"
#include "app/NMLoginItems.h"
#include "app/ShortcutController.h"
#include "platform/HotKeyTranslation.h"
#include "platform/LogindSleepWatcher.h"
#include "platform/MemoryHotKeyRegistrar.h"
#include "platform/RecentlyUsed.h"
#include "platform/SingleInstance.h"
#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

const QString kKeyCode = QLatin1String(SettingsKeys::keyCode);
const QString kModifierFlags = QLatin1String(SettingsKeys::modifierFlags);
const KeyCombination kCommandShiftV{9, KeyCombination::Command | KeyCombination::Shift};

QString makeProgram(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("#!/bin/sh\n");
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    return path;
}

QStringList autostartEntries()
{
    return QDir(NMLoginItems::autostartFolder()).entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name);
}

} // namespace

class TestTrayServices final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QTemporaryDir m_home;

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("config"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("data"))));
    }

    void init()
    {
        ClipUserDefaults::remove(kKeyCode);
        ClipUserDefaults::remove(kModifierFlags);
    }

    void firstStartRegistersAndStoresTheDefault()
    {
        MemoryHotKeyRegistrar registrar;
        int shown = 0;
        ShortcutController controller(registrar, [&shown] { ++shown; });
        QCOMPARE(ShortcutController::sharedInstance(), &controller);
        QCOMPARE(registrar.registered(), std::vector<KeyCombination>{kCommandShiftV});
        QCOMPARE(ClipUserDefaults::intValue(kKeyCode, 0), 9);
        QCOMPARE(ClipUserDefaults::intValue(kModifierFlags, 0), 1179648);
        QVERIFY(registrar.press(kCommandShiftV));
        QCOMPARE(shown, 1);
    }

    void switchedOffStaysOffAfterRestart()
    {
        MemoryHotKeyRegistrar registrar;
        {
            ShortcutController controller(registrar, [] {});
            controller.shortcutOff();
            QVERIFY(registrar.registered().empty());
            QVERIFY(!controller.shortcut());
        }
        QCOMPARE(ClipUserDefaults::intValue(kKeyCode, 0), -8192);
        QCOMPARE(ClipUserDefaults::intValue(kModifierFlags, 0), -8192);
        ShortcutController restarted(registrar, [] {});
        QVERIFY(registrar.registered().empty());

        // The marker written as its unsigned bits is the same marker.
        ClipUserDefaults::setValue(kKeyCode, 0xFFFFE000U);
        ClipUserDefaults::setValue(kModifierFlags, 0);
        QVERIFY(ShortcutController::isShortcutOff());
    }

    void newCombinationReplacesTheOld()
    {
        MemoryHotKeyRegistrar registrar;
        ShortcutController controller(registrar, [] {});
        const KeyCombination optionC{8, KeyCombination::Option};
        controller.setShortcut(optionC);
        QCOMPARE(registrar.registered(), std::vector<KeyCombination>{optionC});
        QVERIFY(!registrar.press(kCommandShiftV));
        QCOMPARE(ShortcutController::storedShortcut(), std::optional<KeyCombination>(optionC));
    }

    void oneStoredKeyAloneIsIgnored()
    {
        ClipUserDefaults::setValue(kKeyCode, 8);
        MemoryHotKeyRegistrar registrar;
        ShortcutController controller(registrar, [] {});
        QCOMPARE(registrar.registered(), std::vector<KeyCombination>{kCommandShiftV});
        QCOMPARE(ClipUserDefaults::intValue(kKeyCode, 0), 9);
    }

    void storedCombinationsTranslateToX11()
    {
        const auto v = HotKeyTranslation::translate(kCommandShiftV);
        QVERIFY(v);
        QCOMPARE(v->keysym, std::uint32_t('v'));
        QCOMPARE(v->modifiers, unsigned(HotKeyTranslation::SuperModifier | HotKeyTranslation::ShiftModifier));
        QCOMPARE(HotKeyTranslation::modifiersForFlags(KeyCombination::Option | KeyCombination::Control),
                 unsigned(HotKeyTranslation::AltModifier | HotKeyTranslation::ControlModifier));
        QCOMPARE(HotKeyTranslation::keysymForKeyCode(122), std::optional<std::uint32_t>(0xffbe)); // F1
        QCOMPARE(HotKeyTranslation::keysymForKeyCode(41), std::optional<std::uint32_t>(';'));
        QVERIFY(!HotKeyTranslation::keysymForKeyCode(10)); // no key on the ANSI layout
    }

    void loginItemsAddTwiceRemoveBoth()
    {
        const QString program = makeProgram(m_home.filePath(QStringLiteral("my programs/quillet")));
        const QString other = makeProgram(m_home.filePath(QStringLiteral("other")));
        QVERIFY(!NMLoginItems::pathInLoginItems(program));
        NMLoginItems::addPathToLoginItems(program, false);
        NMLoginItems::addPathToLoginItems(program, true);
        NMLoginItems::addPathToLoginItems(other, false);
        QCOMPARE(autostartEntries().size(), 3);
        QVERIFY(NMLoginItems::pathInLoginItems(program));

        QFile second(QDir(NMLoginItems::autostartFolder()).filePath(QStringLiteral("quillet-2.desktop")));
        QVERIFY(second.open(QIODevice::ReadOnly));
        const QByteArray entry = second.readAll();
        QVERIFY(entry.contains(QByteArray("Exec=\"" + QFile::encodeName(program) + "\"\n")));
        QVERIFY(entry.contains("HideOnLaunch=true\n"));

        NMLoginItems::removePathFromLoginItems(program);
        QVERIFY(!NMLoginItems::pathInLoginItems(program));
        QVERIFY(NMLoginItems::pathInLoginItems(other));
        QCOMPARE(autostartEntries().size(), 1);
        NMLoginItems::removePathFromLoginItems(other);
        QVERIFY(!NMLoginItems::pathInLoginItems(QString()));
        QVERIFY(!NMLoginItems::pathInLoginItems(m_home.filePath(QStringLiteral("missing"))));
    }

    void recentlyUsedListKeepsItsEntries()
    {
        const QString list = m_home.filePath(QStringLiteral("recent/recently-used.xbel"));
        QVERIFY(RecentlyUsed::addFile(m_home.filePath(QStringLiteral("a b.png")), list));
        QVERIFY(RecentlyUsed::addFile(m_home.filePath(QStringLiteral("c.jpg")), list));
        QVERIFY(RecentlyUsed::addFile(m_home.filePath(QStringLiteral("c.jpg")), list));
        QFile file(list);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader reader(&file);
        QStringList hrefs;
        QStringList types;
        while (!reader.atEnd()) {
            if (reader.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (reader.name() == QLatin1String("bookmark"))
                hrefs << reader.attributes().value(QLatin1String("href")).toString();
            if (reader.name() == QLatin1String("mime-type"))
                types << reader.attributes().value(QLatin1String("type")).toString();
        }
        QVERIFY(!reader.hasError());
        QCOMPARE(hrefs, (QStringList{QUrl::fromLocalFile(m_home.filePath(QStringLiteral("a b.png"))).toString(QUrl::FullyEncoded),
                                     QUrl::fromLocalFile(m_home.filePath(QStringLiteral("c.jpg"))).toString(QUrl::FullyEncoded)}));
        QCOMPARE(types, (QStringList{QStringLiteral("image/png"), QStringLiteral("image/jpeg")}));

        const QString broken = m_home.filePath(QStringLiteral("broken.xbel"));
        QFile brokenFile(broken);
        QVERIFY(brokenFile.open(QIODevice::WriteOnly));
        brokenFile.write("<xbel><bookmark");
        brokenFile.close();
        QVERIFY(!RecentlyUsed::addFile(m_home.filePath(QStringLiteral("c.jpg")), broken));
        QVERIFY(brokenFile.open(QIODevice::ReadOnly));
        QCOMPARE(brokenFile.readAll(), QByteArray("<xbel><bookmark"));
    }

    void onlyOneInstancePerDataFolder()
    {
        const QString folder = m_home.filePath(QStringLiteral("instance"));
        auto first = std::make_unique<SingleInstance>(folder);
        QVERIFY(first->tryAcquire());
        SingleInstance second(folder);
        QVERIFY(!second.tryAcquire());
        SingleInstance elsewhere(m_home.filePath(QStringLiteral("another")));
        QVERIFY(elsewhere.tryAcquire());
        first.reset();
        QVERIFY(second.tryAcquire());

        // A socket file left by an instance that crashed is taken over.
        const QString stale = m_home.filePath(QStringLiteral("stale"));
        SingleInstance crashed(stale);
        QFile leftover(crashed.socketPath());
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.close();
        QVERIFY(crashed.tryAcquire());
    }

    void wakeSchedulesTheVersionCheckAgain()
    {
        AppDelegate delegate;
        delegate.regSystemNotifications();
        QVERIFY(!delegate.isVersionCheckScheduled());
        Q_EMIT delegate.sleepWatcher()->willSleep();
        QVERIFY(!delegate.isVersionCheckScheduled());
        Q_EMIT delegate.sleepWatcher()->didWake();
        QVERIFY(delegate.isVersionCheckScheduled());
    }

    void sleepAndWakeFromLogind()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            QSKIP("dbus-daemon is not installed");
        QProcess daemon;
        daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                     QStringLiteral("--print-address=1")});
        QVERIFY(daemon.waitForStarted());
        QVERIFY(daemon.waitForReadyRead(10000));
        const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
        {
            QDBusConnection logind = QDBusConnection::connectToBus(address, QStringLiteral("logind"));
            QVERIFY(logind.registerService(QStringLiteral("org.freedesktop.login1")));
            LogindSleepWatcher watcher(QDBusConnection::connectToBus(address, QStringLiteral("watcher")));
            QVERIFY(watcher.isListening());
            QSignalSpy sleeping(&watcher, &SleepWatcher::willSleep);
            QSignalSpy woken(&watcher, &SleepWatcher::didWake);
            for (const bool start : {true, false}) {
                QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                                 QStringLiteral("org.freedesktop.login1.Manager"),
                                                                 QStringLiteral("PrepareForSleep"));
                signal << start;
                QVERIFY(logind.send(signal));
            }
            QTRY_COMPARE_WITH_TIMEOUT(sleeping.count(), 1, 10000);
            QTRY_COMPARE_WITH_TIMEOUT(woken.count(), 1, 10000);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("logind"));
        QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
        daemon.terminate();
        daemon.waitForFinished(5000);

        LogindSleepWatcher quiet(QDBusConnection(QStringLiteral("no such bus")));
        QVERIFY(!quiet.isListening());
    }
};

QTEST_GUILESS_MAIN(TestTrayServices)
#include "tst_tray_services.moc"
