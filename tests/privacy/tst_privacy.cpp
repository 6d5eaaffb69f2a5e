// Privacy rules on a real settings file: the keyword lists and their pattern, the keyword
// analysis of texts, the advanced privacy script in real Lua states, and the rules applied by
// the real capture.
#include "CaptureWait.h"
#include "TestDirs.h"
#include "TestFiles.h"
#include "TestSync.h"
#include "app/PrivacyCapture.h"
#include "capture/ClipController.h"
#include "platform/MemoryPasteboard.h"
#include "plugins/AdvancePrivacyManager.h"
#include "plugins/PrivacyRules.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "store/Settings.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "support/LuaDeadline.h"
#include "support/Md5.h"

#include <QImage>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QString key(const char *name)
{
    return QLatin1String(name);
}

// A text of exactly `length` UTF-16 code units that holds "password", padded with a
// character outside the basic plane (two code units each).
QString passwordText(qsizetype length)
{
    QString text = u"password"_s;
    while (text.size() + 2 <= length)
        text += u"😀"_s;
    if (text.size() < length)
        text += QLatin1Char('x');
    return text;
}

} // namespace

class TestPrivacy final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    ConfigureManager *m_configure = nullptr;

    void clearCustomKeyWords()
    {
        while (!m_configure->customKeyWords().isEmpty())
            m_configure->removeKeyWordAtIndex(0);
    }

