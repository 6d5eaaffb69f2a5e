// The whole program, started on a damaged history database under a private X server with a
// tray host: the file is moved aside, a fresh history is started, and the user sees a message
// at the tray item.
#include "TestDirs.h"
#include "X11TestMain.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

using X11Test::stop;

namespace {

// The visible windows of one process: its tray icon, and the message while it shows.
int visibleWindowsOf(qint64 pid)
{
    QProcess search;
    search.start(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--pid"_s, QString::number(pid)});
    search.waitForFinished(10000);
    const QByteArray ids = search.readAllStandardOutput().trimmed();
    return ids.isEmpty() ? 0 : int(ids.count('\n')) + 1;
}

} // namespace

class TestStoreAlertEndToEnd final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QProcess m_tray;
    QProcess m_quillet;

private Q_SLOTS:
    void initTestCase()
    {
        for (const char *tool : {"trayer", "xdotool"}) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP("a tool of this test is not installed (trayer, xdotool)");
        }
        m_tray.start(u"trayer"_s, {u"--edge"_s, u"top"_s, u"--height"_s, u"32"_s});
        QVERIFY(m_tray.waitForStarted());
    }

    void cleanupTestCase()
    {
        stop(m_quillet);
        stop(m_tray);
    }

    void damagedDatabaseIsReportedAtTheTrayItem()
    {
        QFile damaged(QDir(m_dirs.dataPath()).filePath(u"clipDB.sqlite"_s));
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write(QByteArray(4096, 'x'));
        damaged.close();

        m_quillet.setProcessChannelMode(QProcess::ForwardedChannels);
        m_quillet.start(QStringLiteral(QUILLET_PROGRAM), {});
        QVERIFY(m_quillet.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(
            QDir(m_dirs.dataPath()).entryList({u"clipDB.sqlite.damaged-*"_s}, QDir::Files).size(), 1, 20000);
        // The tray icon and the message beside it.
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindowsOf(m_quillet.processId()), 2, 20000);
        QCOMPARE(m_quillet.state(), QProcess::Running);
    }
};

QUILLET_XVFB_TEST_MAIN(TestStoreAlertEndToEnd)
#include "tst_store_alert_e2e.moc"
