#pragma once

#include "Storage.h"

#include <functional>

// The reads and writes of one user's records that settling favourites needs, inside the
// storage's own transaction.
struct FavouriteAccess {
    std::function<StoreResult<StoredRecord>(qint64 historyId)> find;
    // Stores a favourite decision: Ok, or the storage's failure.
    std::function<StoreStatus(qint64 historyId, qint64 favourite)> write;
    // The user's favourites, oldest first.
    std::function<StoreResult<QList<StoredRecord>>()> favourites;
};

// Settles the favourites a device holds (history id, signed favourite time) against the
// service's records, the same for every storage: a held decision of larger magnitude is the
// later one and is taken; a record the service no longer has is reported deleted; a withdrawn
// one withdrawn; the user's favourites the device lacks or holds older are sent. A storage
// failure is never reported as a deletion.
StoreResult<FavouriteReconciliation> reconcileFavourites(const QList<std::pair<qint64, qint64>> &held,
                                                         const FavouriteAccess &access);
