#pragma once

#include <QIcon>

// The images of the status item and the menu, by the names the menu uses ("task-icon",
// "important", "file_icon", "unlock", "user", "ic_sync_18pt", "ic_extension_18pt",
// "ic_settings_applications_18pt", "new-version", "ic_exit_to_app_18pt"). A null icon for
// an unknown name.
QIcon menuImage(const char *name);
