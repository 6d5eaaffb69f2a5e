#pragma once

#include "store/HistoryModel.h"

#include <QString>

#include <functional>
#include <optional>

class ClipFileManager;
class KeyInjector;
class Pasteboard;

// Paste-back: putting a clip's full content back on the clipboard and pasting it into the
// program that has the keyboard focus. The clipboard monitor sees the write like any other
// copy, so a pasted clip moves to the top of the history.
namespace ClipActions {

// True when the clip's hash can name a payload file (it is a plain file name).
bool hasPayloadName(const HistoryModel &clip);

// Replaces the clipboard content by the clip's content, by its family: the full text of the
// payload, the TIFF bytes of an image, or the clip's file under its own name. When there is
// nothing to write (no payload, an unknown family) the clipboard is left empty.
void sendToClipboard(Pasteboard &pasteboard, const HistoryModel &clip, ClipFileManager &files);

// The window classes that get Control+Shift+V: the settings' "terminalClasses" list when it is
// there (an empty list sends Control+V everywhere), else a list of common terminal emulators.
QStringList terminalClasses();

// Queues the paste keystroke on the main thread, so that it is posted after the current menu
// action has returned and the menu has released the keyboard.
void paste(KeyInjector &injector);

// A clip chosen from the favourites becomes a history row as well: the existing history row
// of its hash takes the favourite's mark, or a new history row is made from the favourite.
void takeIntoHistory(const HistoryModel &chosen);

} // namespace ClipActions
