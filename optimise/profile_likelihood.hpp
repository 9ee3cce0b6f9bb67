// Profile-likelihood 95% intervals for one parameter or for the sum of all
// parameters.
//
// Conventions: f is the negative log-likelihood (with gradient) of 0-based
// parameters bounded below by 0, minimised at `fitted` with value f^.  The
// profile of a quantity psi (one parameter, or the sum) is
//   f_p(v) = min { f(x) : x >= 0, psi(x) = v },
// and the interval is { v >= 0 : 2 (f_p(v) - f^) <= 3.841 }, the set the
// likelihood-ratio test at 5% does not reject (Wilks: 2 (f_p - f^) is
// asymptotically chi-square with one degree of freedom).
//
// Method: the signed root r(v) = sqrt(2 (f_p(v) - f^)) is close to linear
// in v even where the likelihood is skewed, so each end is found on r: steps
// outward from the fit, doubling, until r reaches z = sqrt(3.841) (a
// bracket), then Newton steps on r inside the bracket, with a secant step
// where a Newton step would leave it and a bisection where that would too.
// The slope comes free with each refit: dr/dv = (df_p/dv) / r, and
// df_p/dv is the derivative of f at the refitted point in the held
// direction (the envelope theorem).  The same slope shortens the outward
// steps where it predicts the crossing before the next doubling.
// Every profile point is a
// bounded refit with the parameter held (or the sum held) at v, started
// from the nearest profile point already found.  When the profile stays
// below the threshold all the way down to v = 0, the lower end is 0; and
// likewise up to a parameter's upper bound, where it has one.
#pragma once

#include <optional>
#include <vector>

#include "optimise/bounded_minimiser.hpp"

// The 0.95 quantile of the chi-square distribution with one degree of
// freedom (1.959963984540054^2).
inline constexpr double profile_threshold_95 = 3.841458820694124;
// An end is accepted when r is within this of z; r changes by about 1 per
// standard error, so the end is within 1e-5 standard errors: well inside
// the six decimals printed, and Newton steps reach it in about three
// refits an end.
inline constexpr double profile_root_tolerance = 1e-5;
// Outward steps allowed while bracketing (the step doubles each time).
inline constexpr int profile_bracket_limit = 60;
// Evaluations of r allowed inside a bracket.
inline constexpr int profile_root_limit = 60;

struct ProfileInterval {
  double lower = 0.0;  // parameter units; 0 when the profile never crosses above 0
  double upper = 0.0;  // +infinity when the profile never crosses
  bool lower_at_zero = false;
  bool upper_at_bound = false;  // the profile stays low up to the upper bound
  bool found = false;           // both ends settled within their limits
  long long evaluations = 0;
  int refits = 0;
};

// `coordinate` selects one parameter; nothing selects the sum (of the
// leading `bounds.summed_coordinates`, or of all).  `initial_step` (> 0) is
// the first outward step, such as 1.96 standard errors when they are known.
// `bounds` gives the upper bounds every refit keeps.
ProfileInterval profile_interval(const ObjectiveWithGradient& f, const std::vector<double>& fitted,
                                 std::optional<int> coordinate, double initial_step,
                                 const BoundedSearchSettings& bounds = {});
