#include "support/Log.h"

Q_LOGGING_CATEGORY(lcApp, "quillet.app")
Q_LOGGING_CATEGORY(lcStore, "quillet.store")
Q_LOGGING_CATEGORY(lcCapture, "quillet.capture")
Q_LOGGING_CATEGORY(lcMenu, "quillet.menu")
Q_LOGGING_CATEGORY(lcSync, "quillet.sync")
Q_LOGGING_CATEGORY(lcPlugins, "quillet.plugins")
Q_LOGGING_CATEGORY(lcPrivacy, "quillet.privacy")
Q_LOGGING_CATEGORY(lcPlatform, "quillet.platform")
Q_LOGGING_CATEGORY(lcUi, "quillet.ui")
