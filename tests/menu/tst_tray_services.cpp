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
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

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

    void hotKeyDefaultReplacementAndStoredValues()
    {
        MemoryHotKeyRegistrar registrar;
        int shown = 0;
        ShortcutController controller{testSettings()};
        {
            // First start: the default is registered and stored.
            controller.start(registrar, [&shown] { ++shown; });
            QCOMPARE(registrar.registered(), std::vector<KeyCombination>{kCommandShiftV});
            QCOMPARE(ClipUserDefaults::intValue(kKeyCode, 0), 9);
            QCOMPARE(ClipUserDefaults::intValue(kModifierFlags, 0), 1179648);
            QVERIFY(registrar.press(kCommandShiftV));
            QCOMPARE(shown, 1);

            const KeyCombination optionC{8, KeyCombination::Option};
            controller.setShortcut(optionC);
            QCOMPARE(registrar.registered(), std::vector<KeyCombination>{optionC});
            QCOMPARE(ShortcutController::storedShortcut(), std::optional<KeyCombination>(optionC));
        }
        // One stored key alone is ignored: the default comes back.
        ClipUserDefaults::remove(kModifierFlags);
        controller.start(registrar, [] {});
        QCOMPARE(registrar.registered(), std::vector<KeyCombination>{kCommandShiftV});
        QCOMPARE(ClipUserDefaults::intValue(kKeyCode, 0), 9);
        controller.stop();
    }

    void switchedOffStaysOffAfterRestart()
    {
        MemoryHotKeyRegistrar registrar;
        ShortcutController controller{testSettings()};
        {
            controller.start(registrar, [] {});
            controller.shortcutOff();
            QVERIFY(registrar.registered().empty());
            QVERIFY(!controller.shortcut());
        }
        QCOMPARE(ClipUserDefaults::intValue(kKeyCode, 0), -8192);
        QCOMPARE(ClipUserDefaults::intValue(kModifierFlags, 0), -8192);
        controller.start(registrar, [] {});
        QVERIFY(registrar.registered().empty());

        // The marker written as its unsigned bits is the same marker.
        ClipUserDefaults::setValue(kKeyCode, 0xFFFFE000U);
        ClipUserDefaults::setValue(kModifierFlags, 0);
        QVERIFY(ShortcutController::isShortcutOff());
        controller.stop();
    }

    void loginItemsAddTwiceRemoveBoth()
    {
        const QString program = makeProgram(m_home.filePath(u"my programs/quillet"_s));
        const QString other = makeProgram(m_home.filePath(u"other"_s));
        QVERIFY(!NMLoginItems::pathInLoginItems(program));
        NMLoginItems::addPathToLoginItems(program, false);
        NMLoginItems::addPathToLoginItems(program, true);
        NMLoginItems::addPathToLoginItems(other, false);
        QCOMPARE(autostartEntries().size(), 3);
        QVERIFY(NMLoginItems::pathInLoginItems(program));

        QFile second(QDir(NMLoginItems::autostartFolder()).filePath(u"quillet-2.desktop"_s));
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
        QVERIFY(!NMLoginItems::pathInLoginItems(m_home.filePath(u"missing"_s)));
    }

    void recentlyUsedListKeepsItsEntries()
    {
        const QString list = m_home.filePath(u"recent/recently-used.xbel"_s);
        const QString png = m_home.filePath(u"a b.png"_s);
        const QString jpg = m_home.filePath(u"c.jpg"_s);
        for (const QString &path : {png, jpg, jpg})
            QVERIFY(RecentlyUsed::addFile(path, list));
        QFile file(list);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader reader(&file);
        QStringList entries; // each bookmark's address, then its type
        while (!reader.atEnd()) {
            if (reader.readNext() == QXmlStreamReader::StartElement
                && (reader.name() == u"bookmark" || reader.name() == u"mime-type"))
                entries << reader.attributes()
                               .value(reader.name() == u"bookmark" ? "href"_L1 : "type"_L1)
                               .toString();
        }
        QVERIFY(!reader.hasError());
        const auto href = [](const QString &path) {
            return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
        };
        QCOMPARE(entries, (QStringList{href(png), u"image/png"_s, href(jpg), u"image/jpeg"_s}));

        // A list that cannot be read is left as it is.
        const QString broken = m_home.filePath(u"broken.xbel"_s);
        QVERIFY(TestFiles::write(broken, "<xbel><bookmark"));
        QVERIFY(!RecentlyUsed::addFile(jpg, broken));
        QCOMPARE(TestFiles::read(broken), QByteArray("<xbel><bookmark"));
    }

    void onlyOneInstancePerDataFolder()
    {
        const QString folder = m_home.filePath(u"instance"_s);
        auto first = std::make_unique<SingleInstance>(folder);
        QVERIFY(first->tryAcquire());
        SingleInstance second(folder);
        QVERIFY(!second.tryAcquire());
        SingleInstance elsewhere(m_home.filePath(u"another"_s));
        QVERIFY(elsewhere.tryAcquire());
        first.reset();
        QVERIFY(second.tryAcquire());

        // A socket file left by an instance that crashed is taken over.
        const QString stale = m_home.filePath(u"stale"_s);
        SingleInstance crashed(stale);
        QVERIFY(TestFiles::write(crashed.socketPath(), {}));
        QVERIFY(crashed.tryAcquire());
    }
};

QTEST_GUILESS_MAIN(TestTrayServices)
#include "tst_tray_services.moc"
