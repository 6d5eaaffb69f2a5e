#pragma once

#include "store/HistoryModel.h"

#include <QString>

#include <optional>

class ClipFileManager;

// What the menu's clip actions do to the history store and the data folder, without the menu.
namespace ClipEditing {

// Writes an image clip (a TIFF re-encoded as JPEG at quality 90, other formats as they are,
// named by kind and the time it was copied, "图片 2026-12-06 22.30.15.jpg") or a copy of a file clip (under
// its file name, never replacing a file) into the folder. The new file's path, or none when nothing was
// written.
std::optional<QString> saveToFolder(const HistoryModel &clip, const QString &folder, ClipFileManager &files);

// Lifts the secret mark from every row of the clip.
void unlockSecret(const HistoryModel &clip);

} // namespace ClipEditing
