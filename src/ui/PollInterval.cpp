#include "ui/PollInterval.h"

namespace {

struct Mark {
    int position;
    double seconds;
};

constexpr Mark kMarks[] = {{0, 0.1}, {20, 0.2}, {40, 0.3}, {60, 0.4}, {80, 0.5}, {100, 0.6}};

} // namespace

namespace PollInterval {

std::optional<int> positionForInterval(double seconds)
{
    for (const Mark &mark : kMarks) {
        // Exact comparison on purpose: only the values the slider writes move it.
        if (mark.seconds == seconds)
            return mark.position;
    }
    return std::nullopt;
}

double intervalForPosition(int position)
{
    for (const Mark &mark : kMarks) {
        if (mark.position == position)
            return mark.seconds;
    }
    return 0.6;
}

} // namespace PollInterval
