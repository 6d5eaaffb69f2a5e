// The capture pipeline on an in-memory clipboard, with the real store in temporary folders.
#include "CaptureTestSupport.h"
#include "TestDirs.h"
#include "app/ClipController.h"
#include "app/ClipImage.h"
#include "platform/MemoryPasteboard.h"
#include "store/ClipUserDefaults.h"
#include "store/SettingsKeys.h"
#include "support/Md5.h"
#include "support/NotificationCenter.h"
#include "support/Notifications.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace CaptureTest;

namespace {

// Privacy rules with fixed answers, and a record of what they were asked.
class FixedPrivacy final : public ClipPrivacy
{
public:
    std::optional<int> advanced;
    bool secretText = false;
    bool secretFiles = false;
    QStringList asked;

    std::optional<int> advancedAnswer(const QString &family, const QString &extension,
                                      const QString &content) override
    {
        asked << family + QLatin1Char('|') + extension + QLatin1Char('|') + content;
        return advanced;
    }
    bool isSecretText(const QString &) override { return secretText; }
    bool isFileSecret() override { return secretFiles; }
};

} // namespace

class TestCapture final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    QTemporaryDir m_files;
    std::unique_ptr<MemoryPasteboard> m_clipboard;
    std::unique_ptr<ClipController> m_controller;
    qint64 m_now = 1000;
    int m_menuBuilds = 0;
    int m_historyRuns = 0;

    MemoryPasteboard &pasteboard() { return *m_clipboard; }

    void startController()
    {
        m_controller = std::make_unique<ClipController>(*m_clipboard);
        m_controller->setClock([this] { return m_now; });
        m_controller->setMenuRebuild([this] { ++m_menuBuilds; });
        m_controller->setHistoryProcess([this] { ++m_historyRuns; });
    }

    QString makeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_files.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return path;
    }

    // One copy in another program followed by one poll, a second later.
    void copyText(const QString &text)
    {
        pasteboard().setString(text);
        poll();
    }

    void poll()
    {
        m_now += 1;
        m_controller->seekClipboard();
    }

