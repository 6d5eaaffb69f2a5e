// Capture from the real X11 clipboard of a private X server: xclip copies as another program
// would, the clipboard monitor stores the clip in a temporary data folder.
#include "CaptureTestSupport.h"
#include "ClipboardPrograms.h"
#include "TestDirs.h"
#include "X11TestMain.h"
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


using namespace CaptureTest;

namespace {

constexpr int kWaitMs = 20000;

QString uniqueText(const char *what)
{
    return QString::fromLatin1(what) + QLatin1Char(' ') + QUuid::createUuid().toString(QUuid::WithoutBraces);
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

    bool copyAndWaitForCapture(const QByteArray &bytes, const QString &type, const QString &hash)
    {
        return m_programs->copy(bytes, type)
               && QTest::qWaitFor([&] { return m_capture->currentClipHash() == hash; }, kWaitMs);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty(),
                 "xclip is missing: run scripts/install-deps.sh");
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED), 0.1);
        m_programs = std::make_unique<ClipboardPrograms>();
        m_pasteboard = std::make_unique<X11Pasteboard>();
        m_capture = std::make_unique<ClipController>(*m_pasteboard);
        // Several captures fall into one second; a clock that ticks at each one orders them.
        m_capture->setClock([now = QDateTime::currentSecsSinceEpoch()]() mutable { return ++now; });
        QCOMPARE(m_capture->pollInterval(), 100);
    }

    void cleanupTestCase()
    {
        m_capture.reset();
        m_programs.reset();
    }

    void textFromAnotherProgram()
    {
        const QString text = uniqueText("copied by xclip\n  second line");
        const QString hash = md5_hex(text);
        QVERIFY(copyAndWaitForCapture(text.toUtf8(), QStringLiteral("UTF8_STRING"), hash));
        const std::optional<HistoryModel> row = rowWithHash(hash);
        QVERIFY(row);
        QCOMPARE(row->typeName(), QStringLiteral("text_txt"));
        QCOMPARE(row->content.value_or(QString()), textAbstract(text));
        QCOMPARE(payload(hash), text.toUtf8());
        QCOMPARE(historyRows().first().hash(), hash);
    }

    void fileFromAnotherProgram_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("listing");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::newRow("uri-list, after a comment and a web address")
            << QStringLiteral("text/uri-list") << QStringLiteral("# a comment\r\nhttps://example.org/page\r\n%1\r\n")
            << QStringLiteral("my notes.md") << QStringLiteral("file_md+zip");
        QTest::newRow("gnome-copied-files") << QStringLiteral("x-special/gnome-copied-files")
                                            << QStringLiteral("copy\n%1") << QStringLiteral("copied")
                                            << QStringLiteral("file_unknow+zip");
    }
    void fileFromAnotherProgram()
    {
        QFETCH(QString, type);
        QFETCH(QString, listing);
        QFETCH(QString, name);
        QFETCH(QString, kind);
        const QByteArray bytes = uniqueText("file contents").toUtf8().repeated(100);
        const QString path = m_files.filePath(name);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        const QString hash = md5_hex(bytes);
        const QString url = QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded());
        QVERIFY(copyAndWaitForCapture(listing.arg(url).toUtf8(), type, hash));
        const std::optional<HistoryModel> row = rowWithHash(hash);
        QVERIFY(row);
        QCOMPARE(row->typeName(), kind);
        QCOMPARE(row->file_name.value_or(QString()), name);
        QCOMPARE(payload(hash), bytes);
        // The archive's layout is checked in tst_capture; here that it holds these bytes.
        QCOMPARE(readArchive(PathHelper::getZipsFilePath(hash)).value(0).content, bytes);
    }

    // A PNG from another program, then the same image written back by this program (TIFF and
    // PNG) and copied once more by another program from what this one offered: one clip.
    void pngImageAndItsRoundTrip()
    {
        const QImage image = gradientImage(321, 123, true);
        QVERIFY(m_programs->copy(imageBytes(image), QStringLiteral("image/png")));
        QVERIFY(QTest::qWaitFor([&] {
            const std::optional<HistoryModel> row = rowWithHash(m_capture->currentClipHash());
            return row && row->typeName() == QStringLiteral("image_data+zip");
        }, kWaitMs));
        const QString hash = m_capture->currentClipHash();
        const QByteArray tiff = payload(hash);
        QCOMPARE(md5_hex(tiff), hash);
        QVERIFY(samePixels(QImage::fromData(tiff, "TIFF"), image));
        QCOMPARE(readArchive(PathHelper::getZipsFilePath(hash)).value(0).content, tiff);
        QCOMPARE(thumbnailSize(rowWithHash(hash)->content.value_or(QString())), QSize(104, 39));
        const qsizetype rows = historyRows().size();

        // Something else in between, so that each step below must be captured anew.
        const QString between = uniqueText("between");
        QVERIFY(copyAndWaitForCapture(between.toUtf8(), QStringLiteral("UTF8_STRING"), md5_hex(between)));
        m_pasteboard->writeImage(tiff);
        QVERIFY(QTest::qWaitFor([&] { return m_capture->currentClipHash() == hash; }, kWaitMs));
        QCOMPARE(m_programs->paste(QStringLiteral("image/tiff")), tiff);
        const QByteArray offeredPng = m_programs->paste(QStringLiteral("image/png"));
        QVERIFY(samePixels(QImage::fromData(offeredPng, "PNG"), image));

        QVERIFY(copyAndWaitForCapture(between.toUtf8(), QStringLiteral("UTF8_STRING"), md5_hex(between)));
        QVERIFY(copyAndWaitForCapture(offeredPng, QStringLiteral("image/png"), hash));
        QCOMPARE(historyRows().size(), rows + 1);
        QCOMPARE(historyRows().first().hash(), hash);
    }

    // What the real-clipboard cases above do not reach: listings without a local file.
    void listingsWithoutALocalFile()
    {
        QVERIFY(!X11Pasteboard::firstLocalFileOfUriList("http://a/b\n"));
        QCOMPARE(X11Pasteboard::firstLocalFileOfGnomeCopiedFiles("cut\nfile:///tmp/x\nfile:///tmp/y"),
                 QStringLiteral("/tmp/x"));
        QVERIFY(!X11Pasteboard::firstLocalFileOfGnomeCopiedFiles("file:///tmp/only-the-action-line"));
    }

    // The program itself, started as the README says, on this test's data folder and settings;
    // this process's monitor stops first, so that only the program can store the clip.
    void programCapturesWithinAPoll()
    {
        m_capture.reset();
        QProcess &program = m_programs->start(QStringLiteral(QUILLET_PROGRAM), {});
        QVERIFY(program.waitForStarted(kWaitMs));
        const QString text = uniqueText("seen by the program");
        const QString hash = md5_hex(text);
        QVERIFY(m_programs->copy(text.toUtf8(), QStringLiteral("UTF8_STRING")));
        QTRY_VERIFY_WITH_TIMEOUT(rowWithHash(hash).has_value(), kWaitMs);
        QCOMPARE(rowWithHash(hash)->typeName(), QStringLiteral("text_txt"));
        QCOMPARE(payload(hash), text.toUtf8());
        QCOMPARE(program.state(), QProcess::Running);
        program.terminate();
        QVERIFY(program.waitForFinished(kWaitMs));
    }
};

QUILLET_XVFB_TEST_MAIN(TestCaptureX11)

#include "tst_capture_x11.moc"
