// Payload files in a real data folder: writing, archives, preview links, deletion, and
// permissions that keep them the owner's alone.
#include "TestDirs.h"
#include "TestFiles.h"
#include "TestSync.h"
#include "ZipReading.h"
#include "store/ClipFileManager.h"
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

ino_t inodeOf(const QString &path)
{
    struct stat info {
    };
    return stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

} // namespace

class TestClipFiles final : public QObject
{
    Q_OBJECT

private:
    TestDirs m_dirs;
    ClipFileManager &files() { return testFiles(); }

private slots:
    void init() { DBKeeper::removeAllData(); }

    void textPayloadIsTheUtf8BytesWithoutArchive()
    {
        const QByteArray text = u"héllo 剪贴板"_s.toUtf8();
        HistoryModel clip = clipFor(text, u"text_txt"_s);
        files().saveClipData(text, clip);
        QCOMPARE(files().getDataWithMd5(clip.hash()), text);
        QCOMPARE(files().getStringWithMd5(clip.hash()), u"héllo 剪贴板"_s);
        QCOMPARE(clip.file_size, double(text.size()));
        QVERIFY(!QFile::exists(PathHelper::getZipsFilePath(clip.hash())));
    }

    void invalidUtf8OrMissingPayloadReadsAsNone()
    {
        files().saveData(QByteArray("\xff\xfe\xfd", 3), u"bad"_s);
        QVERIFY(!files().getStringWithMd5(u"bad"_s));
        QVERIFY(!files().getDataWithMd5(u"missing"_s));
    }

