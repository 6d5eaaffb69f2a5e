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
// The history store found a problem at start that the user must hear of (a damaged database
// moved aside, a data folder that cannot be written); the object is the message to show.
inline constexpr char HISTORY_STORE_ALERT[] = "HISTORY_STORE_ALERT";
} // namespace Notifications
