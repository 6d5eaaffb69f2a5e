// Privacy rules on a real settings file: the keyword lists and their pattern, the keyword
// analysis of texts, and the advanced privacy script in real Lua states.
#include "TestDirs.h"
#include "app/PrivacyCapture.h"
#include "plugins/AdvancePrivacyManager.h"
#include "plugins/PrivacyRules.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/SettingsKeys.h"
#include "store/Utils.h"
#include "support/LuaDeadline.h"

#include <QtTest>

namespace {

QString key(const char *name)
{
    return QLatin1String(name);
}

// A text of exactly `length` UTF-16 code units that holds "password", padded with a
// character outside the basic plane (two code units each).
QString passwordText(qsizetype length)
{
    QString text = QStringLiteral("password");
    while (text.size() + 2 <= length)
        text += QStringLiteral("😀");
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
                                   QStringList{QStringLiteral("口令"), QString(), QStringLiteral("a.c")});
        m_configure = &ConfigureManager::sharedInstance();
        QCOMPARE(m_configure->customKeyWords(), (QStringList{QStringLiteral("口令"), QStringLiteral("a.c")}));
        QCOMPARE(
            m_configure->keyWordsRegPattern(),
            QStringLiteral("密码|用户名|卡号|账户|账号|银行卡|验证码|password|account|username|口令|a.c"));
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
        QTest::newRow("chinese keyword inside") << QStringLiteral("我的密码是123") << true;
        QTest::newRow("mixed case") << QStringLiteral("my PassWord: hunter2") << true;
        QTest::newRow("custom keyword") << QStringLiteral("口令 1234") << true;
        QTest::newRow("unescaped fragment") << QStringLiteral("ABC") << true;
        QTest::newRow("plain sentence") << QStringLiteral("今天天气很好, let's meet at noon") << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("exactly the limit") << passwordText(4096) << true;
        QTest::newRow("one past the limit") << passwordText(4097) << false;
    }
    void keywordAnalysis()
    {
        QFETCH(QString, text);
        QFETCH(bool, secret);
        QCOMPARE(PrivacyRules::isSecret(text), secret);
    }

    void customListLimitAndEdits()
    {
        clearCustomKeyWords();
        QVERIFY(m_configure->addNewWord(QString()));
        QVERIFY(m_configure->customKeyWords().isEmpty());
        for (int i = 0; i < ConfigureManager::kMaxCustomKeyWords; ++i)
            QVERIFY(m_configure->addNewWord(QStringLiteral("word%1").arg(i)));
        QVERIFY(!m_configure->addNewWord(QStringLiteral("one too many")));
        QVERIFY(!m_configure->addNewWord(QString()));
        QCOMPARE(m_configure->customKeyWords().size(), 25);
        QCOMPARE(ClipUserDefaults::stringList(key(SettingsKeys::userKeyWords)).size(), 25);

        m_configure->setKeyWord(QString(), 0);
        m_configure->setKeyWord(QStringLiteral("ignored"), 25);
        m_configure->removeKeyWordAtIndex(25);
        m_configure->removeKeyWordAtIndex(-1);
        QCOMPARE(m_configure->customKeyWords().first(), QStringLiteral("word0"));
        QCOMPARE(m_configure->customKeyWords().size(), 25);

        m_configure->setKeyWord(QStringLiteral("暗号"), 24);
        QCOMPARE(ClipUserDefaults::stringList(key(SettingsKeys::userKeyWords)).last(),
                 QStringLiteral("暗号"));
        QVERIFY(PrivacyRules::isSecret(QStringLiteral("今天的暗号")));

        // An emptied list is stored as an empty array, leaving the system keywords alone.
        clearCustomKeyWords();
        QVERIFY(ClipUserDefaults::contains(key(SettingsKeys::userKeyWords)));
        QVERIFY(ClipUserDefaults::stringList(key(SettingsKeys::userKeyWords)).isEmpty());
        QCOMPARE(m_configure->keyWordsRegPattern(), m_configure->sysKeyWords().join(QLatin1Char('|')));
        QVERIFY(!PrivacyRules::isSecret(QStringLiteral("今天的暗号")));

        // A keyword that is a pattern fragment matches as one.
        QVERIFY(m_configure->addNewWord(QStringLiteral("\\(")));
        QVERIFY(PrivacyRules::isSecret(QStringLiteral("f(x)")));
        clearCustomKeyWords();
    }

    void runawayPatternGivesUp()
    {
        // Exponential backtracking is cut off by the match time limit instead of freezing.
        const QString text = QString(40, QLatin1Char('a')) + QLatin1Char('!');
        QVERIFY(!PrivacyRules::containsKeyword(QStringLiteral("(a|a)+$"), text));
    }

    void defaultScript()
    {
        const std::optional<QString> script = AdvancePrivacyManager::defaultScript();
        QVERIFY(script && script->contains(QLatin1String("function main")));
        AdvancePrivacyManager manager;
        QCOMPARE(manager.testScript(*script), std::nullopt);
        QCOMPARE(manager.saveOptionFrom(QStringLiteral("text"), QString(), QStringLiteral("我的密码是123")),
                 1);
        QCOMPARE(manager.saveOptionFrom(QStringLiteral("text"), QString(), QStringLiteral("hello")), 0);
        QCOMPARE(manager.saveOptionFrom(QStringLiteral("image"), QStringLiteral("data"),
                                        QStringLiteral("image data")),
                 0);
        QCOMPARE(manager.saveOptionFrom(QStringLiteral("file"), QStringLiteral("kdbx"),
                                        QStringLiteral("/home/u/p.kdbx")),
                 1);
        QCOMPARE(manager.saveOptionFrom(QStringLiteral("file"), QStringLiteral("unknow"),
                                        QStringLiteral("/home/u/notes")),
                 0);
    }

    void scriptAnswers_data()
    {
        QTest::addColumn<QString>("returned");
        QTest::addColumn<int>("answer");
        QTest::newRow("one") << QStringLiteral("1") << 1;
        QTest::newRow("minus one") << QStringLiteral("-1") << -1;
        QTest::newRow("numeric string") << QStringLiteral("'1'") << 1;
        QTest::newRow("true") << QStringLiteral("true") << 0;
        QTest::newRow("nil") << QStringLiteral("nil") << 0;
        QTest::newRow("table") << QStringLiteral("{1}") << 0;
        QTest::newRow("word") << QStringLiteral("'secret'") << 0;
        QTest::newRow("out of range") << QStringLiteral("2^32 + 1") << 0;
        QTest::newRow("not a number") << QStringLiteral("0/0") << 0;
        QTest::newRow("error") << QStringLiteral("error('no')") << 0;
    }
    void scriptAnswers()
    {
        QFETCH(QString, returned);
        QFETCH(int, answer);
        AdvancePrivacyManager manager;
        // The trial call (empty content) must pass, or the built-in script would run instead.
        manager.setScriptContent(
            QStringLiteral(
                "function main(from, ext, content) if content == '' then return 0 end return %1 end")
                .arg(returned));
        QCOMPARE(manager.saveOptionFrom(QStringLiteral("text"), QString(), QStringLiteral("x")), answer);
    }

    void trialFailures_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << QString() << QStringLiteral("不能为空!");
        QTest::newRow("no main") << QStringLiteral("x = 1") << QStringLiteral("attempt to call a nil value");
        QTest::newRow("raises at top level")
            << QStringLiteral("error('top level boom')\nfunction main() return 0 end")
            << QStringLiteral("top level boom");
        QTest::newRow("syntax error")
            << QStringLiteral("function main(\n  return 0\nend") << QStringLiteral(":2:");
        QTest::newRow("raises a table")
            << QStringLiteral("function main() error({}) end") << QStringLiteral("table");
        QTest::newRow("endless top level")
            << QStringLiteral("while true do end") << QString::fromUtf8(LuaDeadline::timeoutMessage());
        QTest::newRow("endless main") << QStringLiteral("function main() while true do end end")
                                      << QString::fromUtf8(LuaDeadline::timeoutMessage());
    }
    void trialFailures()
    {
        QFETCH(QString, script);
        QFETCH(QString, message);
        AdvancePrivacyManager manager;
        const std::optional<QString> error = manager.testScript(script);
        QVERIFY(error);
        QVERIFY2(error->contains(message), qPrintable(*error));
    }

    void failingMainForOneKindPassesTrial()
    {
        AdvancePrivacyManager manager;
        const QString script = QStringLiteral("function main(from, ext, content)\n"
                                              "  if from == 'file' then error('no files') end\n"
                                              "  if from == 'image' then while true do end end\n"
                                              "  return 1\nend");
        QCOMPARE(manager.testScript(script), std::nullopt);
        manager.setScriptContent(script);
        QCOMPARE(manager.saveOptionFrom(QStringLiteral("file"), QStringLiteral("txt"),
                                        QStringLiteral("/tmp/a.txt")),
                 0);
        QCOMPARE(manager.saveOptionFrom(QStringLiteral("image"), QStringLiteral("data"),
                                        QStringLiteral("image data")),
                 0);
        QCOMPARE(manager.saveOptionFrom(QStringLiteral("text"), QString(), QStringLiteral("x")), 1);
    }

    void storedScriptFailingItsTrialIsReplacedAtStart_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("no main") << QStringLiteral("function mian() return -1 end");
        QTest::newRow("endless") << QStringLiteral("while true do end");
    }
    void storedScriptFailingItsTrialIsReplacedAtStart()
    {
        QFETCH(QString, script);
        ClipUserDefaults::setValue(key(SettingsKeys::privacy_script), script);
        AdvancePrivacyManager manager;
        QCOMPARE(manager.scriptContent(), script);
        QCOMPARE(ClipUserDefaults::stringValue(key(SettingsKeys::privacy_script)), script);
        // The built-in script answers in its place.
        QCOMPARE(manager.saveOptionFrom(QStringLiteral("text"), QString(), QStringLiteral("我的密码是123")),
                 1);
        QCOMPARE(manager.saveOptionFrom(QStringLiteral("text"), QString(), QStringLiteral("hello")), 0);
    }

    void decisionAtCapture()
    {
        using Decision = ClipPrivacy::Decision;
        PrivacyCapture rules;
        const auto text = [&](const char *content) {
            return rules.decide(ClipFamily::Text, QString(), QString::fromUtf8(content));
        };
        const auto image = [&] {
            return rules.decide(ClipFamily::Image, QStringLiteral("data"), QStringLiteral("image data"));
        };
        const auto file = [&] {
            return rules.decide(ClipFamily::File, QStringLiteral("pdf"), QStringLiteral("/a.pdf"));
        };

        // The simple rules: keywords for texts, never for images, the switch for files.
        QCOMPARE(text("我的密码是123"), Decision::Secret);
        QCOMPARE(text("hello"), Decision::Ordinary);
        QCOMPARE(image(), Decision::Ordinary);
        QCOMPARE(file(), Decision::Secret);
        Utils::setFileAsSecert(false);
        QCOMPARE(file(), Decision::Ordinary);
        Utils::setAnalySecert(false);
        QCOMPARE(text("我的密码是123"), Decision::Ordinary);

        // The advanced mode: the script alone decides, for every kind of clip.
        Utils::setAdvancePrivacy(true);
        AdvancePrivacyManager &script = AdvancePrivacyManager::sharedInstance();
        script.setScriptContent(QStringLiteral("function main() return 1 end"));
        QCOMPARE(image(), Decision::Secret);
        QCOMPARE(file(), Decision::Secret);
        script.setScriptContent(
            QStringLiteral("function main(from) if from == 'image' then return -1 end return 0 end"));
        QCOMPARE(image(), Decision::Drop);
        QCOMPARE(text("hello"), Decision::Ordinary);
        Utils::setAnalySecert(true);
        QCOMPARE(text("我的密码是123"), Decision::Ordinary);
        Utils::setAdvancePrivacy(false);
        QCOMPARE(image(), Decision::Ordinary);
    }

    void globalsPersistBetweenLoads()
    {
        AdvancePrivacyManager manager;
        manager.setScriptContent(QStringLiteral("kept = -1\nfunction main() return 0 end"));
        manager.setScriptContent(
            QStringLiteral("loads = (loads or 0) + 1\nfunction main() return kept * loads end"));
        QCOMPARE(manager.saveOptionFrom(QStringLiteral("text"), QString(), QStringLiteral("x")), -1);
        manager.loadScript();
        QCOMPARE(manager.saveOptionFrom(QStringLiteral("text"), QString(), QStringLiteral("x")), -2);
    }
};

QTEST_GUILESS_MAIN(TestPrivacy)
#include "tst_privacy.moc"
