#pragma once

#include "platform/MemoryPasteboard.h"

// Paste-back writes into the in-memory pasteboard, which keeps them in the form the desktop
// would receive them (text, TIFF bytes, a file path offered as text too).
using RecordingPasteboard = MemoryPasteboard;
