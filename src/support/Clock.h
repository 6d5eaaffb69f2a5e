#pragma once

#include <QtGlobal>

#include <functional>

// The wall clock as Unix time. Tests replace it so that time-dependent rules (change marks,
// favourite decisions) are checked without sleeping.
namespace Clock {
double nowSeconds();
inline qint64 nowWholeSeconds()
{
    return static_cast<qint64>(nowSeconds());
}
// An empty function restores the real clock.
void setSourceForTesting(std::function<double()> source);
} // namespace Clock
