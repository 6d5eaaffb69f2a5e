// The whole program under a private X server with a tray host: text copied with xclip is
// captured, the hot key opens the menu, and choosing a clip by its key pastes it into the
// window the user was typing in; at start the program announces the device to the sync service.
// A screenshot of the open menu is kept in the build folder.
#include "RecordingHttpServer.h"
#include "TestDirs.h"
#include "X11TestMain.h"

#include "store/ClipUserDefaults.h"
#include "store/DBKeeper.h"
#include "store/SettingsKeys.h"

#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QStandardPaths>

#include <algorithm>

using X11Test::stop;

namespace {

// Puts text on the clipboard the way another program does: xclip keeps serving it.
bool copyWithXclip(QProcess &xclip, const QString &text)
{
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                          QStringLiteral("-loops"), QStringLiteral("1")});
    if (!xclip.waitForStarted())
        return false;
    xclip.write(text.toUtf8());
    xclip.closeWriteChannel();
    return true;
}

QStringList historyContents()
{
    QStringList contents;
    const QList<HistoryModel> rows = DBKeeper::getAllHistory();
    for (const HistoryModel &row : rows)
        contents << row.content.value_or(QString());
    return contents;
}

// The program's visible windows: the tray icon, and the menu while it is open.
int visibleWindows()
{
    QProcess search;
    search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                             QStringLiteral("--classname"), QStringLiteral("quillet")});
    search.waitForFinished(10000);
    const QByteArray ids = search.readAllStandardOutput().trimmed();
    return ids.isEmpty() ? 0 : int(ids.count('\n')) + 1;
}

} // namespace

class TestTrayEndToEnd final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QProcess m_tray;
    QProcess m_quillet;
    RecordingHttpServer m_service;

private Q_SLOTS:
    void initTestCase()
    {
        for (const char *tool : {"trayer", "xclip", "xdotool"}) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP("a tool of this test is not installed (trayer, xclip, xdotool)");
        }
        m_tray.start(QStringLiteral("trayer"),
                     {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                      QStringLiteral("right"), QStringLiteral("--height"), QStringLiteral("32"),
                      QStringLiteral("--width"), QStringLiteral("10")});
        QVERIFY(m_tray.waitForStarted());
        m_service.setReply(200, "{\"code\":0,\"data\":{\"homepage\":\"https://quillet.example.org/\"}}");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QUILLET_API_URL"), m_service.origin() + QStringLiteral("/api"));
        m_quillet.setProcessEnvironment(environment);
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
        stop(m_quillet);
        stop(m_tray);
    }

    void announcesTheDeviceAtStart()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!m_service.requestLines().isEmpty(), 30000);
        QVERIFY(m_service.requestLines().first().startsWith("GET /api/init/?device_type=linux_"));
        QTRY_COMPARE_WITH_TIMEOUT(ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::homepage)),
                                  QStringLiteral("https://quillet.example.org/"), 30000);
    }

    void secondInstanceRefusesToStart()
    {
        QProcess second;
        second.start(QStringLiteral(QUILLET_PROGRAM), {});
        QVERIFY(second.waitForFinished(30000));
        QVERIFY(second.exitCode() != 0);
        QVERIFY(second.readAllStandardError().contains("already running"));
        QCOMPARE(m_quillet.state(), QProcess::Running);
    }

    void copyOpenWithHotKeyAndPaste()
    {
        QProcess first;
        QVERIFY(copyWithXclip(first, QStringLiteral("first clip from xclip")));
        QTRY_VERIFY_WITH_TIMEOUT(historyContents().contains(QStringLiteral("first clip from xclip")), 30000);
        QProcess second;
        QVERIFY(copyWithXclip(second, QStringLiteral("second clip")));
        QTRY_COMPARE_WITH_TIMEOUT(historyContents().value(0), QStringLiteral("second clip"), 30000);
        QCOMPARE(historyContents().value(1), QStringLiteral("first clip from xclip"));

        QLineEdit target;
        target.setWindowTitle(QStringLiteral("paste target"));
        QVERIFY(X11Test::showFocused(target));

        const int closed = visibleWindows();
        QVERIFY(X11Test::xdotool({QStringLiteral("key"), QStringLiteral("super+shift+v")}));
        QTRY_VERIFY_WITH_TIMEOUT(visibleWindows() > closed, 30000);
        const QString shot = QStringLiteral(QUILLET_SCREENSHOT_DIR) + QStringLiteral("/tray-menu.png");
        QVERIFY(QGuiApplication::primaryScreen()->grabWindow(0).save(shot));

        // The second entry is the older clip: what is pasted comes from the menu, not from
        // what the clipboard held.
        QVERIFY(X11Test::xdotool({QStringLiteral("key"), QStringLiteral("2")}));
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), QStringLiteral("first clip from xclip"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(), closed, 30000);
        // The clip was written back to the clipboard, where other programs find it too.
        QProcess reader;
        reader.start(QStringLiteral("xclip"),
                     {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
        QVERIFY(reader.waitForFinished(10000));
        QCOMPARE(reader.readAllStandardOutput(), QByteArray("first clip from xclip"));
        stop(first);
        stop(second);
    }

    // The menu's "插件" item (third from the bottom) opens the plugin window.
    void pluginsItemOpensThePluginWindow()
    {
        const auto pluginWindowShown = [] {
            return X11Test::xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                     QStringLiteral("--name"), QStringLiteral("^插件$")});
        };
        QVERIFY(!pluginWindowShown());
        const int closed = visibleWindows();
        QVERIFY(X11Test::xdotool({QStringLiteral("key"), QStringLiteral("super+shift+v")}));
        QTRY_VERIFY_WITH_TIMEOUT(visibleWindows() > closed, 30000);
        for (int i = 0; i < 3; ++i)
            QVERIFY(X11Test::xdotool({QStringLiteral("key"), QStringLiteral("Up")}));
        QVERIFY(X11Test::xdotool({QStringLiteral("key"), QStringLiteral("Return")}));
        QTRY_VERIFY_WITH_TIMEOUT(pluginWindowShown(), 30000);
        // Opening it asked the service for the store's list.
        const auto askedForList = [this] {
            const QList<QByteArray> lines = m_service.requestLines();
            return std::any_of(lines.cbegin(), lines.cend(),
                               [](const QByteArray &line) { return line.startsWith("GET /api/plugins/?"); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(askedForList(), 30000);
    }
};

QUILLET_XVFB_TEST_MAIN(TestTrayEndToEnd)
#include "tst_tray_e2e.moc"
