// The status menu's sync commands against the real quillet-sync-server (offscreen): a sign-in
// pulls the clips of the other devices, the history sync runs one pull at a time, and deleting
// a pushed clip goes through the service; the tray item shows transfers while they run.
#include "RequestOutcome.h"
#include "ServerHarness.h"
#include "SyncClient.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "menu/MenuController.h"
#include "menu/StatusBarController.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryModel.h"
#include "support/MainQueue.h"
#include "support/Md5.h"
#include "sync/ProgressManager.h"

#include <QJsonArray>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestMenuSync final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    ServerHarness m_server;
    MenuController m_menus{testSync()};
    StatusBarController m_tray{m_menus, testSync().progress()};

private slots:
    void initTestCase()
    {
        // Pages of two records, so that a sign-in has to follow the pages to reach the newest.
        ServerHarness::Options options;
        options.config.insert(u"max_pull_records"_s, 2);
        QVERIFY(m_server.start(options));
        qputenv("QUILLET_API_URL", m_server.apiUrl().toUtf8());
    }

    // The tray item's spinner turns while any transfer is short of complete, and stops at
    // exactly 1.0: the last byte of a payload at the size limit still counts as busy.
    void busyIndicatorStopsOnlyWhenTransfersAreComplete()
    {
        StatusBarController &tray = m_tray;
        QSignalSpy changes(&tray, &StatusBarController::loadingChanged);
        constexpr qint64 total = 5767168;
        bool handled = false;
        for (const qint64 completed : {qint64(0), total / 2, total - 1}) {
            testSync().progress().progress(completed, total, {});
            handled = false;
            dispatchMain([&handled] { handled = true; });
            QTRY_VERIFY(handled);
            QVERIFY(tray.isLoading());
        }
        testSync().progress().progress(total, total, {});
        QTRY_VERIFY(!tray.isLoading());
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes.at(0).at(0).toBool(), true);
        QCOMPARE(changes.at(1).at(0).toBool(), false);
    }

    void signInPullsAndSyncRunsOnce()
    {
        // The other device of the account has five clips with their payloads on the service;
        // the newest one is the last.
        SyncClient other(m_server.origin(), u"other-device"_s);
        QCOMPARE(other.registerUser(u"menu@example.org"_s, u"pw"_s).code(), 0);
        QByteArray payload;
        for (int i = 0; i < 5; ++i) {
            payload = "copied on the other computer, number " + QByteArray::number(i);
            const QJsonObject record = SyncClient::textRecord(QString::fromUtf8(payload), 1700002000 + i);
            QCOMPARE(other.upload(other.pushed(record), payload).status, 200);
        }

        // Signing in here pulls them all, page after page (the account's signedIn), and the file lane
        // fetches their payloads.
        QCOMPARE(signIn(u"menu@example.org"_s, u"pw"_s).code(), 0);
        QVERIFY(QTest::qWaitFor(
            [&] { return storedClip(QString::fromUtf8(payload)).local_file_ok.value_or(0) == 1; }, 20000));
        QVERIFY(QTest::qWaitFor([this] { return !m_menus.actions().isRefresh(); }, 20000));
        QCOMPARE(DBKeeper::getAllHistory().size(), 5);
        QTRY_VERIFY(!m_tray.isLoading());

        // The history sync: a second choice while the first runs starts nothing.
        MenuController &menus = m_menus;
        menus.actions().push();
        QVERIFY(menus.actions().isRefresh());
        menus.actions().push();
        QVERIFY(QTest::qWaitFor([&] { return !menus.actions().isRefresh(); }, 20000));

        // Deleting the clip here deletes it on the service; the other device learns of it.
        qint64 cursor = 0;
        for (HttpReply page; cursor == 0 || page.value("has_more").toBool();)
            cursor = (page = other.pull(cursor)).cursor();
        menus.actions().deleteClip(storedClip(QString::fromUtf8(payload)));
        QVERIFY(QTest::qWaitFor([&] { return !storedClip(QString::fromUtf8(payload)).isExist(); }, 20000));
        const HttpReply after = other.pull(cursor);
        QCOMPARE(after.value("action").toArray().size(), 1);

        QVERIFY(QTest::qWaitFor([] { return !testSync().fileLane().isRunning(); }, 20000));
        testAccount().setLoginUserToken(std::nullopt);
    }
};

QTEST_MAIN(TestMenuSync)
#include "tst_menu_sync.moc"
