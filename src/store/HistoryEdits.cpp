#include "store/HistoryEdits.h"

#include "store/ClipFileManager.h"
#include "store/DBKeeper.h"

namespace HistoryEdits {

void toggleFavourite(const HistoryModel &clip, qint64 now)
{
    HistoryModel record = clip;
    if (record.favourite.value_or(0) < 1) {
        record.fetch();
        record.category = Category::favourite;
        record.favourite = now;
        record.save();
        record.increase_change_count();
    } else {
        DBKeeper::deleteClipItem(record.hash(), Category::favourite);
        record.favourite = -now;
    }
    record.category = Category::history;
    record.save();
}

void deleteClip(const QString &hash, ClipFileManager &files)
{
    if (hash.isEmpty())
        return;
    DBKeeper::deleteClipItem(hash);
    files.deleteFilesWithHashArray({hash});
}

} // namespace HistoryEdits