    void zippedKindKeepsOneDeflatedEntryNamedByHash()
    {
        const QByteArray image(20000, 'x');
        HistoryModel clip = clipFor(image, u"image_data+zip"_s);
        files().saveClipData(image, clip);
        const QString archive = PathHelper::getZipsFilePath(clip.hash());
        const QList<ArchiveEntry> entries = readArchive(archive);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().name, clip.hash());
        QCOMPARE(entries.first().content, image);
        QVERIFY(entries.first().deflated);
        QCOMPARE(clip.file_size, double(QFileInfo(archive).size()));
    }

    void fileClipIsCopiedOnceAndArchived()
    {
        QTemporaryDir userFolder;
        const QString userFile = userFolder.filePath(u"report.pdf"_s);
        QVERIFY(TestFiles::write(userFile, QByteArray(3000, 'p')));

        HistoryModel clip = clipFor(QByteArray(3000, 'p'), u"file_pdf+zip"_s);
        QVERIFY(files().saveClipFile(userFile, clip));
        QCOMPARE(readArchive(PathHelper::getZipsFilePath(clip.hash())).first().content,
                 QByteArray(3000, 'p'));
        QCOMPARE(clip.file_size, double(QFileInfo(PathHelper::getZipsFilePath(clip.hash())).size()));

        // The payload exists already: the copy fails and the file is left untouched.
        HistoryModel again = clipFor(QByteArray(3000, 'p'), u"file_pdf+zip"_s);
        QVERIFY(!files().saveClipFile(userFile, again));
        QCOMPARE(again.file_size, 0.0);
        QCOMPARE(files().getDataWithMd5(clip.hash()), QByteArray(3000, 'p'));
    }

    // A payload that cannot be written (its folder is a file here) is reported, and the record
    // does not claim it: nothing would upload or paste bytes that are not there.
    void failedWritesLeaveTheRecordWithoutPayload()
    {
        const auto blockFolderOf = [](const QString &path) {
            const QString folder = QFileInfo(path).path();
            return QDir(folder).removeRecursively() && TestFiles::write(folder, "not a folder") ? folder
                                                                                                : QString();
        };
        const QByteArray text("lost for want of a folder");
        HistoryModel clip = clipFor(text, u"text_txt"_s);
        clip.local_file_ok = 1;
        QString blocker = blockFolderOf(PathHelper::getBaseFilePath(clip.hash()));
        QVERIFY(!blocker.isEmpty());
        QVERIFY(!files().saveClipData(text, clip));
        QCOMPARE(clip.local_file_ok.value_or(1), 0);
        QVERIFY(!files().getDataWithMd5(clip.hash()));

        QTemporaryDir userFolder;
        const QString userFile = userFolder.filePath(u"notes.txt"_s);
        QVERIFY(TestFiles::write(userFile, "some notes"));
        HistoryModel copied = clipFor("some notes", u"file_txt+zip"_s);
        QVERIFY(!files().saveClipFile(userFile, copied));
        QCOMPARE(copied.local_file_ok.value_or(1), 0);
        QVERIFY(QFile::remove(blocker));

        // A zipped kind travels as its archive: without the archive the payload is not complete.
        const QByteArray image(5000, 'i');
        HistoryModel picture = clipFor(image, u"image_data+zip"_s);
        picture.local_file_ok = 1;
        blocker = blockFolderOf(PathHelper::getZipsFilePath(picture.hash()));
        QVERIFY(!blocker.isEmpty());
        QVERIFY(!files().saveClipData(image, picture));
        QCOMPARE(picture.local_file_ok.value_or(1), 0);
        QVERIFY(QFile::remove(blocker));

        // Written, the record claims its payload.
        HistoryModel written = clipFor(image, u"image_data+zip"_s);
        QVERIFY(files().saveClipData(image, written));
        QVERIFY(files().saveClipFile(userFile, copied));
        QCOMPARE(copied.local_file_ok.value_or(0), 1);
    }

    void payloadFilesStayWhileAnyRowUsesTheHash()
    {
        const QByteArray bytes("shared payload");
        HistoryModel history = clipFor(bytes, u"image_data+zip"_s);
        files().saveClipData(bytes, history);
        history.save();
        HistoryModel favourite = history;
        favourite.category = Category::favourite;
        favourite.favourite = 1;
        favourite.save();

        QVERIFY(DBKeeper::deleteClipItem(history.hash(), Category::history));
        files().deleteFilesWithHashArray({history.hash()});
        QVERIFY(QFile::exists(PathHelper::getBaseFilePath(history.hash())));
        QVERIFY(QFile::exists(PathHelper::getZipsFilePath(history.hash())));

        // A preview named by the file name is a second name of the payload: it goes too.
        history.file_name = u"secret notes.txt"_s;
        const QString preview = files().makePreviewLink(history);
        QVERIFY(QFile::exists(preview));

        files().deleteFilesWithHashArray(DBKeeper::removeAllData());
        QVERIFY(!QFile::exists(PathHelper::getBaseFilePath(history.hash())));
        QVERIFY(!QFile::exists(PathHelper::getZipsFilePath(history.hash())));
        QVERIFY(!QFile::exists(preview));
    }

    void previewLinkSharesThePayloadAndIsRemadeAfterItChanges()
    {
        const QByteArray bytes("a file clip payload");
        HistoryModel clip = clipFor(bytes, u"file_txt+zip"_s);
        clip.file_name = u"notes.txt"_s;
        files().saveData(bytes, clip.hash());
        const QString payload = PathHelper::getBaseFilePath(clip.hash());

        const QString link = files().makePreviewLink(clip);
        QCOMPARE(QFileInfo(link).fileName(), u"notes.txt"_s);
        QCOMPARE(inodeOf(link), inodeOf(payload));
        QCOMPARE(files().makePreviewLink(clip), link);
        QCOMPARE(inodeOf(link), inodeOf(payload));

        // The payload is replaced by a new file (another inode): the link follows it.
        QVERIFY(QFile::remove(payload));
        files().saveData(bytes, clip.hash());
        QVERIFY(inodeOf(link) != inodeOf(payload));
        files().makePreviewLink(clip);
        QCOMPARE(inodeOf(link), inodeOf(payload));
    }

    void namesThatLeaveTheDataFolderAreRefused()
    {
        const QString outside = QDir(m_dirs.dataPath()).absoluteFilePath(u"../escaped"_s);
        files().saveData("x", u"../escaped"_s);
        QVERIFY(!QFile::exists(outside));
        QVERIFY(!files().getDataWithMd5(u"../../etc/passwd"_s));

        HistoryModel clip = clipFor("y", u"file_txt+zip"_s);
        files().saveData("y", clip.hash());
        clip.file_name = u"../../outside.txt"_s;
        const QString link = files().makePreviewLink(clip);
        QVERIFY(link.startsWith(PathHelper::getPreviewsFilePath()));
    }

    void clipFilesAreTheOwnersAlone()
    {
        const mode_t previous = umask(022);
        const QByteArray text("a password, copied by accident");
        HistoryModel textClip = clipFor(text, u"text_txt"_s);
        files().saveClipData(text, textClip);
        textClip.save();
        const QByteArray image(5000, 'i');
        HistoryModel imageClip = clipFor(image, u"image_data+zip"_s);
        files().saveClipData(image, imageClip);
        QTemporaryDir userFolder;
        const QString userFile = userFolder.filePath(u"private.pdf"_s);
        QVERIFY(TestFiles::write(userFile, "a user's file"));
        QVERIFY(chmod(QFile::encodeName(userFile).constData(), 0755) == 0);
        HistoryModel fileClip = clipFor("a user's file", u"file_pdf+zip"_s);
        fileClip.file_name = u"private.pdf"_s;
        QVERIFY(files().saveClipFile(userFile, fileClip));
        const QString preview = files().makePreviewLink(fileClip);
        umask(previous);

        for (const QString &folder : {PathHelper::dataFolder(), PathHelper::getBaseFilePath(),
                                      PathHelper::getZipsFilePath(), PathHelper::getPreviewsFilePath()})
            QCOMPARE(TestFiles::mode(folder), mode_t(0700));
        const QString database = DBFetcher::databasePath();
        for (const QString &path : QStringList{
                 PathHelper::getBaseFilePath(textClip.hash()), PathHelper::getBaseFilePath(imageClip.hash()),
                 PathHelper::getZipsFilePath(imageClip.hash()), PathHelper::getBaseFilePath(fileClip.hash()),
                 PathHelper::getZipsFilePath(fileClip.hash()), preview, database,
                 QString(database + u"-wal"_s), QString(database + u"-shm"_s)})
            QVERIFY2(TestFiles::mode(path) == 0600,
                     qPrintable(path + u" %1"_s.arg(TestFiles::mode(path), 0, 8)));
        QCOMPARE(TestFiles::mode(userFile), mode_t(0755));
    }

    void foldersAreRecreatedOnDemand()
    {
        QVERIFY(QDir(PathHelper::dataFolder()).removeRecursively());
        const QString zips = PathHelper::getZipsFilePath(u"abc"_s);
        QVERIFY(QFileInfo(PathHelper::dataFolder()).isDir());
        QVERIFY(QFileInfo(QFileInfo(zips).path()).isDir());
        QVERIFY(!QFile::exists(zips));
        QVERIFY(QFileInfo(PathHelper::getTmpDir()).isDir());
        QVERIFY(QFileInfo(PathHelper::getPluginsBaseDir()).isDir());
    }
};

QTEST_GUILESS_MAIN(TestClipFiles)
#include "tst_clipfiles.moc"
