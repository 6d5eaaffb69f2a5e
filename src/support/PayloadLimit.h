#pragma once

#include <QtGlobal>

// The largest payload Quillet captures, pushes or uploads: 5.5 MiB.
inline constexpr qint64 kMaxPayloadBytes = 5767168;
