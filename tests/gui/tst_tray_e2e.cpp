// The whole program under a private X server with a tray host: text copied with xclip is
// captured, the hot key opens the menu, and choosing a clip by its key pastes it into the
// window the user was typing in; at start the program announces the device to the sync service.
// `quillet --history` and `quillet --menu` reach the running program over a private session bus.
// Started on a damaged history database, it says so at the tray item.
// The program runs under an English locale.
#include "ClipboardPrograms.h"
#include "RecordingHttpServer.h"
#include "TestDirs.h"
#include "TestFiles.h"
#include "X11TestMain.h"

#include "store/ClipUserDefaults.h"
#include "store/DBKeeper.h"
#include "store/SettingsKeys.h"

#include <QDir>
#include <QLineEdit>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace {

QStringList historyContents()
{
    QStringList contents;
    const QList<HistoryModel> rows = DBKeeper::getAllHistory();
    for (const HistoryModel &row : rows)
        contents << row.content.value_or(QString());
    return contents;
}

// The visible windows that xdotool finds with `filter`: the tray icon, and the menu or the
// message while it shows.
int visibleWindowsMatching(const QStringList &filter)
{
    QProcess search;
    search.start(u"xdotool"_s, QStringList{u"search"_s, u"--onlyvisible"_s} + filter);
    search.waitForFinished(10000);
    const QByteArray ids = search.readAllStandardOutput().trimmed();
    return ids.isEmpty() ? 0 : int(ids.count('\n')) + 1;
}

int visibleWindows()
{
    return visibleWindowsMatching({u"--classname"_s, u"quillet"_s});
}

} // namespace

class TestTrayEndToEnd final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QProcess m_tray;
    QProcess m_quillet;
    QProcessEnvironment m_environment;
    RecordingHttpServer m_service;

    // Starts the program a second time with these arguments; its exit code.
    int secondStart(const QStringList &arguments)
    {
        QProcess second;
        second.setProcessEnvironment(m_environment);
        second.start(QStringLiteral(QUILLET_PROGRAM), arguments);
        if (!second.waitForFinished(30000))
            return -1;
        return second.exitCode();
    }

private Q_SLOTS:
    void initTestCase()
    {
        for (const char *tool : {"trayer", "xclip", "xdotool", "dbus-daemon"}) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP("a tool of this test is not installed (trayer, xclip, xdotool, dbus-daemon)");
        }
        m_tray.start(u"trayer"_s, {u"--edge"_s, u"top"_s, u"--align"_s, u"right"_s, u"--height"_s, u"32"_s,
                                   u"--width"_s, u"10"_s});
        QVERIFY(m_tray.waitForStarted());
        m_service.setReply(200, "{\"code\":0,\"data\":{\"homepage\":\"https://quillet.example.org/\"}}");
        // The display's own session bus (XvfbServer), where the program publishes its commands.
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(u"QUILLET_API_URL"_s, m_service.origin() + u"/api"_s);
        m_environment.remove(u"LC_ALL"_s);
        m_environment.remove(u"LC_MESSAGES"_s);
        m_environment.remove(u"LANGUAGE"_s);
        m_environment.insert(u"LANG"_s, u"en_US.UTF-8"_s);
        m_quillet.setProcessEnvironment(m_environment);
        m_quillet.setProcessChannelMode(QProcess::ForwardedChannels);
        m_quillet.start(QStringLiteral(QUILLET_PROGRAM), {});
        QVERIFY(m_quillet.waitForStarted());
        // The hot key is registered before the clipboard monitor starts; the monitor stores the
        // start-up content, so a first capture also says that the hot key is in place.
        QTRY_VERIFY_WITH_TIMEOUT(ClipUserDefaults::intValue(QLatin1String(SettingsKeys::keyCode), 0) == 9,
                                 60000);
    }

    void cleanupTestCase()
    {
        X11Test::stop(m_quillet);
        X11Test::stop(m_tray);
    }

    void announcesTheDeviceAtStart()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!m_service.requestLines().isEmpty(), 30000);
        QVERIFY(m_service.requestLines().first().startsWith("GET /api/init/?device_type=linux_"));
    }

    void secondInstanceRefusesToStart()
    {
        QVERIFY(secondStart({}) > 0);
        QCOMPARE(m_quillet.state(), QProcess::Running);
    }

    void copyOpenWithHotKeyAndPaste()
    {
        ClipboardPrograms xclip;
        QVERIFY(xclip.copy("first clip from xclip", u"UTF8_STRING"_s));
        QTRY_VERIFY_WITH_TIMEOUT(historyContents().contains(u"first clip from xclip"_s), 30000);
        QVERIFY(xclip.copy("second clip", u"UTF8_STRING"_s));
        QTRY_COMPARE_WITH_TIMEOUT(historyContents().value(0), u"second clip"_s, 30000);

        QLineEdit target;
        target.setWindowTitle(u"paste target"_s);
        QVERIFY(X11Test::showFocused(target));

        const int closed = visibleWindows();
        QVERIFY(X11Test::xdotool({u"key"_s, u"super+shift+v"_s}));
        QTRY_VERIFY_WITH_TIMEOUT(visibleWindows() > closed, 30000);

        // The second entry is the older clip: what is pasted comes from the menu, not from
        // what the clipboard held.
        QVERIFY(X11Test::xdotool({u"key"_s, u"2"_s}));
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), u"first clip from xclip"_s, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(), closed, 30000);
    }

    // A second start with --menu shows the running program's menu at the pointer, and one
    // with --history its history window.
    void secondStartShowsMenuAndHistory()
    {
        const auto historyShown = [] {
            return X11Test::xdotool({u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^All history$"_s});
        };
        QCOMPARE(secondStart({u"--history"_s}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(historyShown(), 30000);
        QVERIFY(X11Test::xdotool({u"key"_s, u"Escape"_s}));
        QTRY_VERIFY_WITH_TIMEOUT(!historyShown(), 30000);

        const int closed = visibleWindows();
        QCOMPARE(secondStart({u"--menu"_s}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(visibleWindows() > closed, 30000);
        QVERIFY(X11Test::xdotool({u"key"_s, u"Escape"_s}));
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(), closed, 30000);
    }

    // Started again on a damaged history database, the program moves it aside, starts a fresh
    // history and tells the user in a message at the tray item.
    void damagedDatabaseIsReportedAtTheTrayItem()
    {
        X11Test::stop(m_quillet);
        QTemporaryDir data;
        QVERIFY(TestFiles::write(data.filePath(u"clipDB.sqlite"_s), QByteArray(4096, 'x')));
        QProcessEnvironment environment = m_environment;
        environment.insert(u"QUILLET_DATA_DIR"_s, data.path());
        m_quillet.setProcessEnvironment(environment);
        m_quillet.start(QStringLiteral(QUILLET_PROGRAM), {});
        QVERIFY(m_quillet.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(
            QDir(data.path()).entryList({u"clipDB.sqlite.damaged-*"_s}, QDir::Files).size(), 1, 30000);
        // The tray icon and the message beside it.
        QTRY_COMPARE_WITH_TIMEOUT(
            visibleWindowsMatching({u"--pid"_s, QString::number(m_quillet.processId())}), 2, 30000);
        QCOMPARE(m_quillet.state(), QProcess::Running);
    }
};

QUILLET_XVFB_TEST_MAIN(TestTrayEndToEnd)
#include "tst_tray_e2e.moc"
