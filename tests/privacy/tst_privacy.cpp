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
#include "store/DBKeeper.h"
#include "store/SettingsKeys.h"
#include "support/LuaDeadline.h"

#include <QImage>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QString key(const char *name)
{
    return QLatin1String(name);
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
        // A keyword that is no pattern: the list no longer compiles as a whole, and must not
        // switch the other keywords off.
        QVERIFY(m_configure->addNewWord(u"("_s));
    }

    void cleanup()
    {
        for (const char *name : {SettingsKeys::analyseSecert, SettingsKeys::fileAsSecert,
                                 SettingsKeys::advancePrivacy, SettingsKeys::privacy_script})
            ClipUserDefaults::remove(key(name));
    }

    // Any keyword inside the text, in any case, up to the length limit.
    void keywordAnalysis_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("secret");
        QTest::newRow("chinese keyword inside") << u"我的密码是123"_s << true;
        QTest::newRow("mixed case") << u"my PassWord: hunter2"_s << true;
        QTest::newRow("custom keyword") << u"口令 1234"_s << true;
        QTest::newRow("unescaped fragment") << u"ABC"_s << true;
        QTest::newRow("plain sentence") << u"今天天气很好, let's meet at noon"_s << false;
        // The limit counts UTF-16 code units.
        const QString atTheLimit = u"password"_s + u"😀"_s.repeated(2044);
        QTest::newRow("exactly the limit") << atTheLimit << true;
        QTest::newRow("one past the limit") << atTheLimit + u"x"_s << false;
    }
    void keywordAnalysis()
    {
        QFETCH(QString, text);
        QFETCH(bool, secret);
        QCOMPARE(PrivacyRules::isSecret(text, testAccount()), secret);
    }

    // At most 25 custom keywords; an emptied list is stored as an empty array, leaving the
    // system keywords alone. Exponential backtracking is cut off by the match time limit.
    void customListLimitAndRunawayPatterns()
    {
        clearCustomKeyWords();
        for (int i = 0; i < ConfigureManager::kMaxCustomKeyWords; ++i)
            QVERIFY(m_configure->addNewWord(u"word%1"_s.arg(i)));
        QVERIFY(!m_configure->addNewWord(u"one too many"_s));
        m_configure->setKeyWord(u"ignored"_s, 25); // indexes out of range change nothing
        m_configure->removeKeyWordAtIndex(-1);
        QCOMPARE(ClipUserDefaults::stringList(key(SettingsKeys::userKeyWords)).size(), 25);
        clearCustomKeyWords();
        QVERIFY(ClipUserDefaults::contains(key(SettingsKeys::userKeyWords)));
        QCOMPARE(m_configure->keyWordsRegPattern(), m_configure->sysKeyWords().join(QLatin1Char('|')));
        QVERIFY(!PrivacyRules::containsKeyword(u"(a|a)+$"_s, QString(40, QLatin1Char('a')) + u"!"_s));
    }

    void defaultScript()
    {
        AdvancePrivacyManager manager{testSettings()};
        QCOMPARE(manager.testScript(*AdvancePrivacyManager::defaultScript()), std::nullopt);
        QCOMPARE(manager.saveOptionFrom(u"file"_s, u"kdbx"_s, u"/home/u/p.kdbx"_s), 1);
    }

    // Only 1 and -1 (or their strings) are verdicts; anything else keeps the clip as it is.
    void scriptAnswers_data()
    {
        QTest::addColumn<QString>("returned");
        QTest::addColumn<int>("answer");
        QTest::newRow("one") << u"1"_s << 1;
        QTest::newRow("minus one") << u"-1"_s << -1;
        QTest::newRow("numeric string") << u"'1'"_s << 1;
        QTest::newRow("table") << u"{1}"_s << 0;
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
        QTest::newRow("no main") << u"x = 1"_s << u"attempt to call a nil value"_s;
        QTest::newRow("syntax error") << u"function main(\n  return 0\nend"_s << u":2:"_s;
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

    // A script that runs out of time for one kind of clip passes its trial (on a text) and keeps
    // those clips as they are; a stored script that fails its trial leaves the built-in one to
    // answer.
    void failingScriptsKeepClipsAsTheyAre()
    {
        AdvancePrivacyManager manager{testSettings()};
        const QString script = QStringLiteral("function main(from, ext, content)\n"
                                              "  if from == 'image' then while true do end end\n"
                                              "  return 1\nend");
        QCOMPARE(manager.testScript(script), std::nullopt);
        manager.setScriptContent(script);
        QCOMPARE(manager.saveOptionFrom(u"image"_s, u"data"_s, u"image data"_s), 0);

        ClipUserDefaults::setValue(key(SettingsKeys::privacy_script), u"while true do end"_s);
        AdvancePrivacyManager stored{testSettings()};
        QCOMPARE(stored.scriptContent(), u"while true do end"_s);
        QCOMPARE(stored.saveOptionFrom(u"text"_s, QString(), u"我的密码是123"_s), 1);
    }

    // The rules as the capture applies them: the real capture over an in-memory clipboard and
    // this test's store.
    void rulesAtCapture()
    {
        MemoryPasteboard clipboard;
        ClipController capture(clipboard, testFiles());
        AdvancePrivacyManager script{testSettings()};
        qint64 now = 1000;
        capture.setClock([&now] { return ++now; });
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
        QCOMPARE(copy(ClipFamily::Image), false);
        QCOMPARE(copy(ClipFamily::File), true);
        testSettings().setFileAsSecret(false);
        QCOMPARE(copy(ClipFamily::File), false);

        // The advanced mode: the script alone decides, for every kind of clip, from the family,
        // the extension and the content (the text, "image data", the file's path).
        testSettings().setAdvancePrivacy(true);
        script.setScriptContent(
            u"function main(from, ext, content)\n"
            "  if from == 'image' and ext == 'data' and content == 'image data' then return -1 end\n"
            "  if from == 'file' and ext == 'txt' and content:find('/keys', 1, true) then return 1 end\n"
            "  if from == 'text' and ext == '' and content == 'drop me' then return -1 end\n"
            "  return 0\nend"_s);
        QCOMPARE(copy(ClipFamily::Text, u"我的密码是789"_s), false);
        QCOMPARE(copy(ClipFamily::File), true);
        QCOMPARE(copy(ClipFamily::Image), std::nullopt);
        QCOMPARE(copy(ClipFamily::Text, u"drop me"_s), std::nullopt);
        // A password manager's hint beats the script.
        clipboard.setString(u"from the vault"_s);
        clipboard.setSecretHint(true);
        captureNow(capture);
        QVERIFY(DBKeeper::getAllHistoryAtCategory(Category::history, 1).value(0).content
                != u"from the vault"_s);
    }
};

QTEST_GUILESS_MAIN(TestPrivacy)
#include "tst_privacy.moc"
