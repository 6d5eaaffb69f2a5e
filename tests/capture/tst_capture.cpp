// The capture pipeline on an in-memory clipboard, with the real store in temporary folders; the
// clip kinds it stores: type names, the text abstract, the thumbnail and the TIFF of images; the
// privacy rules on a real settings file: keyword lists and analysis, the advanced privacy script
// in real Lua states, and the rules applied by the capture.
#include "CaptureTestSupport.h"
#include "CaptureWait.h"
#include "ClipboardPrograms.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "app/PrivacyCapture.h"
#include "capture/ClipImage.h"
#include "capture/ClipKinds.h"
#include "platform/MemoryPasteboard.h"
#include "plugins/AdvancePrivacyManager.h"
#include "plugins/PrivacyRules.h"
#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"
#include "support/LuaDeadline.h"
#include "support/Md5.h"

#include <QColorSpace>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace CaptureTest;

class TestCapture final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QTemporaryDir m_files;
    std::unique_ptr<MemoryPasteboard> m_clipboard;
    std::unique_ptr<ClipController> m_controller;
    qint64 m_now = 1000;
    int m_historyRuns = 0;

    void startController()
    {
        m_controller = std::make_unique<ClipController>(*m_clipboard, testFiles());
        m_controller->setClock([this] { return m_now; });
        m_controller->setHistoryProcess([this] { ++m_historyRuns; });
    }

    QString makeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_files.filePath(name);
        return TestFiles::write(path, bytes) ? path : QString();
    }

    // One poll, a second after the last; a copy in another program is followed by one.
    void poll()
    {
        m_now += 1;
        m_controller->seekClipboard();
        QVERIFY(waitForCaptures(*m_controller));
    }
    void copyText(const QString &text)
    {
        m_clipboard->setString(text);
        poll();
    }

