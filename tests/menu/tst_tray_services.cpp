// The services of the tray application that need no display: the hot-key settings, login
// items, the recently-used list and the single-instance guard.
#include "TestDirs.h"
#include "TestFiles.h"
#include "TestSync.h"

#include "capture/ShortcutController.h"
#include "platform/MemoryHotKeyRegistrar.h"
#include "platform/NMLoginItems.h"
#include "platform/RecentlyUsed.h"
#include "platform/SingleInstance.h"
#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

const QString kKeyCode = QLatin1String(SettingsKeys::keyCode);
const QString kModifierFlags = QLatin1String(SettingsKeys::modifierFlags);
const KeyCombination kCommandShiftV{9, KeyCombination::Command | KeyCombination::Shift};

QString makeProgram(const QString &path)
{
    TestFiles::write(path, "#!/bin/sh\n");
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    return path;
}

QStringList autostartEntries()
{
    return QDir(NMLoginItems::autostartFolder()).entryList({u"*.desktop"_s}, QDir::Files, QDir::Name);
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
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(u"config"_s)));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(u"data"_s)));
    }

    void init()
    {
        ClipUserDefaults::remove(kKeyCode);
        ClipUserDefaults::remove(kModifierFlags);
    }

    // First start registers and stores the default; one stored key alone is ignored (the
    // default comes back); switched off stays off after a restart, also when the marker was
    // written as its unsigned bits.
    void hotKeyStoredValues()
    {
        MemoryHotKeyRegistrar registrar;
        int shown = 0;
        ShortcutController controller{testSettings()};
        controller.start(registrar, [&shown] { ++shown; });
        QVERIFY(registrar.press(kCommandShiftV));
        QCOMPARE(shown, 1);
        QCOMPARE(ShortcutController::storedShortcut(), std::optional<KeyCombination>(kCommandShiftV));
        controller.setShortcut(KeyCombination{8, KeyCombination::Option});
        ClipUserDefaults::remove(kModifierFlags);
        controller.start(registrar, [] {});
        QCOMPARE(registrar.registered(), std::vector<KeyCombination>{kCommandShiftV});

        controller.shortcutOff();
        controller.start(registrar, [] {});
        QVERIFY(registrar.registered().empty());
        ClipUserDefaults::setValue(kKeyCode, 0xFFFFE000U);
        ClipUserDefaults::setValue(kModifierFlags, 0);
        QVERIFY(ShortcutController::isShortcutOff());
        controller.stop();
    }

    // Each entry starts its own program (a path with a space quoted); removing one program
    // removes all its entries and no other's.
    void loginItemsAddTwiceRemoveBoth()
    {
        const QString program = makeProgram(m_home.filePath(u"my programs/quillet"_s));
        const QString other = makeProgram(m_home.filePath(u"other"_s));
        NMLoginItems::addPathToLoginItems(program, false);
        NMLoginItems::addPathToLoginItems(program, true);
        NMLoginItems::addPathToLoginItems(other, false);
        const QByteArray entry =
            TestFiles::read(QDir(NMLoginItems::autostartFolder()).filePath(u"quillet-2.desktop"_s));
        QVERIFY(entry.contains(QByteArray("Exec=\"" + QFile::encodeName(program) + "\"\n")));
        NMLoginItems::removePathFromLoginItems(program);
        QVERIFY(!NMLoginItems::pathInLoginItems(program));
        QCOMPARE(autostartEntries().size(), 1);
        QVERIFY(NMLoginItems::pathInLoginItems(other));
    }

    // An entry per file, its type named; a list that cannot be read is left as it is.
    void recentlyUsedListKeepsItsEntries()
    {
        const QString list = m_home.filePath(u"recent/recently-used.xbel"_s);
        const QString jpg = m_home.filePath(u"c d.jpg"_s);
        for (const QString &path : {m_home.filePath(u"a.png"_s), jpg, jpg})
            QVERIFY(RecentlyUsed::addFile(path, list));
        const QByteArray written = TestFiles::read(list);
        QCOMPARE(written.count("<bookmark "), 2);
        QVERIFY(written.contains(QUrl::fromLocalFile(jpg).toString(QUrl::FullyEncoded).toUtf8()));
        QVERIFY(written.contains("image/jpeg"));

        const QString broken = m_home.filePath(u"broken.xbel"_s);
        QVERIFY(TestFiles::write(broken, "<xbel><bookmark"));
        QVERIFY(!RecentlyUsed::addFile(jpg, broken));
        QCOMPARE(TestFiles::read(broken), QByteArray("<xbel><bookmark"));
    }

    // One instance per data folder; a socket file left by an instance that crashed is taken over.
    void onlyOneInstancePerDataFolder()
    {
        const QString folder = m_home.filePath(u"instance"_s);
        auto first = std::make_unique<SingleInstance>(folder);
        QVERIFY(first->tryAcquire());
        SingleInstance second(folder);
        QVERIFY(!second.tryAcquire());
        QVERIFY(SingleInstance(m_home.filePath(u"another"_s)).tryAcquire());
        first.reset();
        QVERIFY(second.tryAcquire());

        SingleInstance crashed(m_home.filePath(u"stale"_s));
        QVERIFY(TestFiles::write(crashed.socketPath(), {}));
        QVERIFY(crashed.tryAcquire());
    }
};

QTEST_GUILESS_MAIN(TestTrayServices)
#include "tst_tray_services.moc"
