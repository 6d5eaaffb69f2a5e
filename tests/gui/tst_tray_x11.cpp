// The X11 adapters against a private X server: the paste keystroke through XTest and the
// global hot key through key grabs, driven by xdotool as a user's keyboard would.
#include "XvfbServer.h"

#include "platform/X11HotKeyRegistrar.h"
#include "platform/X11KeyInjector.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {

bool xdotool(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

const KeyCombination kCommandShiftV{9, KeyCombination::Command | KeyCombination::Shift};
const KeyCombination kCommandC{8, KeyCombination::Command};

} // namespace

class TestX11Platform final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("xdotool is not installed");
    }

    void pasteKeystrokeReachesTheFocusedWindow()
    {
        QLineEdit target;
        target.show();
        target.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&target, 10000));
        QTRY_VERIFY_WITH_TIMEOUT(target.hasFocus(), 10000);
        QGuiApplication::clipboard()->setText(QStringLiteral("pasted through XTest"));

        X11KeyInjector injector;
        QCOMPARE(injector.pasteKeyCode(), 0U);
        QVERIFY(injector.postPasteKeystroke());
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), QStringLiteral("pasted through XTest"), 10000);
        const unsigned keyCode = injector.pasteKeyCode();
        QVERIFY(keyCode != 0);

        // The second paste uses the key found at the first.
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("End")}));
        QVERIFY(injector.postPasteKeystroke());
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), QStringLiteral("pasted through XTestpasted through XTest"), 10000);
        QCOMPARE(injector.pasteKeyCode(), keyCode);
    }

    void hotKeyFiresWithAndWithoutNumLock()
    {
        X11HotKeyRegistrar registrar;
        int pressed = 0;
        QVERIFY(registrar.registerHotKey(kCommandShiftV, [&pressed] { ++pressed; }));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("super+shift+v")}));
        QTRY_COMPARE_WITH_TIMEOUT(pressed, 1, 10000);

        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")}));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("super+shift+v")}));
        QTRY_COMPARE_WITH_TIMEOUT(pressed, 2, 10000);
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")}));

        // After unregistering, the old combination does nothing; the new one works.
        registrar.unregisterAll();
        int other = 0;
        QVERIFY(registrar.registerHotKey(kCommandC, [&other] { ++other; }));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("super+shift+v")}));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("super+c")}));
        QTRY_COMPARE_WITH_TIMEOUT(other, 1, 10000);
        QCOMPARE(pressed, 2);

        QVERIFY(!registrar.registerHotKey({10, KeyCombination::Command}, [] {})); // no such key
    }
};

int main(int argc, char *argv[])
{
    XvfbServer xvfb;
    if (!xvfb.start()) {
        qWarning("Xvfb could not be started");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestX11Platform test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tray_x11.moc"
