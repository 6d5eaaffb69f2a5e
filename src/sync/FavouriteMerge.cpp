#include "sync/FavouriteMerge.h"

#include <cstdlib>

namespace FavouriteMerge {

std::optional<Decision> merged(qint64 local, qint64 remote, Tie tie)
{
    const qint64 remoteAge = std::llabs(remote);
    const qint64 localAge = std::llabs(local);
    const bool remoteWins = tie == Tie::TakeRemote ? remoteAge >= localAge : remoteAge > localAge;
    if (!remoteWins)
        return std::nullopt;
    if (remote < 0)
        return Decision{0, true};
    return Decision{remote, false};
}

} // namespace FavouriteMerge
