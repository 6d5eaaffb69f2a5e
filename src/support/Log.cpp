#include "support/Log.h"

// Every category logs from info up; debug lines are switched on through QT_LOGGING_RULES
// (for example "quillet.*.debug=true").
Q_LOGGING_CATEGORY(lcApp, "quillet.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcStore, "quillet.store", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCapture, "quillet.capture", QtInfoMsg)
Q_LOGGING_CATEGORY(lcMenu, "quillet.menu", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSync, "quillet.sync", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlugins, "quillet.plugins", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPrivacy, "quillet.privacy", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlatform, "quillet.platform", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUi, "quillet.ui", QtInfoMsg)
