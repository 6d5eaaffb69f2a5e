// The settings file: defaults, switches, the account and sign-out, version comparison.
#include "TestDirs.h"
#include "TestSync.h"
#include "store/ClipFileManager.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"

#include <QtTest>

#include <cmath>

using namespace Qt::StringLiterals;

class TestSettings final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    int m_logins = 0;
    int m_logouts = 0;
    int m_rowsAtLogout = -1;

    static QString key(const char *name) { return QLatin1String(name); }

    // Every key the signed-in account leaves in the settings file, and one that is no account's.
    static void storeAccountKeys()
    {
        testAccount().setLoginUserId(u"7"_s);
        testAccount().setLoginUserEmail(u"me@example.org"_s);
        QVERIFY(testSettings().setPullCursor(42));
        testSettings().setBrokerCredentials(std::pair(u"7"_s, u"broker secret"_s));
        Settings::setDeviceToken(u"0123456789abcdef0123456789abcdef"_s);
    }

    static void verifyAccountForgotten()
    {
        for (const char *name :
             {SettingsKeys::loginUserToken, SettingsKeys::loginUserId, SettingsKeys::loginUserEmail,
              SettingsKeys::lastPullRequestTime, SettingsKeys::mqttUserName, SettingsKeys::mqttPassword,
              SettingsKeys::categories})
            QVERIFY2(!ClipUserDefaults::contains(key(name)), name);
        QVERIFY(testAccount().loginUserEmail().isEmpty());
        QVERIFY(testAccount().loginUserId().isEmpty());
        QCOMPARE(Settings::pullCursor(), u"0"_s);
        QCOMPARE(Settings::deviceToken(), u"0123456789abcdef0123456789abcdef"_s);
    }

private slots:
    void initTestCase()
    {
        ConfigureManager &account = testAccount();
        connect(&account, &ConfigureManager::signedIn, this, [this] { ++m_logins; });
        connect(&account, &ConfigureManager::signedOut, this, [this] {
            ++m_logouts;
            m_rowsAtLogout = int(DBKeeper::getAllHistory().size() + DBKeeper::getAllFavourites().size());
        });
    }

    void tokenSetTwicePostsLoginTwice()
    {
        testAccount().setLoginUserEmail(u"me@example.org"_s);
        testAccount().setLoginUserToken(u"tok"_s);
        testAccount().setLoginUserToken(u"tok"_s);
        QTRY_COMPARE(m_logins, 2);
        QVERIFY(testAccount().isSignedIn());
        QCOMPARE(ClipUserDefaults::stringValue(key(SettingsKeys::loginUserToken)), u"tok"_s);
    }

    void signOutWipesRowsAndFilesBeforeNotifying()
    {
        const QByteArray bytes("favourite payload");
        HistoryModel clip;
        clip.content = u"x"_s;
        clip.file_hash = u"0123456789abcdef0123456789abcdef"_s;
        clip.type = u"image_data+zip"_s;
        testFiles().saveClipData(bytes, clip);
        clip.save();
        clip.category = Category::favourite;
        clip.favourite = 1;
        clip.save();
        ClipUserDefaults::setValue(key(SettingsKeys::categories), u"old"_s);
        storeAccountKeys();

        testAccount().setLoginUserToken(std::nullopt);
        QTRY_COMPARE(m_logouts, 1);
        QCOMPARE(m_rowsAtLogout, 0);
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(clip.hash())));
        QVERIFY(!QFile::exists(PathHelper::getZipsFilePath(clip.hash())));
        QVERIFY(!testAccount().isSignedIn());
        verifyAccountForgotten();
    }

    // The service ending the sign-in (an expired token) forgets the account as any sign-out
    // does, so the next sign-in pulls from the start, but keeps every local clip.
    void signInEndedByTheServiceKeepsTheHistory()
    {
        QSignalSpy ended(&testAccount(), &ConfigureManager::signInEnded);
        HistoryModel clip;
        clip.content = u"never left this computer"_s;
        clip.file_hash = u"fedcba9876543210fedcba9876543210"_s;
        clip.save();
        testAccount().setLoginUserToken(u"tok"_s);
        storeAccountKeys();
        const int logoutsBefore = m_logouts;

        testAccount().endSignInByService();
        testAccount().endSignInByService(); // a second refusal of the same sign-in
        QTRY_COMPARE(m_logouts, logoutsBefore + 1);
        QCOMPARE(ended.size(), 1);
        QVERIFY(!testAccount().isSignedIn());
        QCOMPARE(m_rowsAtLogout, 1);
        verifyAccountForgotten();
        QVERIFY(ClipUserDefaults::contains(key(SettingsKeys::deviceToken)));
        DBKeeper::removeAllData();
    }

    void versionComparison_data()
    {
        QTest::addColumn<QString>("one");
        QTest::addColumn<QString>("two");
        QTest::addColumn<QString>("larger");
        const auto row = [](const char *tag, const char *one, const char *two, const char *larger) {
            QTest::newRow(tag) << QString::fromLatin1(one) << QString::fromLatin1(two)
                               << QString::fromLatin1(larger);
        };
        row("same length", "1.2.3", "1.10.0", "1.10.0");
        row("trailing zero equal", "1.2", "1.2.0", "");
        row("extra component", "1.2.1", "1.2", "1.2.1");
        row("leading digits", "2.0beta", "1.9", "2.0beta");
        row("no digits counts as 0", "1.x", "1.0", "");
    }

    void versionComparison()
    {
        QFETCH(QString, one);
        QFETCH(QString, two);
        QFETCH(QString, larger);
        QCOMPARE(Utils::largeVersion(one, two).value_or(QString()), larger);
    }

    void updateNoticeOnlyForNewerVersion()
    {
        const QString newversion = key(SettingsKeys::newversion);
        ClipUserDefaults::setValue(newversion, Utils::appVersion());
        QVERIFY(!Utils::isNeedShowUpdate());
        ClipUserDefaults::setValue(newversion, u"999.0"_s);
        QVERIFY(Utils::isNeedShowUpdate());
        ClipUserDefaults::setValue(newversion, u"0.0.1"_s);
        QVERIFY(!Utils::isNeedShowUpdate());
        ClipUserDefaults::setValue(newversion, QString());
        QVERIFY(!Utils::isNeedShowUpdate());
    }

    // Stored values that would do harm read as their defaults, and are never written.
    void damagedValuesReadAsDefaults()
    {
        const QString cursorKey = QLatin1String(SettingsKeys::lastPullRequestTime);
        for (const char *damaged : {"-5", "soon", ""}) {
            ClipUserDefaults::setValue(cursorKey, QString::fromLatin1(damaged));
            QCOMPARE(Settings::pullCursor(), u"0"_s);
        }
        QVERIFY(!testSettings().setPullCursor(-1));
        QVERIFY(testSettings().setPullCursor(1700000000));
        QCOMPARE(Settings::pullCursor(), u"1700000000"_s);

        const QString speedKey = QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED);
        for (const double insane : {0.0, -1.0, 1e9, std::nan("")}) {
            ClipUserDefaults::setValue(speedKey, insane);
            QCOMPARE(Settings::pollIntervalSeconds(), 0.6);
        }
        ClipUserDefaults::setValue(speedKey, u"0.3"_s);
        QCOMPARE(Settings::pollIntervalSeconds(), 0.3);
        ClipUserDefaults::remove(speedKey);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
