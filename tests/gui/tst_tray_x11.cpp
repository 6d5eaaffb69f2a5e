// The X11 adapters against a private X server: the paste keystroke through XTest and the
// global hot key through key grabs, driven by xdotool as a user's keyboard would.
#include "X11TestMain.h"

#include "platform/X11HotKeyRegistrar.h"
#include "platform/X11KeyInjector.h"

#include <QClipboard>
#include <QLineEdit>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

using X11Test::xdotool;

class TestX11Platform final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(u"xdotool"_s).isEmpty())
            QSKIP("xdotool is not installed");
    }

    void pasteKeystrokeReachesTheFocusedWindow()
    {
        QLineEdit target;
        QVERIFY(X11Test::showFocused(target));
        const QString text = u"pasted through XTest"_s;
        QGuiApplication::clipboard()->setText(text);

        X11KeyInjector injector;
        QVERIFY(injector.postPasteKeystroke());
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), text, 10000);
    }

    void hotKeyFiresWithAndWithoutNumLock()
    {
        const auto press = [](const char *keys) { return xdotool({u"key"_s, QLatin1String(keys)}); };
        X11HotKeyRegistrar registrar;
        int pressed = 0;
        QVERIFY(registrar.registerHotKey({9, KeyCombination::Command | KeyCombination::Shift},
                                         [&pressed] { ++pressed; }));
        QVERIFY(press("super+shift+v"));
        QTRY_COMPARE_WITH_TIMEOUT(pressed, 1, 10000);
        QVERIFY(press("Num_Lock") && press("super+shift+v"));
        QTRY_COMPARE_WITH_TIMEOUT(pressed, 2, 10000);
        QVERIFY(press("Num_Lock"));

        // After unregistering, the old combination does nothing; the new one works.
        registrar.unregisterAll();
        int other = 0;
        QVERIFY(registrar.registerHotKey({8, KeyCombination::Command}, [&other] { ++other; }));
        QVERIFY(press("super+shift+v") && press("super+c"));
        QTRY_COMPARE_WITH_TIMEOUT(other, 1, 10000);
        QCOMPARE(pressed, 2);
    }
};

QUILLET_XVFB_TEST_MAIN(TestX11Platform)
#include "tst_tray_x11.moc"
