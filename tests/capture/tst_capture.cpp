// The capture pipeline on an in-memory clipboard, with the real store in temporary folders; the
// clip kinds it stores: type names, the text abstract, the thumbnail and the TIFF of images.
#include "CaptureTestSupport.h"
#include "CaptureWait.h"
#include "ClipboardPrograms.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "capture/ClipImage.h"
#include "capture/ClipKinds.h"
#include "platform/MemoryPasteboard.h"
#include "store/ClipFamily.h"
#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"
#include "support/Md5.h"

#include <QColorSpace>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

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

    // Clip kinds without the pipeline.
    // Length counts UTF-16 code units; only a lower-case http(s) prefix makes a link.
    void textTypesByLengthAndPrefix()
    {
        const QString url = u"http://example.org/"_s;
        QCOMPARE(ClipKinds::typeFromString(QString(4097, QLatin1Char('a'))), u"text_large"_s);
        QCOMPARE(ClipKinds::typeFromString(url + QString(4096 - url.size(), QLatin1Char('a'))),
                 u"text_url_http"_s);
        QCOMPARE(ClipKinds::typeFromString(u"HTTP://a"_s), u"text_txt"_s);
        QCOMPARE(ClipKinds::typeFromString(u"😀"_s.repeated(2049)), u"text_large"_s);
        QCOMPARE(ClipKinds::fileExtension(u"/tmp/v1.0/.notes"_s), u"unknow"_s);
        QCOMPARE(clipFamilyOfType(u"file_JPG+zip"_s), ClipFamily::File);
    }

    void textAbstracts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("abstract");
        QTest::newRow("lines joined, spaces collapsed") << u"a\n  b\nc"_s << u"a bc"_s;
        QTest::newRow("every terminator") << u"a\r\nb\rc\u0085d\u2028e\u2029f"_s << u"abcdef"_s;
        QTest::newRow("long line") << QString(100, QLatin1Char('x')) << QString(30, QLatin1Char('x'));
        QTest::newRow("no cut inside a surrogate pair")
            << QString(29, QLatin1Char('z')) + QString::fromUcs4(U"😀", 1) << QString(29, QLatin1Char('z'));
    }

    void textAbstracts()
    {
        QFETCH(QString, text);
        QFETCH(QString, abstract);
        QCOMPARE(ClipKinds::textAbstract(text), abstract);
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
        for (const bool translucent : {false, true}) {
            const QImage image = gradientImage(64, 48, translucent);
            const QByteArray tiff = clipTiffData(image);
            const QImage fromTiff = QImage::fromData(tiff, "TIFF");
            QCOMPARE(fromTiff.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                     image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
            QCOMPARE(clipTiffData(QImage::fromData(imageBytes(fromTiff), "PNG")), tiff);
        }
        const QImage image = gradientImage(50, 30);
        QImage described = image.convertToFormat(QImage::Format_RGBA8888);
        described.setDotsPerMeterX(5000);
        described.setColorSpace(QColorSpace::DisplayP3);
        described.setText(u"Description"_s, u"screenshot"_s);
        QCOMPARE(clipTiffData(described), clipTiffData(image));
    }
};

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
