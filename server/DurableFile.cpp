#include "DurableFile.h"

#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DurableFile {

namespace {

Result failure(int error)
{
    return error == ENOSPC || error == EDQUOT ? Result::NoSpace : Result::Failed;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

bool syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

Result replace(const QString &path, const QByteArray &bytes, mode_t mode)
{
    QByteArray pattern = QFile::encodeName(path) + ".tmp-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return failure(errno);
    const auto abandon = [&](int error) {
        ::close(fd);
        ::unlink(pattern.constData());
        return failure(error);
    };
    if (::fchmod(fd, mode) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0)
        return abandon(errno);
    // close() can report a deferred write error (NFS, quotas).
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(pattern.constData());
        return failure(error);
    }
    if (::rename(pattern.constData(), QFile::encodeName(path).constData()) != 0) {
        const int error = errno;
        ::unlink(pattern.constData());
        return failure(error);
    }
    return syncFolder(QFileInfo(path).absolutePath()) ? Result::Ok : failure(errno);
}

bool isLeftover(const QString &fileName)
{
    return fileName.contains(QLatin1String(".tmp-"));
}

} // namespace DurableFile
