#pragma once

#include <optional>

// The poll-interval slider of the general pane: positions 0, 20, 40, 60, 80 and 100 stand
// for 0.1 to 0.6 seconds.
namespace PollInterval {

inline constexpr int kMaxPosition = 100;
inline constexpr int kStep = 20;

// The slider position of a stored interval; none for a value that is not exactly one of
// the six intervals.
std::optional<int> positionForInterval(double seconds);
// The interval of a slider position; any position between the marks counts as 0.6 s.
double intervalForPosition(int position);

} // namespace PollInterval
