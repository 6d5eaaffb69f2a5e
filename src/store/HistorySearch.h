#pragma once

#include "store/HistoryModel.h"

#include <QList>
#include <QString>

// The search of the history window: the clips of the history whose text or file name holds
// the typed text, case-insensitive and in any script, newest first.
namespace HistorySearch {

inline constexpr int kMaxResults = 500;

// Every clip of the history for an empty (or blank) text.
QList<HistoryModel> find(const QString &text, int limit = kMaxResults);

} // namespace HistorySearch
