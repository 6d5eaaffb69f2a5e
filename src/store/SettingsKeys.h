#pragma once

#include "BuildInfo.h"

// Keys of the settings file, shared by every part that reads or writes a preference.
namespace SettingsKeys {
inline constexpr char loginUserToken[] = "loginUserToken";
inline constexpr char loginUserId[] = "loginUserId";
inline constexpr char loginUserEmail[] = "loginUserEmail";
inline constexpr char userKeyWords[] = "userKeyWords";
inline constexpr char analyseSecert[] = "analyseSecert";
inline constexpr char fileAsSecert[] = "fileAsSecert";
inline constexpr char advancePrivacy[] = "advancePrivacy";
inline constexpr char privacy_script[] = "privacy_script";
inline constexpr char CLIP_MONITOR_SPEED[] = "CLIP_MONITOR_SPEED";
inline constexpr char keyCode[] = "keyCode";
inline constexpr char modifierFlags[] = "modifierFlags";
inline constexpr char deviceToken[] = "deviceToken";
inline constexpr char lastPullRequestTime[] = "lastPullRequestTime";
inline constexpr char newversion[] = "newversion";
inline constexpr char homepage[] = "homepage";
inline constexpr char developerPage[] = "developerPage";
inline constexpr char categories[] = "categories";
// Window classes of the terminal emulators that paste with Control+Shift+V.
inline constexpr char terminalClasses[] = "terminalClasses";
// The per-user broker credentials our sync service adds to its sign-in replies.
inline constexpr char mqttUserName[] = "mqttUserName";
inline constexpr char mqttPassword[] = "mqttPassword";
// A self-hosted sync service: its base URL and the CA file its certificate is checked against.
inline constexpr char syncServerURL[] = "syncServerURL";
inline constexpr char syncCAFile[] = "syncCAFile";
// The notice broker of a self-hosted service, "mqtt://HOST:PORT" or "mqtts://HOST:PORT".
inline constexpr char mqttServerURL[] = "mqttServerURL";
// The interface language: "zh_CN", "en", or absent to follow the locale.
inline constexpr char interfaceLanguage[] = "interfaceLanguage";
// How many history clips are kept.
inline constexpr char historyLength[] = "historyLength";
// The second global hot key, which opens the history window.
inline constexpr char historyKeyCode[] = "historyKeyCode";
inline constexpr char historyModifierFlags[] = "historyModifierFlags";
} // namespace SettingsKeys

namespace SettingsDefaults {
inline constexpr double clipMonitorSpeed = 0.6;
// Shift-Command-V in the stored key code and modifier bits; translated at registration.
inline constexpr int keyCode = 9;
inline constexpr int modifierFlags = 0x120000;
// Both keys hold this value when the global shortcut is switched off.
inline constexpr int shortcutOff = -8192;
// Shift-Command-H.
inline constexpr int historyKeyCode = 4;
inline constexpr int historyModifierFlags = 0x120000;
inline constexpr char lastPullRequestTime[] = "0";
inline constexpr int historyLength = 60;
inline constexpr int historyLengthMin = 10;
inline constexpr int historyLengthMax = 10000;
// Until the service names its own pages, the about pane and the plugin window's help button
// open these build-time defaults.
inline constexpr const char *homepage = BuildInfo::homepage;
inline constexpr const char *developerPage = BuildInfo::developerPage;
} // namespace SettingsDefaults
