#pragma once

class ClipController;

// Starts the capture of the desktop clipboard: installs the X11 clipboard as the general
// pasteboard and creates the clipboard monitor, which captures each change the X server
// reports, polls on its timer as a fallback, and captures the current content at the first
// turn of the event loop. Call once, on the main thread, after the QApplication exists and
// the store is prepared.
namespace CaptureSetup {
ClipController &start();
} // namespace CaptureSetup
