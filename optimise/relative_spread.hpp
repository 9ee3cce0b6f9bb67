// How far apart two objective values are, relative to their size: the
// minimiser's convergence measure, also used to decide when a restarted
// search has stopped improving.
//
//   spread(a, b) = 2 |a - b| / (|a| + |b| + guard)
//
// The guard keeps the measure finite when both values are near zero, where
// it turns into an absolute difference scaled by 2 / guard.
#pragma once

#include <cmath>

// Added to the denominator of the relative spread.
inline constexpr double spread_guard = 1e-10;

inline double relative_spread(double a, double b) {
  return 2.0 * std::fabs(a - b) / (std::fabs(a) + std::fabs(b) + spread_guard);
}
