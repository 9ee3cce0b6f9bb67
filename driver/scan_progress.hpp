// What interval-scan says on standard error while it fits, kept apart from
// the table on standard output.
//
// - A running line, while an order has run for more than a second and
//   standard error is a terminal: the order, which search (the first, or
//   restart k, the information step or the profile intervals), the
//   objective evaluations so far
//   and the time, redrawn in place a few times a second and wiped when the
//   order ends.
// - The line that closes each order (its log-likelihood, restarts,
//   evaluations and time).
// - The minimiser's own messages ("Too many iterations in AMOEBA"), which it
//   prints on standard output: while the fits run, standard output is
//   caught, and each caught line is passed on to standard error after the
//   search that printed it, with the order and the search it belongs to.
// --quiet silences the first two; the minimiser's messages are warnings
// and always pass.
#pragma once

#include <vector>

#include "foundation/index_ranged_arrays.hpp"

struct OrderResult;

class ScanProgress {
 public:
  // Catches standard output until the object goes.  `quiet`: --quiet.
  explicit ScanProgress(bool quiet);
  ~ScanProgress();
  ScanProgress(const ScanProgress&) = delete;
  ScanProgress& operator=(const ScanProgress&) = delete;

  void begin_order(int order);
  // The information step, after the fit's searches.
  void begin_information();
  void end_order(const OrderResult& result);
  // The profile-likelihood intervals of an order, after its fit.
  void begin_profiles(int order);
  void end_profiles(int order, double seconds);
};

// The objective the scan minimises: the negative log-likelihood with its
// exact gradient, counted and timed for the running line.
double counted_objective_with_gradient(const std::vector<double>& point,
                                       std::vector<double>& gradient);

// The same with the escape fraction as the last coordinate.
double counted_escape_objective_with_gradient(const std::vector<double>& point,
                                              std::vector<double>& gradient);
