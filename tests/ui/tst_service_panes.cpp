// The about pane's version check and the general pane's clear of a signed-in history, driven
// through their widgets (offscreen) against the real quillet-sync-server on 127.0.0.1, and
// against a recording server for replies the real one never gives.
#include "RecordingHttpServer.h"
#include "RequestOutcome.h"
#include "ServerHarness.h"
#include "SettingsTestHelpers.h"
#include "SyncClient.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "menu/ClipFixtures.h"
#include "store/ClipFileManager.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/HistoryModel.h"
#include "store/PathHelper.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "support/Md5.h"
#include "ui/AboutViewController.h"
#include "ui/GeneralViewController.h"
#include "ui/SettingWindowController.h"

#include <QDesktopServices>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace SettingsTestHelpers;
using namespace Qt::StringLiterals;

namespace {

SettingWindowController &window()
{
    return sharedSettingsWindow();
}

std::optional<QString> storedVersion()
{
    return ClipUserDefaults::stringValue(QLatin1String(SettingsKeys::newversion));
}

void useService(const QString &apiUrl)
{
    qputenv("QUILLET_API_URL", apiUrl.toUtf8());
}

} // namespace

class TestServicePanes final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    ServerHarness m_server;
    UrlCatcher m_urls;
    int m_versionsStored = 0; // what the program rebuilds its menu on
    const QString m_running = Utils::appVersion();

    // The service offers this version from now on.
    bool offer(const QString &version,
               const QString &downloadUrl = u"https://127.0.0.1:8443/quillet.tar.xz"_s)
    {
        // Killed, not stopped: a stopping service waits for the idle keep-alive connections.
        m_server.killService();
        const bool started = m_server.restartService(
            {{u"version"_s, version},
             {u"update_info"_s, u"修复了若干问题 <a href=\"file:///etc/passwd\">notes</a>"_s},
             {u"download_url"_s, downloadUrl}});
        useService(m_server.apiUrl());
        return started;
    }

    // Presses the check button of a fresh about pane and waits for the reply to arrive.
    static void check()
    {
        auto *about = showPane<AboutViewController>(window(), SettingWindowController::About);
        QPushButton *button = about->checkUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 20000); // a check the pane started itself
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!button->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 20000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.start());
        useService(m_server.apiUrl());
        for (const QString &scheme : {u"http"_s, u"https"_s, u"file"_s})
            QDesktopServices::setUrlHandler(scheme, &m_urls, "openUrl");
        connect(&testSettings(), &Settings::changed, this, [this](Settings::Key key) {
            if (key == Settings::Key::OfferedVersion)
                ++m_versionsStored;
        });
        window().showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&window()));
    }

    void cleanupTestCase()
    {
        for (const QString &scheme : {u"http"_s, u"https"_s, u"file"_s})
            QDesktopServices::unsetUrlHandler(scheme);
    }

    void aboutPaneComparesWithTheServiceVersion()
    {
        // Equal when the extra parts add up to nothing ("2.1" against "2.1.0"), and an older
        // offer: the running version is current. The offer is kept all the same.
        for (const QString &offered : {QString(m_running + u".0"_s), u"0"_s}) {
            QVERIFY(offer(offered));
            auto *about = showPane<AboutViewController>(window(), SettingWindowController::About);
            const int storesBefore = m_versionsStored;
            QTest::mouseClick(about->checkUpdate(), Qt::LeftButton);
            QVERIFY(!about->checkUpdate()->isEnabled());
            QMessageBox *sheet = waitForAlert(u"您当前的版本是最新版"_s);
            QVERIFY(sheet);
            QVERIFY(about->checkUpdate()->isEnabled());
            QCOMPARE(storedVersion(), offered);
            QCOMPARE(m_versionsStored, storesBefore + 1);
            QCOMPARE(window().currentViewController(), about); // the pane was not replaced
            alertButton(sheet, u"知道了"_s)->click();
        }

        // "2.1.0.1" against "2.1.0": newer. The sheet names it and shows the notes as text.
        const QString newer = m_running + u".1"_s;
        QVERIFY(offer(newer));
        m_urls.urls.clear();
        check();
        QMessageBox *sheet = waitForAlert(u"新版本："_s + newer);
        QVERIFY(sheet);
        const QList<QLabel *> labels = sheet->findChildren<QLabel *>();
        const auto notes = std::find_if(labels.begin(), labels.end(),
                                        [](QLabel *label) { return label->text().contains(u"notes"_s); });
        QVERIFY(notes != labels.end());
        QCOMPARE((*notes)->textFormat(), Qt::PlainText); // no link that the box would open
        QCOMPARE(storedVersion(), newer);
        alertButton(sheet, u"去下载"_s)->click();
        QTRY_COMPARE(m_urls.urls, QList<QUrl>{QUrl(u"https://127.0.0.1:8443/quillet.tar.xz"_s)});

        // While an update is pending the pane checks by itself when it opens. A download
        // address that is no web address is never opened: the sheet only names the version.
        for (const QString &address :
             {u"file:///tmp/quillet.desktop"_s, u"javascript:alert(1)"_s, QString()}) {
            QVERIFY(offer(newer, address));
            showPane<GeneralViewController>(window(), SettingWindowController::General);
            showPane<AboutViewController>(window(), SettingWindowController::About);
            sheet = waitForAlert(u"新版本："_s + newer);
            QVERIFY(sheet);
            QVERIFY(!alertButton(sheet, u"去下载"_s));
            alertButton(sheet, u"知道了"_s)->click();
        }
        QCOMPARE(m_urls.urls.size(), 1);
    }

    void failedChecksAreSilent()
    {
        ClipUserDefaults::remove(QLatin1String(SettingsKeys::newversion));
        const int storesBefore = m_versionsStored;

        // No service.
        m_server.killService();
        check();
        QVERIFY(!anyAlertOpen());

        // A refusal, and offers that are no version: nothing is stored or shown.
        RecordingHttpServer wire;
        useService(wire.origin() + u"/api"_s);
        const QByteArray longVersion = "1." + QByteArray(40, '0');
        for (const QByteArray &body :
             {QByteArray(R"({"code":1,"data":{"version":"9.9"}})"),
              QByteArray(R"({"code":0,"data":{"version":99}})"),
              QByteArray(R"({"code":0,"data":{"version":"9.9 <b>now</b>"}})"),
              QByteArray(R"({"code":0,"data":{"version":")" + longVersion + R"("}})"),
              QByteArray("<html>busy</html>")}) {
            wire.setReply(200, body);
            const int requestsBefore = int(wire.requestLines().size());
            check();
            QCOMPARE(wire.requestLines().size(), requestsBefore + 1);
            QVERIFY(!anyAlertOpen());
        }
        QVERIFY(!storedVersion());
        QCOMPARE(m_versionsStored, storesBefore);
    }

    void signedInClearGoesThroughTheService()
    {
        QVERIFY(m_server.restartService());
        useService(m_server.apiUrl());
        const QString email = u"clear@example.org"_s;
        QCOMPARE(registerAccount(email, u"pw"_s).code(), 0);
        QVERIFY(testAccount().isSignedIn());

        // Two clips on the service from another device; three local clips and a favourite.
        SyncClient other(m_server.origin(), u"other-device"_s);
        QCOMPARE(other.login(email, u"pw"_s).code(), 0);
        for (const QString &text : {u"one"_s, u"two"_s})
            QCOMPARE(other.pushRecord(SyncClient::textRecord(text, 1700000001)).code(), 0);
        DBKeeper::removeAllData();
        for (const QString &text : {u"a"_s, u"b"_s, u"c"_s})
            ClipFixtures::text(text, 1700000000, Category::history, 0);
        ClipFixtures::text(u"liked"_s, 1700000000, Category::history, 1700000000);
        ClipFixtures::text(u"liked"_s, 1700000000, Category::favourite, 1700000000);

        // Every failure leaves the local history as it was: no service, a refusal, no JSON.
        m_server.killService();
        QVERIFY(confirmClear(window()));
        QVERIFY(answerAlert(u"清空失败"_s, u"知道了"_s));
        QCOMPARE(storedRowCount(), 5);
        RecordingHttpServer wire;
        useService(wire.origin() + u"/api"_s);
        for (const QByteArray &body :
             {QByteArray(R"({"code":1,"count":2})"), QByteArray("<html>busy</html>")}) {
            wire.setReply(200, body);
            QVERIFY(confirmClear(window()));
            QVERIFY(answerAlert(u"清空失败"_s, u"知道了"_s));
            QCOMPARE(storedRowCount(), 5);
        }
        QCOMPARE(wire.requestLines().size(), 2);
        QVERIFY(wire.requestLines().first().startsWith("GET /api/clear_history/?"));

        // The service clears its two; here the three go, the favourite and its file stay.
        QVERIFY(m_server.restartService());
        useService(m_server.apiUrl());
        QVERIFY(confirmClear(window()));
        QVERIFY(answerAlert(u"共清空了：2条"_s, u"知道了"_s));
        QCOMPARE(DBKeeper::getAllHistory().size(), 1);
        QCOMPARE(DBKeeper::getAllFavourites().size(), 1);
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(md5_hex(u"a"_s))));
        QVERIFY(QFile::exists(PathHelper::getBaseFilePath(md5_hex(u"liked"_s))));
        QVERIFY(other.pull(0).histories().isEmpty());

        // A service that cleared but names no usable number: the rows cleared here are shown.
        ClipFixtures::text(u"d"_s, 1700000000, Category::history, 0);
        useService(wire.origin() + u"/api"_s);
        for (const QByteArray &body :
             {QByteArray(R"({"code":0,"count":-4})"), QByteArray(R"({"code":0,"count":"many"})")}) {
            wire.setReply(200, body);
            QVERIFY(confirmClear(window()));
            QVERIFY(answerAlert(body.contains("-4") ? u"共清空了：1条"_s : u"共清空了：0条"_s, u"知道了"_s));
        }
        QCOMPARE(DBKeeper::getAllFavourites().size(), 1);
        testAccount().setLoginUserToken(std::nullopt);
    }
};

QTEST_MAIN(TestServicePanes)
#include "tst_service_panes.moc"
