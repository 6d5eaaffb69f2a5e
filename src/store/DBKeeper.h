#pragma once

#include "store/HistoryModel.h"
#include "store/SyncFailures.h"

#include <QJsonObject>
#include <QList>
#include <QStringList>
#include <QVariant>

#include <optional>

// The store's queries: lists of clips, the next clip for each sync service, updates of every
// row of a hash, deletions, retention and clearing. Each call is one unit of work on the
// connection pool. Deleting calls return the hashes of the deleted rows, so that the caller
// can then remove the payload files no row uses any more (ClipFileManager::
// deleteFilesWithHashArray). Those that select rows by a condition collect the hashes and
// delete the rows in one write transaction, so the list is exactly the rows deleted; when the
// deletion fails, nothing is deleted and the list is empty.
namespace DBKeeper {

inline constexpr int kMaxListCount = 30;
inline constexpr int kKeptPerCategory = 60;

QList<HistoryModel> getAllHistory();
QList<HistoryModel> getAllFavourites();
QList<HistoryModel> getAllHistoryAtCategory(const QString &category, uint count = kMaxListCount);

// The next clip of each lane, newest first; clips that wait for their own next try or failed
// for good (SyncFailures) are left out.
std::optional<HistoryModel> getUnProcessHistory();
std::optional<HistoryModel> getUnProcessFavourite();
std::optional<HistoryModel> getFileProcessHistory();
// The earliest time (seconds since the epoch) at which a clip that waits in the lane for its
// own next try may go again; none when no pending clip waits.
std::optional<double> nextRetryTime(SyncFailures::Lane lane);

// history id (as a decimal string) -> {"favourite": mark} for the synced favourites.
QJsonObject getSyncFavourite();
std::optional<HistoryModel> getClipObjectWithHistoryID(qint64 historyId, const QString &category);
bool historyExist(const QString &hash);

void setLocalFileOkWithHash(const QString &hash);
void setLocalHistoryOnly(const QString &hash);
void setRemoteFileReady(int ready, const QString &hash);
bool updateTimestamp(qint64 timestamp, const QString &hash);
bool setFavourite(qint64 favourite, const QString &hash);
bool updateHistoryID(qint64 historyId, qint64 fileId, const QString &hash);

bool deleteClipItem(const QString &hash);
bool deleteClipItem(const QString &hash, const QString &category);
// Deletes every row of the clip with this service id; returns its hash, if one was found.
// The id may be a number or a string of digits; one of 0 or less matches no row.
std::optional<QString> deleteHistoryWithId(const QVariant &historyId);
void removeInvalidDatas();

// Keeps the newest clips of a category: the history as many as the settings say, the
// favourites kKeptPerCategory. Returns the hashes of the deleted rows.
QStringList cleanupDatabase(const QString &category);
// Deletes every row that is not a favourite; the hashes of the deleted rows, or none when the
// database could not be changed (then no row is deleted).
std::optional<QStringList> clearAllHistory();
QStringList clearHistoryLessThan(double timestamp);
QStringList removeAllData();

} // namespace DBKeeper
