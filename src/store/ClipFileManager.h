#pragma once

#include "store/HistoryModel.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>

// Writes, reads, packs, links and deletes the payload files of clips. A payload is the file
// files/HASH; kinds marked "+zip" also keep zips/HASH, an archive with one deflated entry
// named by the hash, which is what travels to and from the service. Payloads and archives are
// readable by their owner only.
class ClipFileManager final
{
    Q_DISABLE_COPY_MOVE(ClipFileManager)

public:
    ClipFileManager() = default;

    bool isExist(const QString &path) const;

    // Writes bytes to files/HASH through a temporary file, unless files/HASH exists. False
    // (and logged) when the file could not be written.
    bool saveData(const QByteArray &bytes, const QString &md5);
    // Stores the payload of a text or image clip (and the archive of a zipped kind) and sets
    // the record's file_size. False when a file could not be written; the record's
    // local_file_ok is then 0, so that the row does not claim a payload it lacks.
    bool saveClipData(const QByteArray &bytes, HistoryModel &history);
    // Stores a copy of the user's file; false when the copy or its archive fails (also when
    // files/HASH already exists, which is then left untouched). Sets local_file_ok to whether
    // files/HASH now holds the payload.
    bool saveClipFile(const QString &path, HistoryModel &history);

    std::optional<QString> getStringWithMd5(const QString &md5) const;
    std::optional<QByteArray> getDataWithMd5(const QString &md5) const;
    static float fileSize(const QString &path);

    // previews/NAME as a hard link to files/HASH, made anew when it no longer is one.
    QString makePreviewLink(const HistoryModel &history);

    // previews/HASH.png, a PNG copy (owner-only, as every clip file) of an image clip's payload
    // for programs that take pictures as files; empty when the payload is missing or no image.
    QString sharedImageCopy(const QString &md5);

    // Keeps the payload files of a hash while its row is on its way to the store: the capture
    // reserves the hash before it writes the payload (off the main thread) and releases it once
    // the row is stored, so that a clearing meanwhile never leaves that row without its payload.
    // Reservations of one hash are counted; the last release removes the files when no row
    // uses them (a clearing meanwhile took the row).
    void reservePayload(const QString &hash);
    void releasePayload(const QString &hash);

    // Removes files/, zips/ and previews/ HASH (and previews/HASH.png) of every hash that no row
    // uses any more and no capture has reserved. Call it after the rows are deleted (their
    // transaction committed). Safe on any thread.
    void deleteFilesWithHashArray(const QStringList &hashes);

private:
    static void removePreviewLinksOf(const QString &payload);
    // Under m_payloadMutex.
    static void removePayloadFiles(const QString &hash);

    std::mutex m_payloadMutex;
    QHash<QString, int> m_reservedPayloads;
};