private slots:
    void init()
    {
        DBKeeper::removeAllData();
        m_clipboard = std::make_unique<MemoryPasteboard>();
        m_menuBuilds = 0;
        m_historyRuns = 0;
        startController();
    }

    void cleanup()
    {
        m_controller.reset();
        m_clipboard.reset();
    }

    void textBecomesAHistoryRow()
    {
        const QString text = QStringLiteral("Hello\n  clipboard, 你好");
        copyText(text);
        const QList<HistoryModel> rows = historyRows();
        QCOMPARE(rows.size(), 1);
        const HistoryModel &row = rows.first();
        const QByteArray bytes = text.toUtf8();
        QCOMPARE(row.hash(), md5_hex(bytes));
        QCOMPARE(row.typeName(), QStringLiteral("text_txt"));
        QCOMPARE(row.content.value_or(QString()), QStringLiteral("Hello clipboard, 你好"));
        QCOMPARE(row.timestamp.value_or(0), m_now);
        QCOMPARE(row.local_file_ok.value_or(0), 1);
        QCOMPARE(row.file_size.value_or(0.0), double(bytes.size()));
        QVERIFY(!row.isSecret());
        QVERIFY(row.change_timestamp.value_or(0) > 0);
        QCOMPARE(payload(row.hash()), bytes);
        QVERIFY(!QFile::exists(PathHelper::getZipsFilePath(row.hash())));
        QCOMPARE(m_controller->currentClipHash(), row.hash());
        QCOMPARE(m_historyRuns, 1);
        // The menu rebuild is queued, not run inside the poll.
        QCOMPARE(m_menuBuilds, 0);
        QTRY_COMPARE(m_menuBuilds, 1);
    }

    void pollsOnlyWhenTheCounterMoves()
    {
        poll();
        QCOMPARE(m_historyRuns, 0); // counter 0: nothing was ever copied
        copyText(QStringLiteral("once"));
        poll();
        poll();
        QCOMPARE(m_historyRuns, 1);
        QTRY_COMPARE(m_menuBuilds, 1);
        QCOMPARE(m_controller->lastChangedCount(), pasteboard().changeCount());
    }

    void firstPollCapturesWhatIsThereAtStart()
    {
        copyText(QStringLiteral("already there"));
        const qint64 before = historyRows().first().timestamp.value_or(0);
        // A new start: the same content is in the history and on the clipboard.
        startController();
        m_now += 100;
        m_controller->seekClipboard();
        const QList<HistoryModel> rows = historyRows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().timestamp.value_or(0), m_now);
        QVERIFY(m_now > before);
    }

    void recaptureMovesToTopWithoutNewRow()
    {
        copyText(QStringLiteral("alpha"));
        copyText(QStringLiteral("beta"));
        const QString alpha = md5_hex(QStringLiteral("alpha"));
        // A stored row keeps its own fields when its content comes again.
        HistoryModel stored;
        stored.file_hash = alpha;
        stored.signSecert(true);
        DBKeeper::updateHistoryID(77, 5, alpha);
        copyText(QStringLiteral("alpha"));

        const QList<HistoryModel> rows = historyRows();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.first().hash(), alpha);
        QCOMPARE(rows.first().timestamp.value_or(0), m_now);
        QVERIFY(rows.first().isSecret());
        QCOMPARE(rows.first().history_id.value_or(0), 77);
        QCOMPARE(m_historyRuns, 3);
    }

    void favouriteOnlyContentGetsAHistoryRow()
    {
        HistoryModel favourite;
        favourite.content = QStringLiteral("kept");
        favourite.file_hash = md5_hex(QStringLiteral("kept"));
        favourite.category = Category::favourite;
        favourite.favourite = 5;
        favourite.timestamp = 1;
        favourite.save();

        copyText(QStringLiteral("kept"));
        QCOMPARE(historyRows().size(), 1);
        const QList<HistoryModel> favourites = DBKeeper::getAllHistoryAtCategory(Category::favourite, 100);
        QCOMPARE(favourites.size(), 1);
        QCOMPARE(favourites.first().timestamp.value_or(0), m_now);
        QCOMPARE(historyRows().first().timestamp.value_or(0), m_now);
    }

    void emptyContentStoresNothingButRebuildsTheMenu()
    {
        pasteboard().clear();
        poll();
        pasteboard().setString(QString());
        poll();
        QVERIFY(historyRows().isEmpty());
        QCOMPARE(m_historyRuns, 0);
        QTRY_COMPARE(m_menuBuilds, 2);
    }

    void textStopsAtNul()
    {
        copyText(QStringLiteral("before") + QChar(u'\0') + QStringLiteral("after"));
        const QList<HistoryModel> rows = historyRows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().hash(), md5_hex(QByteArray("before")));
        QCOMPARE(payload(rows.first().hash()), QByteArray("before"));
    }

    void fileBecomesAFileClipWithArchive()
    {
        const QByteArray bytes(3000, 'f');
        const QString path = makeFile(QStringLiteral("report.pdf"), bytes);
        pasteboard().setFilePaths({path});
        poll();
        const QList<HistoryModel> rows = historyRows();
        QCOMPARE(rows.size(), 1);
        const HistoryModel &row = rows.first();
        QCOMPARE(row.hash(), md5_hex(bytes));
        QCOMPARE(row.typeName(), QStringLiteral("file_pdf+zip"));
        QCOMPARE(row.content.value_or(QString()), QStringLiteral("report.pdf"));
        QCOMPARE(row.file_name.value_or(QString()), QStringLiteral("report.pdf"));
        QCOMPARE(payload(row.hash()), bytes);
        const QString zip = PathHelper::getZipsFilePath(row.hash());
        QCOMPARE(row.file_size.value_or(0.0), double(QFileInfo(zip).size()));
        const QList<ArchiveEntry> entries = readArchive(zip);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().name, row.hash());
        QCOMPARE(entries.first().content, bytes);
        QVERIFY(entries.first().deflated);
    }

    void fileKindsAndChoices()
    {
        // Without an extension, the type says "unknow"; the extension keeps its case.
        pasteboard().setFilePaths({makeFile(QStringLiteral("README"), "read me")});
        poll();
        QCOMPARE(historyRows().first().typeName(), QStringLiteral("file_unknow+zip"));
        pasteboard().setFilePaths({makeFile(QStringLiteral("photo.JPG"), "jpg bytes")});
        poll();
        QCOMPARE(historyRows().first().typeName(), QStringLiteral("file_JPG+zip"));

        // Several files: only the first counts. A file URL beats an image and a text.
        const QString first = makeFile(QStringLiteral("one.txt"), "one");
        pasteboard().setContent({first, makeFile(QStringLiteral("two.txt"), "two")},
                                gradientImage(8, 8), QStringLiteral("one.txt"));
        poll();
        QCOMPARE(historyRows().size(), 3);
        QCOMPARE(historyRows().first().hash(), md5_hex(QByteArray("one")));
        QVERIFY(!historyRows().first().typeName().startsWith(QLatin1String("image")));
    }

    void fileSizeLimit()
    {
        pasteboard().setFilePaths({makeFile(QStringLiteral("big.bin"), QByteArray(5767169, 'b'))});
        poll();
        QVERIFY(historyRows().isEmpty());
        pasteboard().setFilePaths({makeFile(QStringLiteral("limit.bin"), QByteArray(5767168, 'b'))});
        poll();
        QCOMPARE(historyRows().size(), 1);
        QCOMPARE(historyRows().first().file_name.value_or(QString()), QStringLiteral("limit.bin"));
    }

    void filesThatAreNoClips()
    {
        const QStringList payloads = QDir(PathHelper::getBaseFilePath()).entryList(QDir::Files);
        QVERIFY(QDir(m_files.path()).mkdir(QStringLiteral("folder")));
        pasteboard().setFilePaths({m_files.filePath(QStringLiteral("folder"))});
        poll();
        pasteboard().setFilePaths({m_files.filePath(QStringLiteral("missing.txt"))});
        poll();
        // A pipe would block the capture forever.
        const QString fifo = m_files.filePath(QStringLiteral("pipe"));
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        pasteboard().setFilePaths({fifo});
        poll();
        // Exists and is a regular file, but reading it fails (even for root).
        pasteboard().setFilePaths({QStringLiteral("/proc/self/mem")});
        poll();
        if (geteuid() != 0) {
            const QString locked = makeFile(QStringLiteral("locked.txt"), "secret");
            QFile::setPermissions(locked, QFileDevice::Permissions());
            pasteboard().setFilePaths({locked});
            poll();
        }
        QVERIFY(historyRows().isEmpty());
        QCOMPARE(QDir(PathHelper::getBaseFilePath()).entryList(QDir::Files), payloads);
        QCOMPARE(m_historyRuns, 0);
    }

    void imageBecomesAnImageClip()
    {
        const QImage image = gradientImage(300, 200);
        pasteboard().setImage(image);
        poll();
        const QList<HistoryModel> rows = historyRows();
        QCOMPARE(rows.size(), 1);
        const HistoryModel &row = rows.first();
        const QByteArray tiff = payload(row.hash());
        QCOMPARE(row.typeName(), QStringLiteral("image_data+zip"));
        QCOMPARE(row.hash(), md5_hex(tiff));
        QCOMPARE(tiff, clipTiffData(image));
        QVERIFY(samePixels(QImage::fromData(tiff, "TIFF"), image));
        const QImage thumbnail = QImage::fromData(QByteArray::fromBase64(row.content.value_or(QString()).toLatin1()), "JPEG");
        QCOMPARE(thumbnail.size(), QSize(60, 40));
        const QString zip = PathHelper::getZipsFilePath(row.hash());
        QCOMPARE(readArchive(zip).value(0).content, tiff);
        QCOMPARE(row.file_size.value_or(0.0), double(QFileInfo(zip).size()));

        // Written back (as TIFF and PNG) and read again: the same clip, moved to the top.
        copyText(QStringLiteral("in between"));
        pasteboard().writeImage(tiff);
        poll();
        QCOMPARE(historyRows().size(), 2);
        QCOMPARE(historyRows().first().hash(), row.hash());
    }

    void privacyDecisions()
    {
        auto owned = std::make_unique<FixedPrivacy>();
        FixedPrivacy &privacy = *owned;
        m_controller->setPrivacy(std::move(owned));

        // Without the advanced mode: keyword rules for text, the file switch for files.
        privacy.secretText = true;
        privacy.secretFiles = true;
        copyText(QStringLiteral("password 1234"));
        QVERIFY(historyRows().first().isSecret());
        pasteboard().setImage(gradientImage(4, 4));
        poll();
        QVERIFY(!historyRows().first().isSecret());
        const QString path = makeFile(QStringLiteral("keys.txt"), "keys");
        pasteboard().setFilePaths({path});
        poll();
        QVERIFY(historyRows().first().isSecret());
        QCOMPARE(privacy.asked,
                 QStringList({QStringLiteral("text||password 1234"), QStringLiteral("image|data|image data"),
                              QStringLiteral("file|txt|") + path}));

        // The advanced answer wins: 1 secret, anything but -1 ordinary, -1 drops the clip.
        privacy.advanced = 0;
        copyText(QStringLiteral("ordinary"));
        QVERIFY(!historyRows().first().isSecret());
        privacy.advanced = 1;
        privacy.secretText = false;
        copyText(QStringLiteral("marked"));
        QVERIFY(historyRows().first().isSecret());
        privacy.advanced = -1;
        const qsizetype stored = historyRows().size();
        QCoreApplication::processEvents();
        const int builds = m_menuBuilds;
        copyText(QStringLiteral("dropped"));
        pasteboard().setFilePaths({path});
        poll();
        QCOMPARE(historyRows().size(), stored);
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(md5_hex(QStringLiteral("dropped")))));
        QTRY_COMPARE(m_menuBuilds, builds + 2);
    }

    void signOutKeepsOnlyTheCurrentContent()
    {
        HistoryModel favourite;
        favourite.content = QStringLiteral("fav");
        favourite.file_hash = md5_hex(QStringLiteral("fav"));
        favourite.category = Category::favourite;
        favourite.save();
        copyText(QStringLiteral("old"));
        copyText(QStringLiteral("current"));
        int changes = 0;
        QObject observer;
        NotificationCenter::sharedInstance().addObserver(QLatin1String(Notifications::DATA_CHANGED), &observer,
                                                         [&](const QVariant &) { ++changes; });

        NotificationCenter::sharedInstance().post(QLatin1String(Notifications::USER_LOGOUTED));

        const QList<HistoryModel> rows = historyRows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().hash(), md5_hex(QStringLiteral("current")));
        QVERIFY(DBKeeper::getAllHistoryAtCategory(Category::favourite, 100).isEmpty());
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(md5_hex(QStringLiteral("old")))));
        QCOMPARE(payload(rows.first().hash()), QByteArray("current"));
        QCOMPARE(changes, 1);
    }

    void pollIntervalFromSettings()
    {
        const QString key = QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED);
        QCOMPARE(m_controller->pollInterval(), 600);
        ClipUserDefaults::setValue(key, 0.2);
        m_controller->startClipObserver();
        QCOMPARE(m_controller->pollInterval(), 200);
        // A value that would poll without pause counts as absent.
        ClipUserDefaults::setValue(key, 0);
        m_controller->startClipObserver();
        QCOMPARE(m_controller->pollInterval(), 600);
        ClipUserDefaults::remove(key);
    }
};

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
