#pragma once

#include <QtGlobal>

#include <optional>

// How a row's favourite mark meets the service's. A mark is a signed Unix time: positive when
// the clip was marked then, negative when it was unmarked then, 0 when never; the larger
// magnitude is the newer decision and wins. Pushes, pulls and reconciliations keep the local
// decision on a tie; the answer to a set-favourite request (the service's record of the very
// decision just sent) wins a tie.
namespace FavouriteMerge {

enum class Tie { KeepLocal, TakeRemote };

// What the service's newer decision does to the clip here.
struct Decision {
    qint64 mark = 0; // the favourite every row of the clip takes: 0 for an unmark
    bool unmarked = false; // an unmark: the clip's favourite row goes
};

// None while the local decision stands.
std::optional<Decision> merged(qint64 local, qint64 remote, Tie tie);

} // namespace FavouriteMerge