private slots:
    void initTestCase()
    {
        // The manager reads the stored keywords once, when it is created; an empty entry of a
        // hand-edited file is left out, since it would match every text.
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::userKeyWords),
                                   QStringList{u"口令"_s, QString(), u"a.c"_s});
        QCOMPARE(testAccount().customKeyWords(), (QStringList{u"口令"_s, u"a.c"_s}));
        // A keyword that is no pattern: the list no longer compiles as a whole, and must not
        // switch the other keywords off.
        QVERIFY(testAccount().addNewWord(u"("_s));
    }

    void init()
    {
        DBKeeper::removeAllData();
        m_clipboard = std::make_unique<MemoryPasteboard>();
        m_historyRuns = 0;
        startController();
    }

    // A text is stored with its payload; it stops at a NUL character. A poll acts
    // only when the counter moved.
    void textBecomesAHistoryRow()
    {
        copyText(u"Hello\n  clipboard"_s + QChar(u'\0') + u"after"_s);
        poll();
        const HistoryModel row = historyRows().value(0);
        QCOMPARE(payload(row.hash()), QByteArray("Hello\n  clipboard"));
        QCOMPARE(m_historyRuns, 1);
    }

    // A reported change is captured at the next turn of the event loop, without waiting for
    // the timer (10 s here); changes reported before that turn share one capture, of the newest
    // content. Without reports, the timer alone captures; a new start captures what is there.
    void reportedChangesAndTheTimer()
    {
        const auto top = [] { return historyRows().value(0).hash(); };
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED), 10);
        m_controller->startClipObserver();
        m_clipboard->setString(u"first"_s);
        m_clipboard->setString(u"second"_s);
        QCOMPARE(m_historyRuns, 0); // not inside the copying code
        QTRY_COMPARE_WITH_TIMEOUT(m_historyRuns, 1, 5000);
        QCOMPARE(top(), md5_hex(u"second"_s));

        m_clipboard->setReportsChanges(false);
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED), 0.1);
        m_controller->startClipObserver();
        m_now += 1;
        m_clipboard->setString(u"found by the timer"_s);
        QTRY_COMPARE(top(), md5_hex(u"found by the timer"_s));
        ClipUserDefaults::remove(QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED));

        startController();
        poll();
        QCOMPARE(historyRows().first().timestamp.value_or(0), m_now);
        QCOMPARE(historyRows().size(), 2);
    }

    // Content already stored is moved to the top, keeping its own fields (the secret mark).
    void storedContentMovesToTopWithoutNewRow()
    {
        copyText(u"alpha"_s);
        copyText(u"beta"_s);
        HistoryModel stored;
        stored.file_hash = md5_hex(u"alpha"_s);
        stored.signSecret(true);
        copyText(u"alpha"_s);
        const QList<HistoryModel> rows = historyRows();
        QCOMPARE(rows.size(), 2);
        QVERIFY(rows.first().hash() == stored.hash() && rows.first().isSecret());
    }

    // Every capture trims the history to the length of the settings, the oldest clips and
    // their payload files first.
    void captureKeepsTheHistoryLength()
    {
        testSettings().setHistoryLength(10);
        for (int i = 0; i < 12; ++i)
            copyText(u"clip %1"_s.arg(i));
        QCOMPARE(historyRows().size(), 10);
        QVERIFY(payload(md5_hex(u"clip 0"_s)).isEmpty());
        testSettings().setHistoryLength(SettingsDefaults::historyLength);
    }

    // A file up to the size limit is copied; among several files, an image and a text, the
    // first file counts.
    void fileBecomesAFileClipWithArchive()
    {
        const QByteArray bytes(5767168, 'f');
        m_clipboard->setContent({makeFile(u"limit.bin"_s, bytes), makeFile(u"two.txt"_s, "two")},
                                gradientImage(8, 8), u"limit.bin"_s);
        poll();
        const HistoryModel row = historyRows().value(0);
        QCOMPARE(row.typeName(), u"file_bin+zip"_s);
        QCOMPARE(readArchive(PathHelper::getZipsFilePath(row.hash())).value(0).content, bytes);
    }

    void filesThatAreNoClips()
    {
        const QStringList payloads = QDir(PathHelper::getBaseFilePath()).entryList(QDir::Files);
        QVERIFY(QDir(m_files.path()).mkdir(u"folder"_s));
        // A pipe would block the capture forever.
        const QString fifo = m_files.filePath(u"pipe"_s);
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QStringList paths{m_files.filePath(u"folder"_s), m_files.filePath(u"missing.txt"_s), fifo,
                          makeFile(u"big.bin"_s, QByteArray(5767169, 'b')),
                          // Exists and is a regular file, but reading it fails (even for root).
                          u"/proc/self/mem"_s};
        for (const QString &path : paths) {
            m_clipboard->setFilePaths({path});
            poll();
        }
        QVERIFY(historyRows().isEmpty());
        QCOMPARE(QDir(PathHelper::getBaseFilePath()).entryList(QDir::Files), payloads);
    }

    // The privacy rules, image coding and payload writing run off the main thread: while a
    // slow decision is pending the event loop keeps turning and nothing is stored; copies made
    // meanwhile are stored after it, in the order they were made.
    void slowWorkLeavesTheMainThreadFree()
    {
        static QSemaphore release;
        struct SlowPrivacy final : ClipPrivacy {
            bool isSecretText(const QString &text) override
            {
                release.acquire();
                return text.contains(u"secret"_s);
            }
        };
        m_controller->setPrivacy(std::make_unique<SlowPrivacy>());
        m_clipboard->setString(u"a secret"_s);
        m_controller->seekClipboard();
        m_clipboard->setString(u"plain"_s);
        m_controller->seekClipboard();
        bool timerRan = false;
        QTimer::singleShot(0, this, [&] { timerRan = true; });
        QTRY_VERIFY(timerRan);
        QVERIFY(historyRows().isEmpty());

        release.release(2);
        QVERIFY(waitForCaptures(*m_controller));
        const QList<HistoryModel> rows = historyRows();
        QCOMPARE(rows.size(), 2);
        QVERIFY(rows.at(0).hash() == md5_hex(u"plain"_s) && rows.at(1).isSecret());
    }

    void cleanup()
    {
        for (const char *name : {SettingsKeys::analyseSecert, SettingsKeys::fileAsSecert,
                                 SettingsKeys::advancePrivacy, SettingsKeys::privacy_script})
            ClipUserDefaults::remove(QLatin1String(name));
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
        ConfigureManager &account = testAccount();
        for (qsizetype i = account.customKeyWords().size(); i < ConfigureManager::kMaxCustomKeyWords; ++i)
            QVERIFY(account.addNewWord(u"word%1"_s.arg(i)));
        QVERIFY(!account.addNewWord(u"one too many"_s));
        account.setKeyWord(u"ignored"_s, 25); // indexes out of range change nothing
        account.removeKeyWordAtIndex(-1);
        QCOMPARE(ClipUserDefaults::stringList(QLatin1String(SettingsKeys::userKeyWords)).size(), 25);
        while (!account.customKeyWords().isEmpty())
            account.removeKeyWordAtIndex(0);
        QVERIFY(ClipUserDefaults::contains(QLatin1String(SettingsKeys::userKeyWords)));
        QCOMPARE(account.keyWordsRegPattern(), account.sysKeyWords().join(QLatin1Char('|')));
        QVERIFY(!PrivacyRules::containsKeyword(u"(a|a)+$"_s, QString(40, QLatin1Char('a')) + u"!"_s));
    }

    // Only 1 and -1 (or their strings) are verdicts; anything else keeps the clip as it is.
    void scriptAnswers_data()
    {
        QTest::addColumn<QString>("returned");
        QTest::addColumn<int>("answer");
        QTest::newRow("one") << u"1"_s << 1;
        QTest::newRow("minus one") << u"-1"_s << -1;
        QTest::newRow("numeric string") << u"'1'"_s << 1;
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
    // answer (a password store's file is secret).
    void failingScriptsKeepClipsAsTheyAre()
    {
        AdvancePrivacyManager manager{testSettings()};
        const QString script = QStringLiteral("function main(from, ext, content)\n"
                                              "  if from == 'image' then while true do end end\n"
                                              "  return 1\nend");
        QCOMPARE(manager.testScript(script), std::nullopt);
        manager.setScriptContent(script);
        QCOMPARE(manager.saveOptionFrom(u"image"_s, u"data"_s, u"image data"_s), 0);

        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::privacy_script), u"while true do end"_s);
        AdvancePrivacyManager stored{testSettings()};
        QCOMPARE(stored.scriptContent(), u"while true do end"_s);
        QCOMPARE(stored.saveOptionFrom(u"text"_s, QString(), u"我的密码是123"_s), 1);
        QCOMPARE(stored.saveOptionFrom(u"file"_s, u"kdbx"_s, u"/home/u/p.kdbx"_s), 1);
    }

    // The rules as the capture applies them, with the program's own privacy.
    void rulesAtCapture()
    {
        AdvancePrivacyManager script{testSettings()};
        m_controller->setPrivacy(std::make_unique<PrivacyCapture>(script, testAccount()));
        int copies = 0;
        // Copies a new clip of this family; answers whether it was stored as a secret, and
        // nothing when it was dropped.
        const auto copy = [&](ClipFamily family, const QString &text = {}) -> std::optional<bool> {
            ++copies;
            ++m_now;
            if (family == ClipFamily::Text)
                m_clipboard->setString(text);
            else if (family == ClipFamily::Image)
                m_clipboard->setImage(gradientImage(4, copies));
            else
                m_clipboard->setFilePaths(
                    {makeFile(u"keys%1.txt"_s.arg(copies), QByteArray::number(copies))});
            if (!captureNow(*m_controller))
                return std::nullopt;
            return historyRows().value(0).isSecret();
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
        m_clipboard->setString(u"from the vault"_s);
        m_clipboard->setSecretHint(true);
        QVERIFY(!captureNow(*m_controller));
    }

    // Clip kinds without the pipeline. Length counts UTF-16 code units; only a lower-case
    // http(s) prefix makes a link. The abstract joins the lines and never cuts a character.
    void textKindsAndAbstracts()
    {
        const QString url = u"http://example.org/"_s;
        QCOMPARE(ClipKinds::typeFromString(QString(4097, QLatin1Char('a'))), u"text_large"_s);
        QCOMPARE(ClipKinds::typeFromString(url + QString(4096 - url.size(), QLatin1Char('a'))),
                 u"text_url_http"_s);
        QCOMPARE(ClipKinds::typeFromString(u"HTTP://a"_s), u"text_txt"_s);
        QCOMPARE(ClipKinds::typeFromString(u"😀"_s.repeated(2049)), u"text_large"_s);
        QCOMPARE(ClipKinds::fileExtension(u"/tmp/v1.0/.notes"_s), u"unknow"_s);
        QCOMPARE(clipFamilyOfType(u"file_JPG+zip"_s), ClipFamily::File);
        QCOMPARE(ClipKinds::textAbstract(u"a\r\nb\rc\u0085d\u2028e\u2029f\n  g"_s), u"abcdef g"_s);
        const QString z29(29, QLatin1Char('z'));
        QCOMPARE(ClipKinds::textAbstract(z29 + u"😀"_s), z29);
    }

    // The thumbnail keeps the image's proportions within 120 x 39, and a pixel of a needle.
    void thumbnailSizes()
    {
        const auto thumbnailOf = [](int width, int height) {
            const QString base64 = imageThumbnail(clipTiffData(gradientImage(width, height)));
            return QImage::fromData(QByteArray::fromBase64(base64.toLatin1()), "JPEG").size();
        };
        QCOMPARE(thumbnailOf(1000, 100), QSize(120, 12));
        QCOMPARE(thumbnailOf(1, 2000), QSize(1, 39));
        QVERIFY(imageThumbnail(QByteArray("not an image")).isEmpty());
    }

    // The TIFF bytes are the clip's identity: written back to the clipboard (as TIFF and PNG)
    // and read again they stay the same, and they depend on the pixels only, never on the
    // layout or the metadata that a decoder happened to produce.
    void tiffIsTheClipsIdentity()
    {
        const QImage image = gradientImage(64, 48, true);
        const QByteArray tiff = clipTiffData(image);
        const QImage fromTiff = QImage::fromData(tiff, "TIFF");
        QCOMPARE(fromTiff.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
        QCOMPARE(clipTiffData(QImage::fromData(imageBytes(fromTiff), "PNG")), tiff);
        QImage described = image.convertToFormat(QImage::Format_RGBA8888);
        described.setDotsPerMeterX(5000);
        described.setColorSpace(QColorSpace::DisplayP3);
        described.setText(u"Description"_s, u"screenshot"_s);
        QCOMPARE(clipTiffData(described), tiff);
    }
};

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
