#pragma once

#include "platform/Pasteboard.h"
#include "store/HistoryModel.h"

#include <QString>

#include <optional>

class ClipFileManager;
class ClipPrivacy;

// What the capture read from the clipboard on the main thread: the first local file, else the
// first image (its bytes not yet decoded), and the text, which counts when neither is a clip.
struct ClipboardContent {
    std::optional<QString> filePath;
    std::optional<ClipboardImage> image;
    std::optional<QString> text;
};

// A clip made from clipboard content: its row, not stored yet, and whether its content was a
// large image (whose freed buffers are worth handing back to the system).
struct BuiltClip {
    std::optional<HistoryModel> record;
    bool largeImage = false;
};

// Makes a clip of clipboard content: asks the privacy rules, decodes and encodes an image,
// hashes the payload and writes it to the data folder. A file URL wins over an image, an image
// over a text. The payload's hash is reserved in files (released by whoever stores the row).
// No record when the content is no clip, is too large or unreadable, or was dropped. Touches
// no database: it runs off the main thread.
BuiltClip buildClip(ClipboardContent content, ClipPrivacy &privacy, ClipFileManager &files);
