#pragma once

#include <QObject>

#include <functional>
#include <optional>

class QWidget;
class SyncEngine;

// Clearing the history from the general pane: a confirmation sheet, a progress overlay on
// the settings window while the rows go, and an alert with the number of clips cleared.
// Favourites are kept. A signed-in user's history is cleared on the service first, and
// locally only once the service has confirmed it.
namespace ClearHistoryFlow {

// What the service answered to a clear: whether it cleared the history, and the number of
// clips it reports (none when its reply named no whole number).
struct ServiceOutcome {
    bool cleared = false;
    std::optional<qint64> count;
};

// Clears the signed-in user's history on the service and calls done, on the main thread,
// with the outcome. The callback is dropped when context is gone.
using ServiceClear =
    std::function<void(SyncEngine &sync, QObject *context, std::function<void(ServiceOutcome)> done)>;
// Replaces how the service is asked; an empty function restores the default, the
// "/clear_history/" request to the sync service.
void setServiceClear(ServiceClear clear);

// Shows the confirmation sheet on host's window; its first button starts the clear.
void confirm(QWidget *host, SyncEngine &sync);
// Clears without asking.
void clear(QWidget *host, SyncEngine &sync);

} // namespace ClearHistoryFlow
