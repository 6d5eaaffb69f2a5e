// Capture from the real X11 clipboard of a private X server: xclip copies as another program
// would, the clipboard monitor stores the clip in a temporary data folder.
#include "CaptureTestSupport.h"
#include "TestDirs.h"
#include "XvfbServer.h"
#include "app/ClipController.h"
#include "app/ClipImage.h"
#include "app/ClipKinds.h"
#include "platform/X11Pasteboard.h"
#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"
#include "support/Md5.h"

#include <sqlite3.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <vector>

using namespace CaptureTest;

namespace {

constexpr int kWaitMs = 20000;

QByteArray pngOf(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

std::optional<HistoryModel> rowWithHash(const QString &hash)
{
    for (const HistoryModel &row : historyRows()) {
        if (row.hash() == hash)
            return row;
    }
    return std::nullopt;
}

// The type of the row with this hash in another program's database; empty when there is none.
QString storedType(const QString &databasePath, const QString &hash)
{
    sqlite3 *db = nullptr;
    QString type;
    if (sqlite3_open_v2(QFile::encodeName(databasePath).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 2000);
        sqlite3_stmt *statement = nullptr;
        const QByteArray utf8 = hash.toUtf8();
        if (sqlite3_prepare_v2(db, "select type from History where file_hash = ? and category = 'history'", -1,
                               &statement, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(statement, 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(statement) == SQLITE_ROW)
                type = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return type;
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
    // Every program this test starts; the ones still running are ended by PID at the end.
    std::vector<std::unique_ptr<QProcess>> m_processes;

    QProcess &startProcess(const QString &program, const QStringList &args)
    {
        m_processes.push_back(std::make_unique<QProcess>());
        QProcess &process = *m_processes.back();
        process.start(program, args);
        return process;
    }

    // xclip takes the clipboard and offers the bytes as the given type until another program
    // takes it; -quiet keeps it in the foreground, so its PID is the owner's.
    bool copyWithXclip(const QByteArray &bytes, const QString &type)
    {
        QProcess &xclip = startProcess(QStringLiteral("xclip"),
                                       {QStringLiteral("-quiet"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                        QStringLiteral("-t"), type, QStringLiteral("-i")});
        if (!xclip.waitForStarted(kWaitMs))
            return false;
        xclip.write(bytes);
        xclip.closeWriteChannel();
        return true;
    }

    // Reads the clipboard as another program does; the event loop keeps running meanwhile,
    // so this process can answer when it owns the clipboard.
    QByteArray pasteWithXclip(const QString &type)
    {
        QProcess &xclip = startProcess(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"),
                                                                 QStringLiteral("clipboard"), QStringLiteral("-t"), type});
        if (!QTest::qWaitFor([&] { return xclip.state() == QProcess::NotRunning; }, kWaitMs))
            return {};
        return xclip.readAllStandardOutput();
    }

    bool waitForCapture(const QString &hash)
    {
        return QTest::qWaitFor([&] { return m_capture->currentClipHash() == hash; }, kWaitMs);
    }

    static QString uniqueText(const char *what)
    {
        return QString::fromLatin1(what) + QLatin1Char(' ') + QUuid::createUuid().toString(QUuid::WithoutBraces);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty(),
                 "xclip is missing: run scripts/install-deps.sh");
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED), 0.1);
        m_pasteboard = std::make_unique<X11Pasteboard>();
        m_capture = std::make_unique<ClipController>(*m_pasteboard);
        // Several captures fall into one second; a clock that ticks at each one orders them.
        m_capture->setClock([now = QDateTime::currentSecsSinceEpoch()]() mutable { return ++now; });
        QCOMPARE(m_capture->pollInterval(), 100);
    }

    void cleanupTestCase()
    {
        m_capture.reset();
        for (const std::unique_ptr<QProcess> &process : m_processes) {
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    void textFromAnotherProgram()
    {
        const QString text = uniqueText("copied by xclip\n  second line");
        const QString hash = md5_hex(text);
        QVERIFY(copyWithXclip(text.toUtf8(), QStringLiteral("UTF8_STRING")));
        QVERIFY(waitForCapture(hash));
        const std::optional<HistoryModel> row = rowWithHash(hash);
        QVERIFY(row);
        QCOMPARE(row->typeName(), QStringLiteral("text_txt"));
        QCOMPARE(row->content.value_or(QString()), textAbstract(text));
        QCOMPARE(payload(hash), text.toUtf8());
        QCOMPARE(historyRows().first().hash(), hash);
    }

    void fileAsUriList()
    {
        const QByteArray bytes = uniqueText("file contents").toUtf8().repeated(100);
        const QString path = m_files.filePath(QStringLiteral("notes.md"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        const QString hash = md5_hex(bytes);
        const QByteArray url = QUrl::fromLocalFile(path).toEncoded();
        QVERIFY(copyWithXclip("# a comment\r\nhttps://example.org/page\r\n" + url + "\r\n",
                              QStringLiteral("text/uri-list")));
        QVERIFY(waitForCapture(hash));
        const std::optional<HistoryModel> row = rowWithHash(hash);
        QVERIFY(row);
        QCOMPARE(row->typeName(), QStringLiteral("file_md+zip"));
        QCOMPARE(row->file_name.value_or(QString()), QStringLiteral("notes.md"));
        QCOMPARE(payload(hash), bytes);
        const QString zip = PathHelper::getZipsFilePath(hash);
        const QList<ArchiveEntry> entries = readArchive(zip);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().name, hash);
        QCOMPARE(entries.first().content, bytes);
        QCOMPARE(row->file_size.value_or(0), double(QFileInfo(zip).size()));
    }

    void fileAsGnomeCopiedFiles()
    {
        const QByteArray bytes = uniqueText("gnome").toUtf8();
        const QString path = m_files.filePath(QStringLiteral("copied"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        QVERIFY(copyWithXclip("copy\n" + QUrl::fromLocalFile(path).toEncoded(),
                              QStringLiteral("x-special/gnome-copied-files")));
        QVERIFY(waitForCapture(md5_hex(bytes)));
        QCOMPARE(rowWithHash(md5_hex(bytes))->typeName(), QStringLiteral("file_unknow+zip"));
    }

    // A PNG from another program, then the same image written back by this program (TIFF and
    // PNG) and copied once more by another program from what this one offered: one clip.
    void pngImageAndItsRoundTrip()
    {
        const QImage image = gradientImage(321, 123, true);
        QVERIFY(copyWithXclip(pngOf(image), QStringLiteral("image/png")));
        QVERIFY(QTest::qWaitFor([&] { return !m_capture->currentClipHash().isEmpty()
                                             && rowWithHash(m_capture->currentClipHash())
                                             && rowWithHash(m_capture->currentClipHash())->typeName()
                                                    == QStringLiteral("image_data+zip"); },
                                kWaitMs));
        const QString hash = m_capture->currentClipHash();
        const QByteArray tiff = payload(hash);
        QCOMPARE(md5_hex(tiff), hash);
        QVERIFY(samePixels(QImage::fromData(tiff, "TIFF"), image));
        QCOMPARE(readArchive(PathHelper::getZipsFilePath(hash)).value(0).content, tiff);
        const HistoryModel row = *rowWithHash(hash);
        QCOMPARE(QImage::fromData(QByteArray::fromBase64(row.content.value_or(QString()).toLatin1()), "JPEG").size(),
                 QSize(104, 39));
        const qsizetype rows = historyRows().size();

        // Something else in between, so that each step below must be captured anew.
        const QString between = uniqueText("between");
        QVERIFY(copyWithXclip(between.toUtf8(), QStringLiteral("UTF8_STRING")));
        QVERIFY(waitForCapture(md5_hex(between)));

        m_pasteboard->writeImage(tiff);
        QVERIFY(waitForCapture(hash));
        QCOMPARE(pasteWithXclip(QStringLiteral("image/tiff")), tiff);
        const QByteArray offeredPng = pasteWithXclip(QStringLiteral("image/png"));
        QVERIFY(samePixels(QImage::fromData(offeredPng, "PNG"), image));

        QVERIFY(copyWithXclip(between.toUtf8(), QStringLiteral("UTF8_STRING")));
        QVERIFY(waitForCapture(md5_hex(between)));
        QVERIFY(copyWithXclip(offeredPng, QStringLiteral("image/png")));
        QVERIFY(waitForCapture(hash));
        QCOMPARE(historyRows().size(), rows + 1);
        QCOMPARE(historyRows().first().hash(), hash);
    }

    void uriListParsing()
    {
        QCOMPARE(X11Pasteboard::firstLocalFileOfUriList("# c\r\nhttp://a/b\r\nfile:///tmp/a%20b.txt\r\nfile:///tmp/c\r\n"),
                 QStringLiteral("/tmp/a b.txt"));
        QVERIFY(!X11Pasteboard::firstLocalFileOfUriList("http://a/b\n"));
        QCOMPARE(X11Pasteboard::firstLocalFileOfGnomeCopiedFiles("cut\nfile:///tmp/x\nfile:///tmp/y"),
                 QStringLiteral("/tmp/x"));
        QVERIFY(!X11Pasteboard::firstLocalFileOfGnomeCopiedFiles("file:///tmp/only-the-action-line"));
    }

    // The program itself, started as the README says, with its own data folder.
    void programCapturesWithinAPoll()
    {
        QTemporaryDir data;
        QTemporaryDir config;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QUILLET_DATA_DIR"), data.path());
        environment.insert(QStringLiteral("QUILLET_CONFIG_DIR"), config.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_processes.push_back(std::make_unique<QProcess>());
        QProcess &program = *m_processes.back();
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(QStringLiteral(QUILLET_PROGRAM), {});
        QVERIFY(program.waitForStarted(kWaitMs));

        const QString text = uniqueText("seen by the program");
        const QString hash = md5_hex(text);
        QVERIFY(copyWithXclip(text.toUtf8(), QStringLiteral("UTF8_STRING")));
        const QString database = data.filePath(QStringLiteral("clipDB.sqlite"));
        QTRY_COMPARE_WITH_TIMEOUT(storedType(database, hash), QStringLiteral("text_txt"), kWaitMs);
        QFile stored(data.filePath(QStringLiteral("files/") + hash));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), text.toUtf8());
        QCOMPARE(program.state(), QProcess::Running);

        program.terminate();
        QVERIFY(program.waitForFinished(kWaitMs));
    }
};

int main(int argc, char *argv[])
{
    // The test brings its own X server; without one it fails rather than skipping.
    XvfbServer xvfb;
    if (!xvfb.start()) {
        std::fprintf(stderr, "FAIL: cannot start Xvfb; install it with scripts/install-deps.sh\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    TestCaptureX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_capture_x11.moc"
