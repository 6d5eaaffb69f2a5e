// The history store and its payload files: the clip record's upsert rules, change mark and JSON
// form; search, sync selections, column updates, deletions, retention and clearing, also while
// other threads write; payload writing, archives, failed writes, preview links, names that would
// leave the data folder and permissions; the sign-out and damaged settings values.
#include "CaptureWait.h"
#include "TestDirs.h"
#include "TestFiles.h"
#include "TestSync.h"
#include "ZipReading.h"
#include "platform/MemoryPasteboard.h"
#include "store/ClipUserDefaults.h"
#include "store/DBKeeper.h"
#include "store/HistorySearch.h"
#include "store/PathHelper.h"
#include "store/SettingsKeys.h"
#include "support/Clock.h"
#include "support/Md5.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

HistoryModel addClip(const QString &hash, qint64 timestamp, const QString &category = Category::history,
                     qint64 favourite = 0)
{
    HistoryModel clip;
    clip.content = hash;
    clip.file_hash = hash;
    clip.timestamp = timestamp;
    clip.category = category;
    clip.favourite = favourite;
    clip.save();
    clip.fetch(); // complete, so that later saves of it update the row
    return clip;
}

// An unsaved clip of these payload bytes.
HistoryModel clipFor(const QByteArray &bytes, const QString &type)
{
    HistoryModel clip;
    clip.content = u"clip"_s;
    clip.file_hash = md5_hex(bytes);
    clip.type = type;
    return clip;
}

// The first column of every row the query answers, as text.
QStringList firstColumn(const char *sql, SqlParams params = {})
{
    QStringList found;
    DBObject::inDatabase([&](Database &db) {
        SqlQuery rows = db.query(sql, std::move(params));
        while (rows.next())
            found << rows.text(0).value_or(u"NULL"_s);
    });
    return found;
}

qint64 rowCount(const QString &category)
{
    return firstColumn("select count(*) from History where category = ?", {category}).value(0).toLongLong();
}

QString stored(const QString &hash, const char *column, const QString &category = Category::history)
{
    const QByteArray sql =
        QByteArray("select ") + column + " from History where file_hash = ? and category = ?";
    return firstColumn(sql.constData(), {hash, category}).value(0);
}

} // namespace

class TestDBKeeper final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;

