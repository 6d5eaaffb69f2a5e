// Capture from the real X11 clipboard of a private X server: xclip copies as another program
// would, the clipboard monitor stores the clip in a temporary data folder. The monitor's timer
// is set to 10 s and restarted before each copy whose capture must come from the X server's
// change notice: every such wait ends well before the timer could fire.
#include "CaptureTestSupport.h"
#include "CaptureWait.h"
#include "ClipboardPrograms.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "X11TestMain.h"
#include "capture/ClipActions.h"
#include "capture/ClipController.h"
#include "capture/ClipImage.h"
#include "capture/ClipKinds.h"
#include "platform/X11Pasteboard.h"
#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"
#include "support/Md5.h"

#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

using namespace Qt::StringLiterals;

using namespace CaptureTest;

namespace {

constexpr int kWaitMs = 20000;
// Half the monitor's interval: a capture seen within this time of a timer restart was made
// on the change notice.
constexpr int kBeforeTheTimerMs = 5000;
constexpr double kIntervalSeconds = 10;

QString uniqueText(const char *what)
{
    return QString::fromLatin1(what) + QLatin1Char(' ') + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

void setInterval(double seconds)
{
    ClipUserDefaults::setValue(QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED), seconds);
}

} // namespace

class TestCaptureX11 final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QTemporaryDir m_files;
    std::unique_ptr<X11Pasteboard> m_pasteboard;
    std::unique_ptr<ClipController> m_capture;
    std::unique_ptr<ClipboardPrograms> m_programs;
    int m_captures = 0; // clips stored or moved to the top
    qint64 m_now = QDateTime::currentSecsSinceEpoch();

    // The monitor, on this pasteboard, with the interval set now.
    std::unique_ptr<ClipController> startMonitor(Pasteboard &pasteboard)
    {
        auto monitor = std::make_unique<ClipController>(pasteboard, testFiles());
        // Several captures fall into one second; a clock that ticks at each one orders them.
        monitor->setClock([this] { return ++m_now; });
        monitor->setHistoryProcess([this] { ++m_captures; });
        return monitor;
    }

    // Copies in another program and waits for the capture, which must come before the timer.
    bool copyAndWaitForCapture(const QByteArray &bytes, const QString &type, const QString &hash)
    {
        m_capture->startClipObserver();
        return m_programs->copy(bytes, type)
               && QTest::qWaitFor([&] { return m_capture->currentClipHash() == hash; }, kBeforeTheTimerMs);
    }
    bool copyTextAndWaitForCapture(const QString &text)
    {
        return copyAndWaitForCapture(text.toUtf8(), u"UTF8_STRING"_s, md5_hex(text));
    }

    // Copies in another program and waits only until the X server has told this process that
    // the other program owns the clipboard.
    bool copyAndWaitForOwnership(const QString &text)
    {
        const qint64 count = m_pasteboard->changeCount();
        return m_programs->copy(text.toUtf8(), u"UTF8_STRING"_s)
               && QTest::qWaitFor([&] { return m_pasteboard->changeCount() > count; }, kWaitMs);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!QStandardPaths::findExecutable(u"xclip"_s).isEmpty(),
                 "xclip is missing: run scripts/install-deps.sh");
        setInterval(kIntervalSeconds);
        m_programs = std::make_unique<ClipboardPrograms>();
        m_pasteboard = std::make_unique<X11Pasteboard>();
        m_capture = startMonitor(*m_pasteboard);
        QCOMPARE(m_capture->pollInterval(), 10000);
        // The X server announces every new owner, so nothing polls: captures come from the
        // announcements alone.
        QVERIFY(m_pasteboard->reportsEveryChange());
        QVERIFY(!m_capture->isPolling());
    }

    void cleanupTestCase()
    {
        m_capture.reset();
        m_programs.reset();
    }

    // Captured on the change notice, once: the timer's next tick finds nothing new.
    void textFromAnotherProgramAtTheCopy()
    {
        const QString text = uniqueText("copied by xclip\n  second line");
        const QString hash = md5_hex(text);
        const int captures = m_captures;
        QVERIFY(copyTextAndWaitForCapture(text));
        const std::optional<HistoryModel> row = rowWithHash(hash);
        QVERIFY(row);
        QCOMPARE(row->typeName(), u"text_txt"_s);
        QCOMPARE(row->content.value_or(QString()), ClipKinds::textAbstract(text));
        QCOMPARE(payload(hash), text.toUtf8());
        QCOMPARE(historyRows().first().hash(), hash);
        m_capture->seekClipboard();
        QVERIFY(waitForCaptures(*m_capture));
        QCOMPARE(m_captures, captures + 1);
    }

    // Copies one after another are each recorded, in order. When copies come faster than the
    // capture, what another program offered before the newest copy may be gone (X11 keeps no
    // history), but the newest is recorded and the rest keep their order.
    void burstOfCopies()
    {
        QStringList texts;
        for (int i = 0; i < 8; ++i) {
            texts.prepend(uniqueText("burst"));
            QVERIFY(copyTextAndWaitForCapture(texts.first()));
        }
        QStringList top;
        const QList<HistoryModel> rows = historyRows();
        for (qsizetype i = 0; i < texts.size(); ++i)
            top << rows.value(i).hash();
        QStringList expected;
        for (const QString &text : std::as_const(texts))
            expected << md5_hex(text);
        QCOMPARE(top, expected);

        // Each copy follows as soon as the one before owns the clipboard.
        m_capture->startClipObserver();
        const int captures = m_captures;
        QStringList fast;
        for (int i = 0; i < 6; ++i) {
            fast << uniqueText("fast");
            QVERIFY(copyAndWaitForOwnership(fast.last()));
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_capture->currentClipHash(), md5_hex(fast.last()), kBeforeTheTimerMs);
        QVERIFY(m_captures - captures <= fast.size());
        // The recorded ones, oldest first, are a subsequence of the copies.
        QStringList recorded;
        for (const HistoryModel &row : historyRows()) {
            if (recorded.contains(row.hash()) || expected.contains(row.hash()))
                break;
            recorded.prepend(row.hash());
        }
        qsizetype next = 0;
        for (const QString &hash : std::as_const(recorded)) {
            while (next < fast.size() && md5_hex(fast.at(next)) != hash)
                ++next;
            QVERIFY2(next < fast.size(), "a recorded copy out of order or not copied");
            ++next;
        }
        QCOMPARE(recorded.last(), md5_hex(fast.last()));
    }

    // Writing a clip back (paste-back) is a change like any other: the clip moves to the top,
    // without a second row, and other programs can paste it.
    void pasteBackMovesTheClipToTheTop()
    {
        const QString text = uniqueText("pasted back");
        QVERIFY(copyTextAndWaitForCapture(text));
        QVERIFY(copyTextAndWaitForCapture(uniqueText("copied after")));
        const qsizetype rows = historyRows().size();
        const int captures = m_captures;

        m_capture->startClipObserver();
        ClipActions::sendToClipboard(*m_pasteboard, *rowWithHash(md5_hex(text)), testFiles());
        QTRY_COMPARE_WITH_TIMEOUT(m_capture->currentClipHash(), md5_hex(text), kBeforeTheTimerMs);
        QCOMPARE(historyRows().size(), rows);
        QCOMPARE(historyRows().first().hash(), md5_hex(text));
        QCOMPARE(m_captures, captures + 1);
        QCOMPARE(m_programs->paste(u"UTF8_STRING"_s), text.toUtf8());
    }

    void fileFromAnotherProgram_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("listing");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::newRow("uri-list, after a comment and a web address")
            << u"text/uri-list"_s << u"# a comment\r\nhttps://example.org/page\r\n%1\r\n"_s
            << u"my notes.md"_s << u"file_md+zip"_s;
        QTest::newRow("gnome-copied-files")
            << u"x-special/gnome-copied-files"_s << u"copy\n%1"_s << u"copied"_s << u"file_unknow+zip"_s;
    }
    void fileFromAnotherProgram()
    {
        QFETCH(QString, type);
        QFETCH(QString, listing);
        QFETCH(QString, name);
        QFETCH(QString, kind);
        const QByteArray bytes = uniqueText("file contents").toUtf8().repeated(100);
        const QString path = m_files.filePath(name);
        QVERIFY(TestFiles::write(path, bytes));
        const QString hash = md5_hex(bytes);
        const QString url = QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded());
        QVERIFY(copyAndWaitForCapture(listing.arg(url).toUtf8(), type, hash));
        const std::optional<HistoryModel> row = rowWithHash(hash);
        QVERIFY(row);
        QCOMPARE(row->typeName(), kind);
        QCOMPARE(row->file_name.value_or(QString()), name);
        QCOMPARE(payload(hash), bytes);
        // The archive's layout is checked in tst_clipfiles; here that it holds these bytes.
        QCOMPARE(readArchive(PathHelper::getZipsFilePath(hash)).value(0).content, bytes);
    }

    // A PNG from another program, then the same image written back by this program (TIFF and
    // PNG) and copied once more by another program from what this one offered: one clip.
    void pngImageAndItsRoundTrip()
    {
        const QImage image = gradientImage(321, 123, true);
        QVERIFY(m_programs->copy(imageBytes(image), u"image/png"_s));
        QVERIFY(QTest::qWaitFor(
            [&] {
                const std::optional<HistoryModel> row = rowWithHash(m_capture->currentClipHash());
                return row && row->typeName() == u"image_data+zip"_s;
            },
            kWaitMs));
        const QString hash = m_capture->currentClipHash();
        const QByteArray tiff = payload(hash);
        QCOMPARE(md5_hex(tiff), hash);
        QVERIFY(samePixels(QImage::fromData(tiff, "TIFF"), image));
        QCOMPARE(readArchive(PathHelper::getZipsFilePath(hash)).value(0).content, tiff);
        QCOMPARE(thumbnailSize(rowWithHash(hash)->content.value_or(QString())), QSize(104, 39));
        const qsizetype rows = historyRows().size();

        // Something else in between, so that each step below must be captured anew.
        const QString between = uniqueText("between");
        QVERIFY(copyTextAndWaitForCapture(between));
        m_pasteboard->writeImage(tiff);
        QVERIFY(QTest::qWaitFor([&] { return m_capture->currentClipHash() == hash; }, kWaitMs));
        QCOMPARE(m_programs->paste(u"image/tiff"_s), tiff);
        const QByteArray offeredPng = m_programs->paste(u"image/png"_s);
        QVERIFY(samePixels(QImage::fromData(offeredPng, "PNG"), image));

        QVERIFY(copyTextAndWaitForCapture(between));
        QVERIFY(copyAndWaitForCapture(offeredPng, u"image/png"_s, hash));
        QCOMPARE(historyRows().size(), rows + 1);
        QCOMPARE(historyRows().first().hash(), hash);
    }

    // What the real-clipboard cases above do not reach: listings without a local file.
    void listingsWithoutALocalFile()
    {
        QVERIFY(!X11Pasteboard::firstLocalFileOfUriList("http://a/b\n"));
        QCOMPARE(X11Pasteboard::firstLocalFileOfGnomeCopiedFiles("cut\nfile:///tmp/x\nfile:///tmp/y"),
                 u"/tmp/x"_s);
        QVERIFY(!X11Pasteboard::firstLocalFileOfGnomeCopiedFiles("file:///tmp/only-the-action-line"));
    }

    // The program itself, started as the README says, on this test's data folder and settings:
    // what the clipboard holds at start is recorded right after the start, and a copy at the
    // copy. The program's timer cannot be restarted from here, so its interval is a minute.
    void programCapturesAtStartAndAtTheCopy()
    {
        m_capture.reset();
        setInterval(60);
        const QString atStart = uniqueText("there when the program starts");
        QVERIFY(copyAndWaitForOwnership(atStart));
        QProcess &program = m_programs->start(QStringLiteral(QUILLET_PROGRAM), {});
        QVERIFY(program.waitForStarted(kWaitMs));
        QTRY_VERIFY_WITH_TIMEOUT(rowWithHash(md5_hex(atStart)).has_value(), kWaitMs);

        const QString text = uniqueText("seen by the program");
        const QString hash = md5_hex(text);
        QVERIFY(m_programs->copy(text.toUtf8(), u"UTF8_STRING"_s));
        QTRY_VERIFY_WITH_TIMEOUT(rowWithHash(hash).has_value(), kWaitMs);
        QCOMPARE(rowWithHash(hash)->typeName(), u"text_txt"_s);
        QCOMPARE(payload(hash), text.toUtf8());
        QCOMPARE(program.state(), QProcess::Running);
        program.terminate();
        QVERIFY(program.waitForFinished(kWaitMs));
        setInterval(kIntervalSeconds);
    }
};

QUILLET_XVFB_TEST_MAIN(TestCaptureX11)

#include "tst_capture_x11.moc"
