#pragma once

#include "store/HistoryModel.h"
#include "sync/PushClipsManager.h"
#include "sync/SyncLane.h"

#include <functional>
#include <optional>

// One pass of a push lane (the history rows or the favourite rows): when signed in and idle,
// sends the lane's newest pending row; a row the service took loses its change mark and the
// lane goes on with the next; a lane with nothing left to send (or only kinds this program
// does not know) hands over to the file lane. Returns at once. Any thread.
void runPushLanePass(SyncLane &lane, const std::function<std::optional<HistoryModel>()> &pendingRow,
                     const std::function<void(const HistoryModel &row, ClipCallback done)> &send,
                     std::function<void()> again);
