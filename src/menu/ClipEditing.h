#pragma once

#include "store/HistoryModel.h"

#include <QString>

#include <optional>

// What the menu's clip actions do to the history store and the data folder, without the menu.
namespace ClipEditing {

// Makes the clip a favourite (a favourite row marked for the push, and the history row with
// the mark), or takes the mark away: the favourite row goes and the history row keeps minus
// the current time, the decision to unmark, so that its submenu offers "收藏" again.
void toggleFavourite(const HistoryModel &clip, qint64 now);

// Writes an image clip (a TIFF re-encoded as JPEG at quality 90, other formats as they are,
// named by kind and the time it was copied, "图片 2026-12-06 22.30.15.jpg") or a copy of a file clip (under
// its file name, never replacing a file) into the folder. The new file's path, or none when nothing was
// written.
std::optional<QString> saveToFolder(const HistoryModel &clip, const QString &folder);

// Lifts the secret mark from every row of the clip.
void unlockSecret(const HistoryModel &clip);

// Deletes every row of the clip's hash and the files no row uses any more, then posts
// DATA_CHANGED.
void deleteLocally(const HistoryModel &clip);

} // namespace ClipEditing