private slots:
    void initTestCase()
    {
        // The manager reads the stored keywords once, when it is created; an empty entry of a
        // hand-edited file is left out, since it would match every text.
        ClipUserDefaults::setValue(key(SettingsKeys::userKeyWords),
                                   QStringList{u"口令"_s, QString(), u"a.c"_s});
        m_configure = &testAccount();
        QCOMPARE(m_configure->customKeyWords(), (QStringList{u"口令"_s, u"a.c"_s}));
        QCOMPARE(m_configure->keyWordsRegPattern(),
                 u"密码|用户名|卡号|账户|账号|银行卡|验证码|password|account|username|口令|a.c"_s);
    }

    void cleanup()
    {
        for (const char *name : {SettingsKeys::analyseSecert, SettingsKeys::fileAsSecert,
                                 SettingsKeys::advancePrivacy, SettingsKeys::privacy_script})
            ClipUserDefaults::remove(key(name));
    }

    void keywordAnalysis_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("secret");
        QTest::newRow("chinese keyword inside") << u"我的密码是123"_s << true;
        QTest::newRow("mixed case") << u"my PassWord: hunter2"_s << true;
        QTest::newRow("custom keyword") << u"口令 1234"_s << true;
        QTest::newRow("unescaped fragment") << u"ABC"_s << true;
        QTest::newRow("plain sentence") << u"今天天气很好, let's meet at noon"_s << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("exactly the limit") << passwordText(4096) << true;
        QTest::newRow("one past the limit") << passwordText(4097) << false;
    }
    void keywordAnalysis()
    {
        QFETCH(QString, text);
        QFETCH(bool, secret);
        QCOMPARE(PrivacyRules::isSecret(text, testAccount()), secret);
    }

    void customListLimitAndEdits()
    {
        clearCustomKeyWords();
        QVERIFY(m_configure->addNewWord(QString()));
        QVERIFY(m_configure->customKeyWords().isEmpty());
        for (int i = 0; i < ConfigureManager::kMaxCustomKeyWords; ++i)
            QVERIFY(m_configure->addNewWord(u"word%1"_s.arg(i)));
        QVERIFY(!m_configure->addNewWord(u"one too many"_s));
        QVERIFY(!m_configure->addNewWord(QString()));
        QCOMPARE(m_configure->customKeyWords().size(), 25);
        QCOMPARE(ClipUserDefaults::stringList(key(SettingsKeys::userKeyWords)).size(), 25);

        m_configure->setKeyWord(QString(), 0);
        m_configure->setKeyWord(u"ignored"_s, 25);
        m_configure->removeKeyWordAtIndex(25);
        m_configure->removeKeyWordAtIndex(-1);
        QCOMPARE(m_configure->customKeyWords().first(), u"word0"_s);
        QCOMPARE(m_configure->customKeyWords().size(), 25);

        m_configure->setKeyWord(u"暗号"_s, 24);
        QCOMPARE(ClipUserDefaults::stringList(key(SettingsKeys::userKeyWords)).last(), u"暗号"_s);
        QVERIFY(PrivacyRules::isSecret(u"今天的暗号"_s, testAccount()));

        // An emptied list is stored as an empty array, leaving the system keywords alone.
        clearCustomKeyWords();
        QVERIFY(ClipUserDefaults::contains(key(SettingsKeys::userKeyWords)));
        QVERIFY(ClipUserDefaults::stringList(key(SettingsKeys::userKeyWords)).isEmpty());
        QCOMPARE(m_configure->keyWordsRegPattern(), m_configure->sysKeyWords().join(QLatin1Char('|')));
        QVERIFY(!PrivacyRules::isSecret(u"今天的暗号"_s, testAccount()));

        // A keyword that is a pattern fragment matches as one.
        QVERIFY(m_configure->addNewWord(u"\\("_s));
        QVERIFY(PrivacyRules::isSecret(u"f(x)"_s, testAccount()));
        clearCustomKeyWords();
    }

    void runawayPatternGivesUp()
    {
        // Exponential backtracking is cut off by the match time limit instead of freezing.
        const QString text = QString(40, QLatin1Char('a')) + QLatin1Char('!');
        QVERIFY(!PrivacyRules::containsKeyword(u"(a|a)+$"_s, text));
    }

    void defaultScript()
    {
        const std::optional<QString> script = AdvancePrivacyManager::defaultScript();
        QVERIFY(script && script->contains("function main"_L1));
        AdvancePrivacyManager manager{testSettings()};
        QCOMPARE(manager.testScript(*script), std::nullopt);
        QCOMPARE(manager.saveOptionFrom(u"text"_s, QString(), u"我的密码是123"_s), 1);
        QCOMPARE(manager.saveOptionFrom(u"text"_s, QString(), u"hello"_s), 0);
        QCOMPARE(manager.saveOptionFrom(u"image"_s, u"data"_s, u"image data"_s), 0);
        QCOMPARE(manager.saveOptionFrom(u"file"_s, u"kdbx"_s, u"/home/u/p.kdbx"_s), 1);
        QCOMPARE(manager.saveOptionFrom(u"file"_s, u"unknow"_s, u"/home/u/notes"_s), 0);
    }

    void scriptAnswers_data()
    {
        QTest::addColumn<QString>("returned");
        QTest::addColumn<int>("answer");
        QTest::newRow("one") << u"1"_s << 1;
        QTest::newRow("minus one") << u"-1"_s << -1;
        QTest::newRow("numeric string") << u"'1'"_s << 1;
        QTest::newRow("true") << u"true"_s << 0;
        QTest::newRow("nil") << u"nil"_s << 0;
        QTest::newRow("table") << u"{1}"_s << 0;
        QTest::newRow("word") << u"'secret'"_s << 0;
        QTest::newRow("out of range") << u"2^32 + 1"_s << 0;
        QTest::newRow("not a number") << u"0/0"_s << 0;
        QTest::newRow("error") << u"error('no')"_s << 0;
    }
    void scriptAnswers()
    {
        QFETCH(QString, returned);
        QFETCH(int, answer);
        AdvancePrivacyManager manager{testSettings()};
        // The trial call (empty content) must pass, or the built-in script would run instead.
        manager.setScriptContent(
            QStringLiteral(
                "function main(from, ext, content) if content == '' then return 0 end return %1 end")
                .arg(returned));
        QCOMPARE(manager.saveOptionFrom(u"text"_s, QString(), u"x"_s), answer);
    }

    void trialFailures_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << QString() << u"不能为空!"_s;
        QTest::newRow("no main") << u"x = 1"_s << u"attempt to call a nil value"_s;
        QTest::newRow("raises at top level")
            << u"error('top level boom')\nfunction main() return 0 end"_s << u"top level boom"_s;
        QTest::newRow("syntax error") << u"function main(\n  return 0\nend"_s << u":2:"_s;
        QTest::newRow("raises a table") << u"function main() error({}) end"_s << u"table"_s;
        QTest::newRow("endless top level")
            << u"while true do end"_s << QString::fromUtf8(LuaDeadline::timeoutMessage());
        QTest::newRow("endless main")
            << u"function main() while true do end end"_s << QString::fromUtf8(LuaDeadline::timeoutMessage());
    }
    void trialFailures()
    {
        QFETCH(QString, script);
        QFETCH(QString, message);
        AdvancePrivacyManager manager{testSettings()};
        const std::optional<QString> error = manager.testScript(script);
        QVERIFY(error);
        QVERIFY2(error->contains(message), qPrintable(*error));
    }

    void failingMainForOneKindPassesTrial()
    {
        AdvancePrivacyManager manager{testSettings()};
        const QString script = QStringLiteral("function main(from, ext, content)\n"
                                              "  if from == 'file' then error('no files') end\n"
                                              "  if from == 'image' then while true do end end\n"
                                              "  return 1\nend");
        QCOMPARE(manager.testScript(script), std::nullopt);
        manager.setScriptContent(script);
        QCOMPARE(manager.saveOptionFrom(u"file"_s, u"txt"_s, u"/tmp/a.txt"_s), 0);
        QCOMPARE(manager.saveOptionFrom(u"image"_s, u"data"_s, u"image data"_s), 0);
        QCOMPARE(manager.saveOptionFrom(u"text"_s, QString(), u"x"_s), 1);
    }

    void storedScriptFailingItsTrialIsReplacedAtStart_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("no main") << u"function mian() return -1 end"_s;
        QTest::newRow("endless") << u"while true do end"_s;
    }
    void storedScriptFailingItsTrialIsReplacedAtStart()
    {
        QFETCH(QString, script);
        ClipUserDefaults::setValue(key(SettingsKeys::privacy_script), script);
        AdvancePrivacyManager manager{testSettings()};
        QCOMPARE(manager.scriptContent(), script);
        QCOMPARE(ClipUserDefaults::stringValue(key(SettingsKeys::privacy_script)), script);
        // The built-in script answers in its place.
        QCOMPARE(manager.saveOptionFrom(u"text"_s, QString(), u"我的密码是123"_s), 1);
        QCOMPARE(manager.saveOptionFrom(u"text"_s, QString(), u"hello"_s), 0);
    }

    // The rules as the capture applies them: the real capture over an in-memory clipboard and
    // this test's store.
    void rulesAtCapture()
    {
        MemoryPasteboard clipboard;
        ClipController capture(clipboard, testFiles());
        AdvancePrivacyManager script{testSettings()};
        qint64 now = 1000;
        int builds = 0;
        capture.setClock([&now] { return ++now; });
        capture.setMenuRebuild([&builds] { ++builds; });
        capture.setPrivacy(std::make_unique<PrivacyCapture>(script, testAccount()));
        QTemporaryDir files;
        int copies = 0;
        // Copies a new clip of this family; answers whether it was stored as a secret, and
        // nothing when it was dropped.
        const auto copy = [&](ClipFamily family, const QString &text = {}) -> std::optional<bool> {
            ++copies;
            if (family == ClipFamily::Text) {
                clipboard.setString(text);
            } else if (family == ClipFamily::Image) {
                QImage image(4, 4, QImage::Format_RGB32);
                image.fill(QColor(copies, 0, 0));
                clipboard.setImage(image);
            } else {
                const QString path = files.filePath(u"keys%1.txt"_s.arg(copies));
                TestFiles::write(path, QByteArray::number(copies));
                clipboard.setFilePaths({path});
            }
            const qint64 before = now;
            capture.seekClipboard();
            waitForCaptures(capture);
            const HistoryModel newest = DBKeeper::getAllHistoryAtCategory(Category::history, 1).value(0);
            return newest.timestamp.value_or(0) > before ? std::optional<bool>(newest.isSecret())
                                                         : std::nullopt;
        };

        // The simple rules: keywords for texts, never for images, the switch for files.
        QCOMPARE(copy(ClipFamily::Text, u"我的密码是123"_s), true);
        QCOMPARE(copy(ClipFamily::Text, u"hello"_s), false);
        QCOMPARE(copy(ClipFamily::Image), false);
        QCOMPARE(copy(ClipFamily::File), true);
        testSettings().setFileAsSecret(false);
        QCOMPARE(copy(ClipFamily::File), false);
        testSettings().setAnalyseSecret(false);
        QCOMPARE(copy(ClipFamily::Text, u"我的密码是456"_s), false);

        // The advanced mode: the script alone decides, for every kind of clip, from the family,
        // the extension and the content (the text, "image data", the file's path).
        testSettings().setAnalyseSecret(true);
        testSettings().setAdvancePrivacy(true);
        script.setScriptContent(
            u"function main(from, ext, content)\n"
            "  if from == 'image' and ext == 'data' and content == 'image data' then return -1 end\n"
            "  if from == 'file' and ext == 'txt' and content:find('/keys', 1, true) then return 1 end\n"
            "  if from == 'text' and ext == '' and content == 'drop me' then return -1 end\n"
            "  return 0\nend"_s);
        QCOMPARE(copy(ClipFamily::Text, u"我的密码是789"_s), false);
        QCOMPARE(copy(ClipFamily::File), true);
        QCoreApplication::processEvents();
        const int buildsBefore = builds;
        QCOMPARE(copy(ClipFamily::Image), std::nullopt);
        QCOMPARE(copy(ClipFamily::Text, u"drop me"_s), std::nullopt);
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(md5_hex(u"drop me"_s))));
        // A dropped clip still rebuilds the menu.
        QTRY_COMPARE(builds, buildsBefore + 2);
        testSettings().setAdvancePrivacy(false);
        QCOMPARE(copy(ClipFamily::Image), false);
    }

    void globalsPersistBetweenLoads()
    {
        AdvancePrivacyManager manager{testSettings()};
        manager.setScriptContent(u"kept = -1\nfunction main() return 0 end"_s);
        manager.setScriptContent(u"loads = (loads or 0) + 1\nfunction main() return kept * loads end"_s);
        QCOMPARE(manager.saveOptionFrom(u"text"_s, QString(), u"x"_s), -1);
        manager.loadScript();
        QCOMPARE(manager.saveOptionFrom(u"text"_s, QString(), u"x"_s), -2);
    }
};

QTEST_GUILESS_MAIN(TestPrivacy)
#include "tst_privacy.moc"
