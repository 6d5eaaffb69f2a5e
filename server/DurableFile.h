#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Files the service must never lose or leave short: each is replaced by a complete new version
// or not at all. The bytes go to a temporary file beside the target, every byte is checked as
// written, the file is synced to the disk and then renamed over the target, and the folder is
// synced so the rename survives a crash. On any failure the temporary file is removed and the
// old file stays as it was.
namespace DurableFile {

enum class Result {
    Ok,
    NoSpace, // the disk (or the user's quota on it) is full
    Failed, // any other failure
};

Result replace(const QString &path, const QByteArray &bytes, mode_t mode = 0600);

// Temporary files are named "<target>.tmp-XXXXXX"; these are what an interrupted write leaves.
bool isLeftover(const QString &fileName);

} // namespace DurableFile
