#pragma once

#include <QList>

// The entries of a zip archive as libzip reads them: name, content and whether it is deflated.
// An archive that does not open gives no entries.
struct ArchiveEntry {
    QString name;
    QByteArray content;
    bool deflated = false;
};

QList<ArchiveEntry> readArchive(const QString &path);
