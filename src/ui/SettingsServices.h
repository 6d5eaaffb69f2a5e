#pragma once

class AdvancePrivacyManager;
class ShortcutController;
class SyncEngine;

// What the settings panes act on. The application gives each one; a window built on its own (in a
// test) may go without the hot key and the privacy script, whose controls then only store their
// value. The sync engine, through which the settings are stored, is always given.
struct SettingsServices {
    SyncEngine *sync = nullptr;
    ShortcutController *shortcuts = nullptr;
    AdvancePrivacyManager *privacy = nullptr;
    // The history window's hot key.
    ShortcutController *historyShortcuts = nullptr;
};
