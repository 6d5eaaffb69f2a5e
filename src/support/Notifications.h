#pragma once

// Names of the process-wide notifications that the parts of Quillet use to talk to each other.
namespace Notifications {
inline constexpr char DATA_CHANGED[] = "DATA_CHANGED";
inline constexpr char history_delete[] = "history_delete";
inline constexpr char ALL_FILE_DOWNLOAD_DONE[] = "ALL_FILE_DOWNLOAD_DONE";
} // namespace Notifications
