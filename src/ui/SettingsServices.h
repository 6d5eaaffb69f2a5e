#pragma once

class AdvancePrivacyManager;
class ClipController;
class ShortcutController;
class SyncEngine;

// What the settings panes act on besides the settings file. The application gives each one; a
// window built on its own (in a test) may go without the hot key, the capture and the privacy
// script, whose controls then only store their value. The sync engine is always given.
struct SettingsServices {
    SyncEngine *sync = nullptr;
    ShortcutController *shortcuts = nullptr;
    ClipController *capture = nullptr;
    AdvancePrivacyManager *privacy = nullptr;
};
