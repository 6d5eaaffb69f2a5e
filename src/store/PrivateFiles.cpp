#include "store/PrivateFiles.h"

#include "store/PathHelper.h"
#include "support/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr mode_t kPermissionBits = 07777;

// Opens the entry without following a link and sets its mode when it differs.
void restrictEntry(const QByteArray &path, bool folder)
{
    struct stat info = {};
    if (lstat(path.constData(), &info) != 0 || S_ISLNK(info.st_mode))
        return;
    const mode_t wanted = S_ISDIR(info.st_mode) ? kFolderMode : kFileMode;
    if ((info.st_mode & kPermissionBits) == wanted)
        return;
    const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (folder ? O_DIRECTORY : 0);
    const int fd = ::open(path.constData(), flags);
    if (fd < 0) {
        // A file that its owner may not even read (mode 0200, say) cannot be opened; it was
        // no link a moment ago, so its mode is set by name.
        if (errno == EACCES && chmod(path.constData(), wanted) != 0)
            qCWarning(lcStore) << "cannot restrict" << path;
        return;
    }
    struct stat opened = {};
    if (fstat(fd, &opened) == 0 && (S_ISDIR(opened.st_mode) || S_ISREG(opened.st_mode))
        && fchmod(fd, S_ISDIR(opened.st_mode) ? kFolderMode : kFileMode) != 0)
        qCWarning(lcStore) << "cannot restrict" << path;
    ::close(fd);
}

void restrictFolderAndFiles(const QString &folder)
{
    PrivateFiles::restrict(folder);
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString &name : names)
        restrictEntry(QFile::encodeName(dir.filePath(name)), false);
}

} // namespace

namespace PrivateFiles {

bool makeFolder(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return true;
    // Parents outside the data folder get the usual permissions; the folder itself does not.
    const QString parent = info.absolutePath();
    if (!QFileInfo(parent).isDir() && !QDir().mkpath(parent))
        return false;
    if (::mkdir(QFile::encodeName(path).constData(), kFolderMode) != 0 && errno != EEXIST)
        return false;
    return QFileInfo(path).isDir();
}

void restrict(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat info = {};
    if (lstat(encoded.constData(), &info) == 0)
        restrictEntry(encoded, S_ISDIR(info.st_mode));
}

void tightenDataFolder()
{
    const QString data = PathHelper::dataFolder();
    // The data folder itself may be a link the user made to a folder elsewhere; that folder is
    // theirs to protect, and is restricted like ours.
    if (chmod(QFile::encodeName(data).constData(), kFolderMode) != 0 && errno != ENOENT && errno != ENOTDIR)
        qCWarning(lcStore) << "cannot restrict the data folder" << data;
    const QDir dir(data);
    const QStringList databaseFiles =
        dir.entryList({QStringLiteral("clipDB.sqlite*")}, QDir::Files | QDir::Hidden);
    for (const QString &name : databaseFiles)
        restrict(dir.filePath(name));
    for (const char *subfolder : {"files", "zips", "previews"}) {
        const QFileInfo info(dir.filePath(QLatin1String(subfolder)));
        if (info.isDir() && !info.isSymLink())
            restrictFolderAndFiles(info.filePath());
    }
}

} // namespace PrivateFiles
