// Capture from the real X11 clipboard of a private X server: xclip copies as another program
// would, the clipboard monitor stores the clip in a temporary data folder (the program itself
// captures in tst_tray_e2e). The monitor's timer
// is set to 10 s and restarted before each copy whose capture must come from the X server's
// change notice: every such wait ends well before the timer could fire.
#include "CaptureTestSupport.h"
#include "ClipboardPrograms.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "X11TestMain.h"
#include "capture/ClipActions.h"
#include "capture/ClipController.h"
#include "capture/ClipImage.h"
#include "platform/X11Pasteboard.h"
#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"
#include "support/Md5.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using namespace CaptureTest;

constexpr int kWaitMs = 20000;
// Half the monitor's interval: a capture seen within this time of a timer restart was made
// on the change notice.
constexpr int kBeforeTheTimerMs = 5000;

static QString uniqueText(const char *what)
{
    return QString::fromLatin1(what) + QLatin1Char(' ') + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

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

private slots:
    void initTestCase()
    {
        QVERIFY2(!QStandardPaths::findExecutable(u"xclip"_s).isEmpty(),
                 "xclip is missing: run scripts/install-deps.sh");
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED), 10);
        m_programs = std::make_unique<ClipboardPrograms>();
        m_pasteboard = std::make_unique<X11Pasteboard>();
        m_capture = std::make_unique<ClipController>(*m_pasteboard, testFiles());
        // Several captures fall into one second; a clock that ticks at each one orders them.
        m_capture->setClock([this] { return ++m_now; });
        m_capture->setHistoryProcess([this] { ++m_captures; });
        // The X server announces every new owner, so nothing polls: captures come from the
        // announcements alone.
        QVERIFY(m_pasteboard->reportsEveryChange());
        QVERIFY(!m_capture->isPolling());
    }

    // When copies come faster than the capture (each follows as soon as the one before owns
    // the clipboard), what another program offered before the newest copy may be gone (X11
    // keeps no history), but the newest is recorded and the rest keep their order.
    void burstOfCopies()
    {
        const QString before = historyRows().value(0).hash();
        m_capture->startClipObserver();
        QStringList fast;
        for (int i = 0; i < 8; ++i) {
            const QString text = uniqueText("fast");
            fast << md5_hex(text);
            // Only until the X server has told this process that xclip owns the clipboard.
            const qint64 count = m_pasteboard->changeCount();
            QVERIFY(m_programs->copy(text.toUtf8(), u"UTF8_STRING"_s));
            QVERIFY(QTest::qWaitFor([&] { return m_pasteboard->changeCount() > count; }, kWaitMs));
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_capture->currentClipHash(), fast.last(), kBeforeTheTimerMs);
        QStringList recorded;
        for (const HistoryModel &row : historyRows()) {
            if (row.hash() == before)
                break;
            recorded.prepend(row.hash());
        }
        qsizetype next = 0;
        for (const QString &hash : std::as_const(fast))
            next += recorded.value(next) == hash ? 1 : 0;
        QCOMPARE(next, recorded.size());
        QCOMPARE(recorded.last(), fast.last());
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
    }

    // A PNG from another program, then the same image written back by this program (TIFF and
    // PNG) and copied once more by another program from what this one offered: one clip.
    void pngImageAndItsRoundTrip()
    {
        const QImage image = gradientImage(321, 123, true);
        const QByteArray tiff = clipTiffData(image);
        const QString hash = md5_hex(tiff);
        QVERIFY(copyAndWaitForCapture(imageBytes(image), u"image/png"_s, hash));
        const qsizetype rows = historyRows().size();

        // Something else in between, so that each step below must be captured anew.
        const QString between = uniqueText("between");
        QVERIFY(copyTextAndWaitForCapture(between));
        m_pasteboard->writeImage(tiff);
        QVERIFY(QTest::qWaitFor([&] { return m_capture->currentClipHash() == hash; }, kWaitMs));
        const QByteArray offeredPng = m_programs->paste(u"image/png"_s);
        QVERIFY(copyTextAndWaitForCapture(between));
        QVERIFY(copyAndWaitForCapture(offeredPng, u"image/png"_s, hash));
        QCOMPARE(historyRows().size(), rows + 1);
    }

    // What a password manager copies with its hint is never stored; the same text copied
    // plainly is.
    void passwordManagerCopiesAreNeverStored()
    {
        const QString password = uniqueText("correct horse battery staple");
        const qint64 count = m_pasteboard->changeCount();
        QProcess &owner = m_programs->start(QStringLiteral(PRIVACY_CLIPBOARD_OWNER), {password, u"secret"_s});
        QVERIFY(owner.waitForReadyRead(kWaitMs) && owner.readAllStandardOutput().startsWith("ready"));
        QVERIFY(QTest::qWaitFor(
            [&] {
                return m_pasteboard->changeCount() > count
                       && m_capture->lastChangedCount() == m_pasteboard->changeCount()
                       && !m_capture->isCapturing();
            },
            kWaitMs));
        QVERIFY(!rowWithHash(md5_hex(password)));
        QVERIFY(copyTextAndWaitForCapture(password));
    }

    // What the real-clipboard cases above do not reach: listings without a local file.
    void listingsWithoutALocalFile()
    {
        QVERIFY(!X11Pasteboard::firstLocalFileOfUriList("http://a/b\n"));
        QVERIFY(!X11Pasteboard::firstLocalFileOfGnomeCopiedFiles("file:///tmp/only-the-action-line"));
    }
};

QUILLET_XVFB_TEST_MAIN(TestCaptureX11)

#include "tst_capture_x11.moc"
