#include "support/Clock.h"

#include <QDateTime>

#include <mutex>

namespace {
std::mutex g_mutex;
std::function<double()> g_source;
} // namespace

namespace Clock {

double nowSeconds()
{
    {
        std::lock_guard lock(g_mutex);
        if (g_source)
            return g_source();
    }
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

void setSourceForTesting(std::function<double()> source)
{
    std::lock_guard lock(g_mutex);
    g_source = std::move(source);
}

} // namespace Clock
