// The history window and the X11 adapters under a private X server, over a real store: a clip
// among many is found by a word and pasted with Return into the window the user was typing in;
// Delete removes, Escape closes. The global hot key through key grabs, driven by xdotool as a
// user's keyboard would.
#include "TestDirs.h"
#include "X11TestMain.h"
#include "menu/ClipFixtures.h"

#include "menu/MenuActions.h"
#include "menu/MenuController.h"
#include "platform/X11HotKeyRegistrar.h"
#include "platform/X11KeyInjector.h"
#include "platform/X11Pasteboard.h"
#include "store/HistorySearch.h"
#include "ui/HistoryWindow.h"

#include <QLineEdit>
#include <QListWidget>

using namespace Qt::StringLiterals;

class TestHistoryWindow final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), u"xcb"_s);
        // Many more clips than the menu lists, a few to be found among them.
        for (int i = 0; i < 400; ++i)
            ClipFixtures::text(u"ordinary clip %1"_s.arg(i), 1000 + i);
        ClipFixtures::text(u"Invoice for ACME, March"_s, 500);
    }

    // The search field has the focus; typing filters; Return pastes the chosen clip the way
    // the menu does: onto the clipboard, then the paste keystroke into the focused window.
    void findsAmongManyAndPastesWithReturn()
    {
        QLineEdit target;
        target.setWindowTitle(u"paste target"_s);
        QVERIFY(X11Test::showFocused(target));
        X11Pasteboard pasteboard;
        X11KeyInjector injector;
        MenuController menus(testSync());
        menus.actions().setPlatform({&pasteboard, &injector, nullptr});

        HistoryWindow window;
        // The desktop gives the focus back to the window the history was opened over.
        connect(&window, &HistoryWindow::chosen, &menus.actions(), [&](const HistoryModel &clip) {
            QVERIFY(!window.isVisible());
            QVERIFY(X11Test::showFocused(target));
            menus.actions().clickItem(clip);
        });

        window.showWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window, 10000));
        QTRY_VERIFY(window.searchField()->hasFocus());
        QVERIFY(window.list()->count() > 400);
        QTest::keyClicks(window.searchField(), u"acme"_s);
        QTRY_COMPARE(window.list()->count(), 1);
        QTest::keyClick(window.searchField(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), u"Invoice for ACME, March"_s, 10000);
    }

    // Delete removes the chosen clip from the list and the store; Escape closes.
    void deleteRemovesAndKeysClose()
    {
        MenuController menus(testSync());
        HistoryWindow window;
        connect(&window, &HistoryWindow::removeRequested, &menus.actions(), &MenuActions::deleteClip);
        window.showWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window, 10000));
        QTest::keyClicks(window.searchField(), u"clip 17"_s);
        QTRY_COMPARE(window.list()->count(), 11); // 17 and 170 to 179
        QTest::keyClick(window.searchField(), Qt::Key_Delete);
        QCOMPARE(window.list()->count(), 10);
        QTRY_COMPARE(HistorySearch::find(u"clip 17"_s).size(), 10);

        QTest::keyClick(window.searchField(), Qt::Key_Escape);
        QTRY_VERIFY(!window.isVisible());
    }

    void hotKeyFiresWithAndWithoutNumLock()
    {
        const auto press = [](const char *keys) { return X11Test::xdotool({u"key"_s, QLatin1String(keys)}); };
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

QUILLET_XVFB_TEST_MAIN(TestHistoryWindow)
#include "tst_history_window.moc"
