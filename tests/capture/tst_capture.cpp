// The capture pipeline on an in-memory clipboard, with the real store in temporary folders.
#include "CaptureTestSupport.h"
#include "CaptureWait.h"
#include "TestDirs.h"
#include "TestSync.h"
#include "capture/ClipController.h"
#include "capture/ClipImage.h"
#include "platform/MemoryPasteboard.h"
#include "store/ClipUserDefaults.h"
#include "store/ConfigureManager.h"
#include "store/PathHelper.h"
#include "store/SettingsKeys.h"
#include "support/Md5.h"

#include <QDir>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
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
    int m_menuBuilds = 0;
    int m_historyRuns = 0;

    void startController()
    {
        m_controller = std::make_unique<ClipController>(*m_clipboard, testFiles());
        m_controller->setClock([this] { return m_now; });
        m_controller->setMenuRebuild([this] { ++m_menuBuilds; });
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
    void copyFile(const QString &path)
    {
        m_clipboard->setFilePaths({path});
        poll();
    }

    static void saveFavourite(const QString &text)
    {
        HistoryModel favourite;
        favourite.content = text;
        favourite.file_hash = md5_hex(text);
        favourite.category = Category::favourite;
        favourite.timestamp = 1;
        favourite.save();
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
        const QString text = u"Hello\n  clipboard, 你好"_s;
        const QByteArray bytes = text.toUtf8();
        copyText(text);
        const QList<HistoryModel> rows = historyRows();
        QCOMPARE(rows.size(), 1);
        const HistoryModel &row = rows.first();
        QCOMPARE(row.hash(), md5_hex(bytes));
        QCOMPARE(row.typeName(), u"text_txt"_s);
        QCOMPARE(row.content.value_or(QString()), u"Hello clipboard, 你好"_s);
        QCOMPARE(row.timestamp.value_or(0), m_now);
        QCOMPARE(row.local_file_ok.value_or(0), 1);
        QCOMPARE(row.file_size.value_or(0.0), double(bytes.size()));
        QVERIFY(!row.isSecret());
        QCOMPARE(payload(row.hash()), bytes);
        QVERIFY(!QFile::exists(PathHelper::getZipsFilePath(row.hash())));
        QCOMPARE(m_controller->currentClipHash(), row.hash());
        QCOMPARE(m_historyRuns, 1);
        QCOMPARE(m_menuBuilds, 1);

        // The text stops at a NUL character.
        copyText(u"before"_s + QChar(u'\0') + u"after"_s);
        QCOMPARE(historyRows().first().hash(), md5_hex(QByteArray("before")));
        QCOMPARE(payload(historyRows().first().hash()), QByteArray("before"));
    }

    // A poll acts only when the counter moved; empty content stores nothing but rebuilds the
    // menu; the first poll after a start captures what is already there.
    void pollsFollowTheChangeCounter()
    {
        poll();
        m_clipboard->clear();
        poll();
        m_clipboard->setString(QString());
        poll();
        QVERIFY(historyRows().isEmpty());
        QCOMPARE(m_historyRuns, 0);
        QTRY_COMPARE(m_menuBuilds, 2); // not for counter 0: nothing was ever copied

        copyText(u"already there"_s);
        poll();
        QCOMPARE(m_historyRuns, 1);
        QTRY_COMPARE(m_menuBuilds, 3);
        QCOMPARE(m_controller->lastChangedCount(), m_clipboard->changeCount());

        // A new start: the same content is in the history and on the clipboard.
        startController();
        poll();
        QCOMPARE(historyRows().size(), 1);
        QCOMPARE(historyRows().first().timestamp.value_or(0), m_now);

        // The interval: a value that would poll without pause counts as absent (the x11 test
        // reads a set one).
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED), 0);
        m_controller->startClipObserver();
        QCOMPARE(m_controller->pollInterval(), 600);
        ClipUserDefaults::remove(QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED));
    }

    // A reported change is captured at the next turn of the event loop, without waiting for
    // the timer (10 s here), and the content at start right after the start; the timer's tick
    // then finds nothing new. Changes reported before that turn share one capture, of the
    // newest content. Without reports, the timer alone captures.
    void reportedChangesAndTheTimer()
    {
        const auto top = [] { return historyRows().value(0).hash(); };
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED), 10);
        m_clipboard->setString(u"there at start"_s);
        startController();
        QCOMPARE(m_controller->pollInterval(), 10000);
        // A clipboard that may not report every change is polled as well.
        QVERIFY(m_controller->isPolling());
        QCOMPARE(m_historyRuns, 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_historyRuns, 1, 5000);
        QCOMPARE(top(), md5_hex(u"there at start"_s));

        m_now += 1;
        m_clipboard->setString(u"first"_s);
        m_clipboard->setString(u"second"_s);
        m_clipboard->setString(u"third"_s);
        QCOMPARE(m_historyRuns, 1); // not inside the copying code
        QTRY_COMPARE_WITH_TIMEOUT(m_historyRuns, 2, 5000);
        QCOMPARE(top(), md5_hex(u"third"_s));
        QCOMPARE(historyRows().size(), 2);
        m_controller->seekClipboard(); // the timer's tick
        QCoreApplication::processEvents();
        QCOMPARE(m_historyRuns, 2);

        m_clipboard->setReportsChanges(false);
        ClipUserDefaults::setValue(QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED), 0.1);
        m_controller->startClipObserver();
        m_now += 1;
        m_clipboard->setString(u"found by the timer"_s);
        QTRY_COMPARE(m_historyRuns, 3);
        QCOMPARE(top(), md5_hex(u"found by the timer"_s));
        ClipUserDefaults::remove(QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED));
    }

    // Content already stored is only re-timestamped and moved to the top, keeping its own
    // fields; content kept only as a favourite gets a history row.
    void storedContentMovesToTopWithoutNewRow()
    {
        const QString alpha = md5_hex(u"alpha"_s);
        saveFavourite(u"alpha"_s);
        copyText(u"alpha"_s);
        QCOMPARE(historyRows().size(), 1);
        copyText(u"beta"_s);
        HistoryModel stored;
        stored.file_hash = alpha;
        stored.signSecret(true);
        DBKeeper::updateHistoryID(77, 5, alpha);
        copyText(u"alpha"_s);

        const QList<HistoryModel> rows = historyRows();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.first().hash(), alpha);
        QCOMPARE(rows.first().timestamp.value_or(0), m_now);
        QVERIFY(rows.first().isSecret());
        QCOMPARE(rows.first().history_id.value_or(0), 77);
        QCOMPARE(m_historyRuns, 3);
        const QList<HistoryModel> favourites = DBKeeper::getAllHistoryAtCategory(Category::favourite, 100);
        QCOMPARE(favourites.size(), 1);
        QCOMPARE(favourites.first().timestamp.value_or(0), m_now);
    }

    // Every capture trims the history to the length of the settings, the oldest clips and
    // their payload files first; a copy of a clip that is already kept moves it up instead.
    void captureKeepsTheHistoryLength()
    {
        testSettings().setHistoryLength(10);
        for (int i = 0; i < 12; ++i)
            copyText(u"clip %1"_s.arg(i));
        const QList<HistoryModel> rows = DBKeeper::getAllHistoryAtCategory(Category::history, 100);
        QCOMPARE(rows.size(), 10);
        QCOMPARE(rows.first().content.value_or(QString()), u"clip 11"_s);
        QCOMPARE(rows.last().content.value_or(QString()), u"clip 2"_s);
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(md5_hex(u"clip 0"_s))));
        QVERIFY(QFile::exists(PathHelper::getBaseFilePath(md5_hex(u"clip 2"_s))));
        copyText(u"clip 2"_s);
        QCOMPARE(DBKeeper::getAllHistoryAtCategory(Category::history, 100).size(), 10);
        testSettings().setHistoryLength(SettingsDefaults::historyLength);
    }

    void fileBecomesAFileClipWithArchive_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("crowded"); // among other files, an image and a text
        const auto row = [](const char *tag, const QString &name, qsizetype size, const QString &type,
                            bool crowded) { QTest::newRow(tag) << name << size << type << crowded; };
        row("extension", u"report.pdf"_s, 3000, u"file_pdf+zip"_s, false);
        row("no extension", u"README"_s, 7, u"file_unknow+zip"_s, false);
        row("at the size limit", u"limit.bin"_s, 5767168, u"file_bin+zip"_s, false);
        // Only the first file counts, and a file URL beats an image and a text.
        row("first of several", u"one.txt"_s, 3, u"file_txt+zip"_s, true);
    }
    void fileBecomesAFileClipWithArchive()
    {
        QFETCH(QString, name);
        QFETCH(qsizetype, size);
        QFETCH(QString, type);
        QFETCH(bool, crowded);
        const QByteArray bytes(size, 'f');
        if (crowded)
            m_clipboard->setContent({makeFile(name, bytes), makeFile(u"two.txt"_s, "two")},
                                    gradientImage(8, 8), name);
        else
            m_clipboard->setFilePaths({makeFile(name, bytes)});
        poll();
        const QList<HistoryModel> rows = historyRows();
        QCOMPARE(rows.size(), 1);
        const HistoryModel &row = rows.first();
        QCOMPARE(row.hash(), md5_hex(bytes));
        QCOMPARE(row.typeName(), type);
        QCOMPARE(row.content.value_or(QString()), name);
        QCOMPARE(row.file_name.value_or(QString()), name);
        QCOMPARE(payload(row.hash()), bytes);
        // The archive's layout is tst_clipfiles'; here that it holds these bytes.
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
        if (geteuid() != 0) {
            paths << makeFile(u"locked.txt"_s, "secret");
            QFile::setPermissions(paths.last(), QFileDevice::Permissions());
        }
        for (const QString &path : paths)
            copyFile(path);
        QVERIFY(historyRows().isEmpty());
        QCOMPARE(QDir(PathHelper::getBaseFilePath()).entryList(QDir::Files), payloads);
        QCOMPARE(m_historyRuns, 0);
    }

    // The privacy rules, image coding and payload writing run off the main thread: while a
    // slow decision is pending the event loop keeps turning and nothing is stored; copies made
    // meanwhile are stored after it, in the order they were made.
    void slowWorkLeavesTheMainThreadFree()
    {
        QSemaphore release;
        std::atomic<bool> askedOffMain = false;
        struct SlowPrivacy final : ClipPrivacy {
            QSemaphore &release;
            std::atomic<bool> &askedOffMain;
            SlowPrivacy(QSemaphore &r, std::atomic<bool> &off)
                : release(r)
                , askedOffMain(off)
            { }
            bool isSecretText(const QString &text) override
            {
                askedOffMain = QThread::currentThread() != QCoreApplication::instance()->thread();
                release.acquire();
                return text.contains(u"secret"_s);
            }
        };
        m_controller->setPrivacy(std::make_unique<SlowPrivacy>(release, askedOffMain));

        m_clipboard->setString(u"a secret"_s);
        m_controller->seekClipboard();
        m_clipboard->setString(u"plain"_s);
        m_controller->seekClipboard();
        bool timerRan = false;
        QTimer::singleShot(0, this, [&] { timerRan = true; });
        QTRY_VERIFY(timerRan);
        QVERIFY(m_controller->isCapturing());
        QVERIFY(historyRows().isEmpty());

        release.release(2);
        QVERIFY(waitForCaptures(*m_controller));
        QVERIFY(askedOffMain);
        const QList<HistoryModel> rows = historyRows();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0).hash(), md5_hex(u"plain"_s));
        QVERIFY(!rows.at(0).isSecret());
        QVERIFY(rows.at(1).isSecret());
    }

    void signOutKeepsOnlyTheCurrentContent()
    {
        saveFavourite(u"fav"_s);
        copyText(u"old"_s);
        copyText(u"current"_s);
        QCoreApplication::processEvents();
        const int buildsBefore = m_menuBuilds;
        // As the program wires them.
        QObject wiring;
        connect(&testAccount(), &ConfigureManager::signedOut, &wiring,
                [this] { m_controller->keepCurrentContentAfterSignOut(); });

        testAccount().setLoginUserToken(std::nullopt);

        // The menu shows the emptied history with the current content.
        QTRY_COMPARE(m_menuBuilds, buildsBefore + 1);
        const QList<HistoryModel> rows = historyRows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().hash(), md5_hex(u"current"_s));
        QVERIFY(DBKeeper::getAllHistoryAtCategory(Category::favourite, 100).isEmpty());
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(md5_hex(u"old"_s))));
        QCOMPARE(payload(rows.first().hash()), QByteArray("current"));
    }
};

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
