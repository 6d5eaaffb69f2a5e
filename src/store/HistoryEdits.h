#pragma once

#include "store/HistoryModel.h"

class ClipFileManager;

// Changes of a clip's rows that several parts make (the menu's actions, sync replies).
namespace HistoryEdits {

// Makes the clip a favourite (a favourite row marked for the push, and the history row with
// the mark), or takes the mark away: the favourite row goes and the history row keeps minus
// the current time, the decision to unmark, so that its submenu offers "收藏" again.
void toggleFavourite(const HistoryModel &clip, qint64 now);

// Deletes every row of the hash, then the payload files no row uses any more.
void deleteClip(const QString &hash, ClipFileManager &files);

} // namespace HistoryEdits
