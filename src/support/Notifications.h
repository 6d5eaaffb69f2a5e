#pragma once

// Names of the process-wide notifications that the parts of Quillet use to talk to each other.
namespace Notifications {
inline constexpr char DATA_CHANGED[] = "DATA_CHANGED";
inline constexpr char USER_LOGINED[] = "USER_LOGINED";
inline constexpr char USER_LOGOUTED[] = "USER_LOGOUTED";
inline constexpr char history_delete[] = "history_delete";
inline constexpr char FILE_DOWNLOAD_DONE[] = "FILE_DOWNLOAD_DONE";
inline constexpr char ALL_FILE_DOWNLOAD_DONE[] = "ALL_FILE_DOWNLOAD_DONE";
inline constexpr char NOTIF_PLUGIN_CHANGED[] = "NOTIF_PLUGIN_CHANGED";
} // namespace Notifications
