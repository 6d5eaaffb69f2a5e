#pragma once

#include <QtGlobal>

// The largest clip payload that travels to and from the sync service, in bytes (5.5 MiB).
inline constexpr qint64 kMaxPayloadBytes = 5767168;
