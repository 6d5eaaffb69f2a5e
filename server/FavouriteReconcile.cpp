#include "FavouriteReconcile.h"

#include <QSet>

StoreResult<FavouriteReconciliation> reconcileFavourites(const QList<std::pair<qint64, qint64>> &held,
                                                         const FavouriteAccess &access)
{
    FavouriteReconciliation result;
    QSet<qint64> current; // favourites the device holds as the service does
    for (const auto &[historyId, favourite] : held) {
        auto stored = access.find(historyId);
        if (stored.failed())
            return stored.status();
        if (!stored) {
            result.deleted.append(historyId);
            continue;
        }
        if (qAbs(favourite) > qAbs(stored->favourite)) {
            if (const StoreStatus written = access.write(historyId, favourite); written != StoreStatus::Ok)
                return written;
            stored->favourite = favourite;
            result.taken.append(*stored);
        }
        if (stored->favourite <= 0)
            result.withdrawn.append({historyId, stored->favourite});
        else if (stored->favourite == favourite)
            current.insert(historyId);
    }
    const auto favourites = access.favourites();
    if (!favourites)
        return favourites.status();
    for (const StoredRecord &record : *favourites) {
        if (!current.contains(record.historyId))
            result.records.append(record);
    }
    return result;
}
