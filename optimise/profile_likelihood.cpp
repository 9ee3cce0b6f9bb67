#include "optimise/profile_likelihood.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>

namespace {

// Bracket ends closer than this (relative to max(1, v)) end the search.
constexpr double bracket_tolerance = 1e-10;

struct ProfilePoint {
  double v = 0.0;
  double r = 0.0;  // signed root's size at v
  // df_p/dv, NaN when unknown.  By the envelope theorem it is the slope of
  // f itself at the refitted point in the held direction: the held
  // coordinate's derivative, or for a held sum the common derivative
  // (Lagrange multiplier) of the summed coordinates off their bound.
  double slope = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> point;
};

// The Newton step on r(v) = z from `latest` along `direction`, where
// dr/dv = (df_p/dv) / r; NaN when the slope is unknown or does not point
// outward.
double newton_target(const ProfilePoint& latest, double direction, double z) {
  const double outward = direction * latest.slope / latest.r;
  if (!(latest.r > 0.0) || !(outward > 0.0) || !std::isfinite(outward)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return latest.v + direction * (z - latest.r) / outward;
}

class Profile {
 public:
  Profile(const ObjectiveWithGradient& f, const std::vector<double>& fitted,
          std::optional<int> coordinate, const BoundedSearchSettings& bounds,
          ProfileInterval& totals)
      : f_(f), coordinate_(coordinate), bounds_(bounds), totals_(totals) {
    summed_ = bounds.summed_coordinates == 0 ? fitted.size()
                                             : std::min(bounds.summed_coordinates, fitted.size());
    std::vector<double> gradient(fitted.size());
    fitted_value_ = f_(fitted, gradient);
    ++totals_.evaluations;
    centre_.point = fitted;
    centre_.v = quantity(fitted);
  }

  const ProfilePoint& centre() const { return centre_; }

  const std::vector<double>& upper_bounds() const { return bounds_.upper_bounds; }

  // The largest value the quantity may take: the parameter's upper bound.
  double upper_limit() const {
    if (coordinate_ && static_cast<std::size_t>(*coordinate_) < bounds_.upper_bounds.size()) {
      return bounds_.upper_bounds[static_cast<std::size_t>(*coordinate_)];
    }
    return std::numeric_limits<double>::infinity();
  }

  // The profile point at v, refitted from `warm`.
  ProfilePoint at(double v, const std::vector<double>& warm) {
    ProfilePoint result;
    result.v = v;
    std::vector<double> start = warm;
    BoundedSearchSettings settings = bounds_;
    if (coordinate_) {
      start[static_cast<std::size_t>(*coordinate_)] = v;
      settings.fixed_coordinate = coordinate_;
    } else {
      // Scaling keeps the start inside the bounds and on the constraint.
      const double sum = quantity(warm);
      for (std::size_t i = 0; i < summed_; ++i) {
        start[i] = sum > 0.0 ? start[i] * (v / sum) : v / static_cast<double>(summed_);
      }
      settings.fixed_sum = v;
      settings.summed_coordinates = summed_;
    }
    double value = 0.0;
    std::vector<double> gradient(start.size());
    if (start.size() == 1) {
      // Nothing is left to refit: the profile is the objective itself.
      value = f_(start, gradient);
      ++totals_.evaluations;
      result.point = start;
    } else {
      // The gradient at the lowest point the refit evaluates, which is the
      // point it returns.
      double lowest = std::numeric_limits<double>::infinity();
      const ObjectiveWithGradient tracked = [this, &lowest, &gradient](const std::vector<double>& x,
                                                                       std::vector<double>& slope) {
        const double f = f_(x, slope);
        if (f < lowest) {
          lowest = f;
          gradient = slope;
        }
        return f;
      };
      const BoundedSearchResult refit = minimise_bounded(tracked, start, settings);
      totals_.evaluations += refit.evaluations;
      value = refit.value;
      result.point = refit.point;
      if (!(value == lowest)) gradient.clear();
    }
    result.slope = held_slope(result.point, gradient);
    ++totals_.refits;
    // r = sqrt(2 (f_p(v) - f^)); a refit a little below f^ counts as 0.
    const double excess = value - fitted_value_;
    result.r = excess > 0.0 ? std::sqrt(2.0 * excess) : 0.0;
    if (std::isnan(value)) result.r = std::numeric_limits<double>::infinity();
    return result;
  }

 private:
  // df_p/dv from the gradient at a profile point (NaN when there is none).
  double held_slope(const std::vector<double>& x, const std::vector<double>& gradient) const {
    if (gradient.size() != x.size()) return std::numeric_limits<double>::quiet_NaN();
    if (coordinate_) return gradient[static_cast<std::size_t>(*coordinate_)];
    double sum = 0.0;
    int free = 0;
    for (std::size_t i = 0; i < summed_; ++i) {
      if (x[i] > 0.0) {
        sum += gradient[i];
        ++free;
      }
    }
    return free > 0 ? sum / free : std::numeric_limits<double>::quiet_NaN();
  }

  double quantity(const std::vector<double>& x) const {
    if (coordinate_) return x[static_cast<std::size_t>(*coordinate_)];
    double sum = 0.0;
    for (std::size_t i = 0; i < summed_; ++i) sum += x[i];
    return sum;
  }

  const ObjectiveWithGradient& f_;
  std::optional<int> coordinate_;
  const BoundedSearchSettings& bounds_;
  std::size_t summed_ = 0;
  ProfileInterval& totals_;
  double fitted_value_ = 0.0;
  ProfilePoint centre_;
};

struct EndSearch {
  double end = 0.0;
  bool found = false;
  bool at_bound = false;  // at the bound the search went towards
};

// A start for the refit at v: the point at v on the line through the
// refitted points of a and b, each coordinate kept within its bounds.  The
// path of the refitted points is close to straight over a step, so this
// start is nearer the refit than either point, inside a bracket or a
// little beyond it.
std::vector<double> along(const ProfilePoint& a, const ProfilePoint& b, double v,
                          const std::vector<double>& upper) {
  const double share = (v - a.v) / (b.v - a.v);
  if (!std::isfinite(share)) return b.point;
  std::vector<double> start(b.point.size());
  for (std::size_t i = 0; i < start.size(); ++i) {
    const double x = a.point[i] + share * (b.point[i] - a.point[i]);
    const double ceiling = i < upper.size() ? upper[i] : std::numeric_limits<double>::infinity();
    start[i] = std::fmin(std::fmax(x, 0.0), ceiling);
  }
  return start;
}

// The root of r(v) = z inside [inside, outside], where r(inside) < z <=
// r(outside): a Newton step from the latest point where its slope is known
// and the step stays inside the bracket, else a secant step through the
// two latest points, and a bisection of the bracket whenever that would
// leave it too.
EndSearch refine(Profile& profile, ProfilePoint inside, ProfilePoint outside, double z) {
  const double direction = outside.v > inside.v ? 1.0 : -1.0;
  double previous_v = inside.v;
  double previous_r = inside.r;
  double latest_v = outside.v;
  double latest_r = outside.r;
  double latest_newton = newton_target(outside, direction, z);
  for (int k = 0; k < profile_root_limit; ++k) {
    const double low = std::fmin(inside.v, outside.v);
    const double high = std::fmax(inside.v, outside.v);
    if (high - low <= bracket_tolerance * std::fmax(1.0, high)) return {outside.v, true, false};
    double v = latest_newton;
    if (!(v > low && v < high)) {
      // v = v1 + (z - r1) (v1 - v0) / (r1 - r0)
      v = latest_v + (z - latest_r) * (latest_v - previous_v) / (latest_r - previous_r);
    }
    if (!(v > low && v < high)) v = 0.5 * (low + high);
    ProfilePoint trial = profile.at(v, along(inside, outside, v, profile.upper_bounds()));
    if (std::fabs(trial.r - z) < profile_root_tolerance) return {v, true, false};
    previous_v = latest_v;
    previous_r = latest_r;
    latest_v = trial.v;
    latest_r = trial.r;
    latest_newton = newton_target(trial, direction, z);
    if (trial.r < z) {
      inside = std::move(trial);
    } else {
      outside = std::move(trial);
    }
  }
  return {0.5 * (inside.v + outside.v), false, false};
}

// One end: direction +1 for the upper, -1 for the lower.
EndSearch find_end(Profile& profile, double direction, double initial_step, double z) {
  ProfilePoint inside = profile.centre();
  const double bound = direction > 0.0 ? profile.upper_limit() : 0.0;
  if (inside.v == bound) return {bound, true, true};
  double step = initial_step;
  // The point inside before `inside`, once there is one.
  std::optional<ProfilePoint> before;
  for (int k = 0; k < profile_bracket_limit; ++k) {
    double v = inside.v + direction * step;
    if (direction * (v - bound) > 0.0) v = bound;
    ProfilePoint trial =
        profile.at(v, before ? along(*before, inside, v, profile.upper_bounds()) : inside.point);
    if (std::fabs(trial.r - z) < profile_root_tolerance) return {v, true, false};
    if (trial.r >= z) return refine(profile, std::move(inside), std::move(trial), z);
    if (v == bound) return {bound, true, true};
    before = std::move(inside);
    inside = std::move(trial);
    step *= 2.0;
    // Where the slope predicts the crossing within twice the next doubled
    // step, go there instead: farther, a prediction from so far inside is
    // not trusted.
    const double newton = newton_target(inside, direction, z);
    const double predicted = direction * (newton - inside.v);
    if (predicted > 0.0 && predicted < 2.0 * step) step = predicted;
  }
  return {direction > 0.0 ? std::numeric_limits<double>::infinity() : 0.0, false, false};
}

}  // namespace

ProfileInterval profile_interval(const ObjectiveWithGradient& f, const std::vector<double>& fitted,
                                 std::optional<int> coordinate, double initial_step,
                                 const BoundedSearchSettings& bounds) {
  ProfileInterval interval;
  Profile profile(f, fitted, coordinate, bounds, interval);
  const double z = std::sqrt(profile_threshold_95);
  const EndSearch upper = find_end(profile, 1.0, initial_step, z);
  const EndSearch lower = profile.centre().v <= 0.0 ? EndSearch{0.0, true, true}
                                                    : find_end(profile, -1.0, initial_step, z);
  interval.upper_at_bound = upper.at_bound && std::isfinite(upper.end);
  interval.upper = upper.end;
  interval.lower = lower.end;
  interval.lower_at_zero = lower.at_bound;
  interval.found = upper.found && lower.found;
  return interval;
}