private slots:
    void init() { DBKeeper::removeAllData(); }

    // An update binds every field: an absent required one fails the whole statement.
    void incompleteRecordsLeaveTheTableAsItWas()
    {
        HistoryModel noHash;
        noHash.content = u"x"_s;
        noHash.save();
        HistoryModel clip = addClip(u"h4"_s, 5);
        clip.content = std::nullopt;
        clip.timestamp = 99;
        clip.save();
        QCOMPARE(stored(u"h4"_s, "timeStamp").toDouble(), 5.0);
        QCOMPARE(rowCount(Category::history), 1);
    }

    // A save of a known clip (as a pull does) never clears its secret mark or its local
    // change; the secret mark is shared with the favourite row of the same content.
    void saveOfExistingKeyKeepsChangeMarkAndSecretFlag()
    {
        HistoryModel clip = addClip(u"h3"_s, 1);
        addClip(u"h3"_s, 1, Category::favourite, 1);
        clip.increase_change_count();
        clip.signSecret(true);
        const QString markBefore = stored(u"h3"_s, "change_timestamp");

        HistoryModel update = addClip(u"h3"_s, 2);
        update.change_timestamp = 0;
        update.secret = false;
        update.save();
        QCOMPARE(stored(u"h3"_s, "secert") + stored(u"h3"_s, "secert", Category::favourite), u"11"_s);
        QCOMPARE(stored(u"h3"_s, "change_timestamp"), markBefore);
    }

    // A push answered after a newer local change leaves that change to be pushed.
    void changeMarkHandshakeAcrossTwoCopies()
    {
        HistoryModel first = addClip(u"h6"_s, 1);
        Clock::setSourceForTesting([] { return 1700000000.25; });
        first.increase_change_count();
        HistoryModel second = first;
        Clock::setSourceForTesting([] { return 1700000001.5; });
        second.increase_change_count();
        Clock::setSourceForTesting({});

        first.return_to_zero_change_count();
        QVERIFY(stored(u"h6"_s, "change_timestamp").toDouble() > 0);
        second.return_to_zero_change_count();
        QCOMPARE(stored(u"h6"_s, "change_timestamp").toDouble(), 0.0);
    }

    // The local fields (the secret mark, the category) of a record from elsewhere are never
    // taken in. (Secret clips never leave: syncSelectionsSkipWhatMustNotTravel.)
    void jsonKeepsLocalFieldsLocal()
    {
        const std::optional<HistoryModel> read = HistoryModel::fromJson(
            QJsonDocument::fromJson(
                R"({"file_hash":"abc","file_name":null,"secert":1,"category":"favourite"})")
                .object());
        QVERIFY(read);
        QCOMPARE(read->secret, false);
        QCOMPARE(read->category, Category::history);
        QVERIFY(!HistoryModel::fromJson(QJsonValue(QJsonArray())));
    }

    void hostileValuesAreStoredAsData()
    {
        HistoryModel clip = addClip(u"x' or '1'='1"_s, 1);
        clip.content = u"'; drop table History; --"_s;
        clip.save();
        QCOMPARE(DBKeeper::getAllHistory().value(0).content, clip.content);
    }

    // Any part of a text, in any case and script, newest first; favourites' own rows are not
    // listed twice; signs of LIKE and of the FTS query language are taken literally.
    void searchFindsAnyPartOfATextOnce_data()
    {
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("any case") << u"MEETING"_s << QStringList{u"later meeting"_s, u"Meeting notes"_s};
        QTest::newRow("chinese") << u"会议记录"_s << QStringList{u"会议记录：星期二"_s};
        QTest::newRow("shorter than the index") << u"星期"_s << QStringList{u"会议记录：星期二"_s};
        QTest::newRow("like signs") << u"f_t"_s << QStringList{u"100% off_today"_s};
        QTest::newRow("fts signs") << u"\"hello\" NOT"_s << QStringList{u"say \"hello\" NOT OR AND *"_s};
    }
    void searchFindsAnyPartOfATextOnce()
    {
        QFETCH(QString, search);
        QFETCH(QStringList, expected);
        for (int i = 0; i < 60; ++i)
            addClip(u"filler clip %1"_s.arg(i), 1000 + i);
        int time = 5000;
        for (const QString &text : {u"Meeting notes"_s, u"会议记录：星期二"_s, u"100% off_today"_s,
                                    u"say \"hello\" NOT OR AND *"_s, u"later meeting"_s})
            addClip(text, ++time);
        addClip(u"Meeting notes"_s, 5000, Category::favourite, 1);
        QStringList found;
        for (const HistoryModel &clip : HistorySearch::find(search))
            found << clip.content.value_or(QString());
        QCOMPARE(found, expected);
        QCOMPARE(HistorySearch::find(QString(), 50).size(), 50);
    }

    // The history keeps as many clips as the settings say (10 to 10,000; the trimming at a
    // capture: tst_capture), newest first; the favourites keep their own 60; rows tied at the
    // boundary stay.
    void historyLengthBoundsTheTrim()
    {
        testSettings().setHistoryLength(3);
        QCOMPARE(Settings::historyLength(), 10);
        testSettings().setHistoryLength(50000);
        QCOMPARE(Settings::historyLength(), 10000);
        testSettings().setHistoryLength(SettingsDefaults::historyLength);
        for (int i = 0; i < 70; ++i)
            addClip(u"favourite %1"_s.arg(i), i, Category::favourite, 1);
        DBKeeper::cleanupDatabase(Category::favourite);
        QCOMPARE(rowCount(Category::favourite), 60);
        addClip(u"oldest"_s, 1);
        for (int i = 0; i < 61; ++i)
            addClip(u"h%1"_s.arg(i), i < 2 ? 2 : 100 + i);
        QCOMPARE(DBKeeper::cleanupDatabase(Category::history), QStringList{u"oldest"_s});
    }

    void clearingSparesFavourites()
    {
        addClip(u"plain"_s, 10);
        addClip(u"old"_s, 1);
        addClip(u"loved"_s, 2, Category::history, 50);
        addClip(u"loved"_s, 2, Category::favourite, 50);
        addClip(u"unloved"_s, 3, Category::history, -60);

        QStringList cleared = DBKeeper::clearHistoryLessThan(5);
        cleared.sort();
        QCOMPARE(cleared, (QStringList{u"old"_s, u"unloved"_s}));
        QCOMPARE(DBKeeper::clearAllHistory(), std::optional(QStringList{u"plain"_s}));
        QCOMPARE(rowCount(Category::history) + rowCount(Category::favourite), 2);
    }

    // Secret clips and clips over the size limit are never pushed; one at the limit is.
    void syncSelectionsSkipWhatMustNotTravel()
    {
        const auto changed = [](const QString &hash, double size) {
            HistoryModel clip = addClip(hash, 40);
            clip.file_size = size;
            clip.save();
            clip.increase_change_count();
            return clip;
        };
        changed(u"secret"_s, 10).signSecret(true);
        changed(u"huge"_s, 5767169);
        QVERIFY(!DBKeeper::getUnProcessHistory());
        changed(u"limit"_s, 5767168);
        QCOMPARE(DBKeeper::getUnProcessHistory()->hash(), u"limit"_s);
    }

    // A payload travels when one side has it and the other does not.
    void fileSelectionFindsPayloadOnOneSideOnly()
    {
        struct Case {
            int fileId, remoteReady, localOk;
            bool picked;
        };
        for (const Case &c : {Case{1, 1, 1, false}, Case{1, 0, 0, false}, Case{0, 0, 1, false},
                              Case{1, 0, 1, true}, Case{1, 1, 0, true}}) {
            DBKeeper::removeAllData();
            HistoryModel clip = addClip(u"f"_s, 1);
            clip.file_id = c.fileId;
            clip.file_ready = c.remoteReady;
            clip.local_file_ok = c.localOk;
            clip.save();
            QCOMPARE(DBKeeper::getFileProcessHistory().has_value(), c.picked);
        }
    }

    void updatesReachEveryRowOfAHash()
    {
        addClip(u"h"_s, 1);
        addClip(u"h"_s, 1, Category::favourite, 9);
        DBKeeper::setLocalFileOkWithHash(u"h"_s);
        QVERIFY(DBKeeper::updateHistoryID(5, 6, u"h"_s));
        QCOMPARE(firstColumn("select distinct local_file_ok || history_id || file_id from History"),
                 QStringList{u"156"_s});
        QCOMPARE(DBKeeper::getSyncFavourite().value("5"_L1).toObject().value("favourite"_L1).toInt(), 9);
    }

    // Bad ids delete nothing, and clips never pushed (a secret one among them, id 0) are out of
    // reach of any id; a good id deletes the clip with its favourite row.
    void deletionsByIdAndHash()
    {
        addClip(u"d1"_s, 1);
        addClip(u"d1"_s, 1, Category::favourite, 3);
        QVERIFY(DBKeeper::updateHistoryID(31, 0, u"d1"_s));
        addClip(u"never pushed"_s, 2);
        addClip(u"secret"_s, 3).signSecret(true);
        for (const QVariant &id :
             {QVariant(u"999"_s), QVariant(u"1 or 1=1"_s), QVariant(0), QVariant(u"-7"_s)})
            QVERIFY2(!DBKeeper::deleteHistoryWithId(id), qPrintable(id.toString()));
        QCOMPARE(rowCount(Category::history), 3);
        QCOMPARE(DBKeeper::deleteHistoryWithId(u"31"_s), u"d1"_s);
        QCOMPARE(rowCount(Category::history) + rowCount(Category::favourite), 2);

        addClip(u"never pushed"_s, 2, Category::favourite, 3);
        QVERIFY(DBKeeper::deleteClipItem(u"never pushed"_s, Category::favourite));
        QVERIFY(DBKeeper::historyExist(u"never pushed"_s));
    }

    // The sign-out wipes rows and payload files before anyone hears of it, and forgets the
    // account, token included; the device keeps its own token. (The service ending the sign-in
    // keeps the history: tst_sync_requests.)
    void signOutWipesRowsAndFilesBeforeNotifying()
    {
        HistoryModel clip = clipFor("favourite payload", u"image_data+zip"_s);
        testFiles().saveClipData("favourite payload", clip);
        clip.category = Category::favourite;
        clip.save();
        testAccount().setLoginUserToken(u"tok"_s);
        testAccount().setLoginUserId(u"7"_s);
        testAccount().setLoginUserEmail(u"me@example.org"_s);
        testSettings().setPullCursor(42);
        testSettings().setBrokerCredentials(std::pair(u"7"_s, u"broker secret"_s));
        Settings::setDeviceToken(u"0123456789abcdef0123456789abcdef"_s);
        qsizetype clipsLeft = -1;
        QObject context;
        QObject::connect(&testAccount(), &ConfigureManager::signedOut, &context, [&] {
            clipsLeft = DBKeeper::getAllHistory().size() + DBKeeper::getAllFavourites().size();
        });
        testAccount().setLoginUserToken(std::nullopt);
        QTRY_COMPARE(clipsLeft, 0);
        for (const char *name :
             {SettingsKeys::loginUserToken, SettingsKeys::loginUserId, SettingsKeys::loginUserEmail,
              SettingsKeys::lastPullRequestTime, SettingsKeys::mqttUserName, SettingsKeys::mqttPassword})
            QVERIFY2(!ClipUserDefaults::contains(QLatin1String(name)), name);
        QVERIFY(ClipUserDefaults::contains(QLatin1String(SettingsKeys::deviceToken)));
        QVERIFY(!QFile::exists(PathHelper::getZipsFilePath(clip.hash())));
    }

    // Stored values that would do harm read as their defaults, and are never written.
    void damagedValuesReadAsDefaults()
    {
        for (const char *damaged : {"-5", "soon"}) {
            ClipUserDefaults::setValue(QLatin1String(SettingsKeys::lastPullRequestTime),
                                       QString::fromLatin1(damaged));
            QCOMPARE(Settings::pullCursor(), u"0"_s);
        }
        QVERIFY(!testSettings().setPullCursor(-1));
        for (const double insane : {0.0, 1e9, std::nan("")}) {
            ClipUserDefaults::setValue(QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED), insane);
            QCOMPARE(Settings::pollIntervalSeconds(), 0.6);
        }
        ClipUserDefaults::remove(QLatin1String(SettingsKeys::CLIP_MONITOR_SPEED));
    }

    void concurrentWritersLoseNothing()
    {
        // Two threads write for a few seconds while the main thread reads; every row arrives.
        std::atomic<int> written[2] = {0, 0};
        QElapsedTimer clock;
        clock.start();
        auto writer = [&](int id) {
            return QThread::create([&, id] {
                int n = 0;
                while (clock.elapsed() < 2500) {
                    HistoryModel clip = addClip(u"t%1-%2"_s.arg(id).arg(n), n);
                    clip.increase_change_count();
                    DBKeeper::updateTimestamp(n + 1, clip.hash());
                    written[id] = ++n;
                }
            });
        };
        std::unique_ptr<QThread> a(writer(0)), b(writer(1));
        a->start();
        b->start();
        while (!a->isFinished() || !b->isFinished())
            DBKeeper::getAllHistory();
        a->wait();
        b->wait();
        QVERIFY(written[0] > 0 && written[1] > 0);
        QCOMPARE(rowCount(Category::history), qint64(written[0] + written[1]));
    }

    // The capture stores clips (each twice, as when the same text is copied again; the payload
    // written on its worker, the row on the main thread) while another thread clears the
    // history, as the clear command does, both through the real store on one database file.
    // Afterwards every row has its payload and every payload has a row.
    void clearingWhileCapturingKeepsRowsAndPayloadsTogether()
    {
        std::atomic<bool> capturing = true;
        std::atomic<int> clears = 0;
        std::unique_ptr<QThread> clearing(QThread::create([&] {
            while (capturing) {
                const QStringList hashes = ++clears % 4 == 0
                                               ? DBKeeper::removeAllData()
                                               : DBKeeper::clearAllHistory().value_or(QStringList());
                testFiles().deleteFilesWithHashArray(hashes);
            }
        }));
        clearing->start();
        MemoryPasteboard clipboard;
        clipboard.setReportsChanges(false);
        ClipController controller(clipboard, testFiles());
        for (int i = 0; i < 600; ++i) {
            clipboard.setString(u"clip %1"_s.arg(i / 2));
            captureNow(controller);
        }
        capturing = false;
        clearing->wait();

        QStringList payloads = QDir(PathHelper::getBaseFilePath()).entryList(QDir::Files);
        payloads.sort();
        QVERIFY(clears > 10);
        QCOMPARE(payloads, firstColumn("select distinct file_hash from History order by file_hash"));
    }

    void textPayloadIsTheUtf8Bytes()
    {
        const QByteArray text = u"héllo 剪贴板"_s.toUtf8();
        HistoryModel clip = clipFor(text, u"text_txt"_s);
        testFiles().saveClipData(text, clip);
        QCOMPARE(testFiles().getStringWithMd5(clip.hash()), u"héllo 剪贴板"_s);
        testFiles().saveData(QByteArray("\xff\xfe\xfd", 3), u"bad"_s);
        QVERIFY(!testFiles().getStringWithMd5(u"bad"_s));
    }

    // Another device reads the archive: one deflated entry named by the hash; its size is the
    // clip's.
    void zippedKindKeepsOneDeflatedEntryNamedByHash()
    {
        const QByteArray image(20000, 'x');
        HistoryModel clip = clipFor(image, u"image_data+zip"_s);
        testFiles().saveClipData(image, clip);
        const QString archive = PathHelper::getZipsFilePath(clip.hash());
        const QList<ArchiveEntry> entries = readArchive(archive);
        QCOMPARE(entries.size(), 1);
        QVERIFY(entries.first().name == clip.hash() && entries.first().content == image
                && entries.first().deflated);
        QCOMPARE(clip.file_size, double(QFileInfo(archive).size()));
    }

    // A payload that cannot be written (its folder is a file here) is reported, and the record
    // does not claim it: nothing would upload or paste bytes that are not there. A zipped kind
    // travels as its archive: without the archive the payload is not complete.
    void failedWritesLeaveTheRecordWithoutPayload()
    {
        const QByteArray bytes("lost for want of a folder");
        for (const QString &type : {u"text_txt"_s, u"image_data+zip"_s}) {
            HistoryModel clip = clipFor(bytes, type);
            clip.local_file_ok = 1;
            const QString folder =
                QFileInfo(type.endsWith(u"+zip"_s) ? PathHelper::getZipsFilePath(clip.hash())
                                                   : PathHelper::getBaseFilePath(clip.hash()))
                    .path();
            QVERIFY(QDir(folder).removeRecursively() && TestFiles::write(folder, "not a folder"));
            QVERIFY2(!testFiles().saveClipData(bytes, clip), qPrintable(type));
            QCOMPARE(clip.local_file_ok.value_or(1), 0);
            QVERIFY(QFile::remove(folder));
        }
    }

    void payloadFilesStayWhileAnyRowUsesTheHash()
    {
        const QByteArray bytes("shared payload");
        HistoryModel history = clipFor(bytes, u"image_data+zip"_s);
        testFiles().saveClipData(bytes, history);
        history.save();
        HistoryModel favourite = history;
        favourite.category = Category::favourite;
        favourite.save();

        QVERIFY(DBKeeper::deleteClipItem(history.hash(), Category::history));
        testFiles().deleteFilesWithHashArray({history.hash()});
        QVERIFY(QFile::exists(PathHelper::getZipsFilePath(history.hash())));

        // A preview named by the file name is a second name of the payload: it goes too.
        history.file_name = u"secret notes.txt"_s;
        const QString preview = testFiles().makePreviewLink(history);
        testFiles().deleteFilesWithHashArray(DBKeeper::removeAllData());
        for (const QString &path : {PathHelper::getBaseFilePath(history.hash()),
                                    PathHelper::getZipsFilePath(history.hash()), preview})
            QVERIFY2(!QFile::exists(path), qPrintable(path));
    }

    void namesThatLeaveTheDataFolderAreRefused()
    {
        testFiles().saveData("x", u"../escaped"_s);
        QVERIFY(!QFile::exists(QDir(m_dirs.dataPath()).absoluteFilePath(u"../escaped"_s)));
        QVERIFY(!testFiles().getDataWithMd5(u"../../etc/passwd"_s));

        HistoryModel clip = clipFor("y", u"file_txt+zip"_s);
        testFiles().saveData("y", clip.hash());
        clip.file_name = u"../../outside.txt"_s;
        QVERIFY(testFiles().makePreviewLink(clip).startsWith(PathHelper::getPreviewsFilePath()));
    }

    // Whatever the umask, and for a copied file whatever its own mode.
    void clipFilesAreTheOwnersAlone()
    {
        const mode_t previous = umask(022);
        QTemporaryDir userFolder;
        const QString userFile = userFolder.filePath(u"private.pdf"_s);
        QVERIFY(TestFiles::write(userFile, "a user's file"));
        QVERIFY(chmod(QFile::encodeName(userFile).constData(), 0755) == 0);
        HistoryModel fileClip = clipFor("a user's file", u"file_pdf+zip"_s);
        fileClip.file_name = u"private.pdf"_s;
        QVERIFY(testFiles().saveClipFile(userFile, fileClip));
        fileClip.save();
        const QString preview = testFiles().makePreviewLink(fileClip);
        umask(previous);

        for (const QString &folder : {PathHelper::dataFolder(), PathHelper::getBaseFilePath(),
                                      PathHelper::getZipsFilePath(), PathHelper::getPreviewsFilePath()})
            QCOMPARE(TestFiles::mode(folder), mode_t(0700));
        const QString database = DBFetcher::databasePath();
        for (const QString &path :
             {PathHelper::getBaseFilePath(fileClip.hash()), PathHelper::getZipsFilePath(fileClip.hash()),
              preview, database, QString(database + u"-wal"_s)})
            QVERIFY2(TestFiles::mode(path) == 0600, qPrintable(path));
        QCOMPARE(TestFiles::mode(userFile), mode_t(0755));
    }
};

QTEST_GUILESS_MAIN(TestDBKeeper)
#include "tst_dbkeeper.moc"
