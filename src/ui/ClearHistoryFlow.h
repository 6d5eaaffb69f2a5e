#pragma once

#include <QObject>

#include <functional>
#include <optional>

class QWidget;

// Clearing the history from the general pane: a confirmation sheet, a progress overlay on
// the settings window while the rows go, and an alert with the number of clips cleared.
// Favourites are kept. A signed-in user's history is cleared on the service first, and
// locally only once the service has confirmed it.
namespace ClearHistoryFlow {

// Clears the signed-in user's history on the service and calls done, on the main thread,
// with the number of clips the service cleared, or none when it failed or refused. The
// callback is dropped when context is gone.
using ServiceClear =
    std::function<void(QObject *context, std::function<void(std::optional<qint64> count)> done)>;
// Installed by the sync part; while none is installed a signed-in clear fails and leaves
// the local history as it is, so that it cannot diverge from the service's.
void setServiceClear(ServiceClear clear);

// Shows the confirmation sheet on host's window; its first button starts the clear.
void confirm(QWidget *host);
// Clears without asking.
void clear(QWidget *host);

} // namespace ClearHistoryFlow
