#pragma once

#include <QSet>
#include <QString>

// Transfers of single clips that failed for a reason of their own (the service refused the
// record, the payload's bytes are not the clip's, the local payload is missing): each clip gets
// its own time for the next try, so that its lane goes on with the other clips meanwhile, and
// after kMaxTries it is failed for good until the user asks for another try. Kept in the table
// SyncFailure beside History, so that a restart neither forgets a failure nor retries at once.
namespace SyncFailures {

// The lanes of sync work; a clip may fail in one and not in another.
enum class Lane { History, Favourite, File };

inline constexpr int kMaxTries = 5;
// The wait after the first failed try; each further one doubles it.
inline constexpr double kFirstWaitSeconds = 2;

// The name of the lane in the table.
QString laneName(Lane lane);

// Records one failed try of the clip in the lane; at the kMaxTries-th, or at once with
// forGood, the clip is failed for good. True when it is.
bool recordFailure(Lane lane, const QString &hash, bool forGood = false);
// The clip's transfer in the lane went through: its failures are forgotten.
void clear(Lane lane, const QString &hash);
// Forgets every failure of the clip, in every lane (the user asked for another try).
void clearClip(const QString &hash);
void clearAll();

// The clips whose transfer failed for good in some lane.
QSet<QString> failedForGood();
// The condition, for a query on History, that leaves out the clips of the lane that wait for
// their next try or failed for good. Its one parameter is the current time in seconds.
const char *readyCondition(Lane lane);

} // namespace SyncFailures
