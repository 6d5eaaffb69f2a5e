// Payload files in a real data folder: writing, archives, failed writes, preview links, deletion,
// names that would leave the folder, and permissions that keep them the owner's alone.
#include "TestDirs.h"
#include "TestFiles.h"
#include "TestSync.h"
#include "ZipReading.h"
#include "store/DBFetcher.h"
#include "store/DBKeeper.h"
#include "store/PathHelper.h"
#include "support/Md5.h"

#include <QDir>
#include <QtTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

HistoryModel clipFor(const QByteArray &bytes, const QString &type)
{
    HistoryModel clip;
    clip.content = u"clip"_s;
    clip.file_hash = md5_hex(bytes);
    clip.type = type;
    return clip;
}

} // namespace

class TestClipFiles final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;

private slots:
    void init() { DBKeeper::removeAllData(); }

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
    void failedWritesLeaveTheRecordWithoutPayload_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("zipsBlocked");
        QTest::newRow("text") << u"text_txt"_s << false;
        QTest::newRow("archive") << u"image_data+zip"_s << true;
    }
    void failedWritesLeaveTheRecordWithoutPayload()
    {
        QFETCH(QString, type);
        QFETCH(bool, zipsBlocked);
        const QByteArray bytes("lost for want of a folder");
        HistoryModel clip = clipFor(bytes, type);
        clip.local_file_ok = 1;
        const QString folder = QFileInfo(zipsBlocked ? PathHelper::getZipsFilePath(clip.hash())
                                                     : PathHelper::getBaseFilePath(clip.hash()))
                                   .path();
        QVERIFY(QDir(folder).removeRecursively() && TestFiles::write(folder, "not a folder"));
        QVERIFY(!testFiles().saveClipData(bytes, clip));
        QCOMPARE(clip.local_file_ok.value_or(1), 0);
        QVERIFY(QFile::remove(folder));
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

QTEST_GUILESS_MAIN(TestClipFiles)
#include "tst_clipfiles.moc"
