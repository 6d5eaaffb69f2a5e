#pragma once

#include <QLoggingCategory>

// The sync service's diagnostic log. Nothing secret is ever written to it: no tokens, password
// hashes or clip contents (request lines are scrubbed before they are logged).
Q_DECLARE_LOGGING_CATEGORY(lcServer)
