#pragma once

class AdvancePrivacyManager;
class ClipController;
class ShortcutController;

// What the settings panes act on besides the settings file. The application gives each one; a
// window built on its own (in a test) may go without some, and the controls that act on a
// missing one then only store their value.
struct SettingsServices {
    ShortcutController *shortcuts = nullptr;
    ClipController *capture = nullptr;
    AdvancePrivacyManager *privacy = nullptr;
};
