// What interval-scan says on standard error while it fits, kept apart from
// the table on standard output.
//
// - A running line, while an order has run for more than a second and
//   standard error is a terminal: for each order under way, which search
//   (the first, the information step or the profile intervals), the
//   objective evaluations so far and the time, redrawn in place a few times
//   a second and wiped when the lines below are printed.
// - The lines that close each order (its log-likelihood, restarts,
//   evaluations and time; its profile intervals' time).  Orders fitted at
//   once on several threads end in any order; their lines are held and
//   printed in the order announced by expect(), so that the same scan
//   prints the same lines in the same order however many threads it had.
// - Anything the minimiser prints on standard output: while the fits run,
//   standard output is caught, and each caught line is passed on to
//   standard error, with the orders under way.
// --quiet silences the first two; the minimiser's messages are warnings
// and always pass.  Every member may be called from any thread.
#pragma once

#include <vector>

#include "optimise/bounded_minimiser.hpp"

struct OrderResult;

class ScanProgress {
 public:
  // Catches standard output until the object goes.  `quiet`: --quiet.
  explicit ScanProgress(bool quiet);
  ~ScanProgress();
  ScanProgress(const ScanProgress&) = delete;
  ScanProgress& operator=(const ScanProgress&) = delete;

  // The orders whose closing lines come next, in the order to print them.
  void expect(const std::vector<int>& orders);

  void begin_order(int order);
  // The information step, after the fit's searches.
  void begin_information(int order);
  void end_order(const OrderResult& result);
  // The profile-likelihood intervals of an order, after its fit.
  void begin_profiles(int order);
  void end_profiles(int order, double seconds);
  // Nothing more is said of `order` for now: its lines are printed when
  // those of the orders before it are.
  void order_done(int order);
};

// The objective the scan minimises at `order`: the negative log-likelihood
// with its exact gradient, counted for the running line.
ObjectiveWithGradient counted_objective_with_gradient(int order);

// The same with the escape fraction as the last coordinate.
ObjectiveWithGradient counted_escape_objective_with_gradient(int order);
