#pragma once

#include "ObjectStore.h"

// Objects as files of a folder: "<root>/<user id>/<file hash>". A write goes to a temporary file
// in the same folder, every byte is checked as written and synced to the disk, then it is
// renamed over the key, so a crash or a full disk leaves either the old object, the new one, or
// nothing.
class FolderObjectStore final : public ObjectStore
{
public:
    explicit FolderObjectStore(const QString &root);

    // Removes temporary files that an interrupted write left behind. Only files older than any
    // write can take: another service process sharing the folder may be writing the young ones.
    void removeLeftovers();
    static constexpr int kLeftoverAgeSeconds = 600;

    StoreStatus put(const QString &key, const QByteArray &bytes) override;
    std::optional<QByteArray> get(const QString &key) override;
    bool remove(const QString &key) override;

private:
    std::optional<QString> pathOf(const QString &key) const;

    QString m_root;
};
