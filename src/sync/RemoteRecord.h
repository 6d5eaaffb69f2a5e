#pragma once

#include "store/HistoryModel.h"

#include <QString>

// Local rows made from, and kept in step with, the records the service sends in pulls and
// favourite reconciliations.
namespace RemoteRecord {

// A new row of this category for a record the device does not hold. It carries no change
// mark, so it is never pushed back; its payload counts as here when the file already is (under
// another row of the same clip).
HistoryModel newRow(const HistoryModel &remote, const QString &category);

// Takes the service's ids, file state and device name into a row the device holds, with the
// later of the two capture times, and the file name unless the service sends none.
void takeServiceState(HistoryModel &local, const HistoryModel &remote);

} // namespace RemoteRecord
