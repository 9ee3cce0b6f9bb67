// One scan of model orders: the policy of interval-scan, apart from its
// command line and its files.
//
// What one scan does, step by step, for the table installed in
// model/observations, or for several tables fitted together (their
// log-likelihood the sum of theirs; each step below then fits every file's
// lengths at once, and the profiles include each file's total):
//  1. The orders are fitted on the worker threads, the costliest first (an
//     evaluation's work grows with the square of the order), so that the
//     cheap ones fill in around them.  Each lands in its own slot.  For one
//     order:
//     a. the fits from the estimate in every coordinate and from a few
//        further levels (the estimate scaled with the order, the default
//        estimate as it is and scaled), the best kept; once every order
//        has its fit, refits from the neighbouring orders' fits, with
//        their lengths, in rounds until none improves (a higher maximum
//        that one order found is then not missed by the next);
//        the log-likelihood is the fitting program's objective at the fit;
//     b. with the escape fraction q or the misread rate e, the fits of the
//        lengths with them started from the fit without (fit_fractions),
//        and the tests of q = 0 and e = 0;
//     c. the lengths, and the observed information at the fit with the
//        Wald errors it gives (add_standard_errors);
//     d. with profile intervals: q's and e's at every order, and
//        every length's and the total's when every order is profiled.
//     An order whose likelihood is not finite at any start has failed: it
//     gets no errors or intervals and is never best.
//  2. The best order (the highest finite log-likelihood); when only it is
//     profiled, its length and total profiles, shared among the threads.
//
// The searches see the model's objective itself; every evaluation, and the
// start and end of each step, is told to the observer, which is how the
// progress display follows the scan, and the observer can ask it to stop
// (Ctrl-C): from then on the objective is not a number without being
// evaluated, every search ends at once, and the orders not finished by
// then are left out.  Nothing here prints.
#pragma once

#include <vector>

#include "driver/scan_report.hpp"
#include "optimise/bounded_minimiser.hpp"

// What the scan asks of the data.
struct ScanSettings {
  std::vector<int> orders;   // each >= 1, in the order they are reported
  double estimate = 0.5;     // the start of every coordinate
  bool escape = false;       // fit the escape fraction with the lengths
  bool error = false;        // fit the misread rate with the lengths
  bool profiles = true;      // profile intervals (else Wald intervals only)
  bool profile_all = false;  // profiles for every order, not only the best
  // Several data files fitted together, each with its own lengths and the
  // order, q and e in common (the caller keeps them through the scan);
  // empty: the installed table alone.
  std::vector<const HeldTable*> files;
};

enum class ScanStep { fit, information, profiles, check_of_fit };

// Hears what the scan does.  Every member may be called from any thread,
// and at once from several; each does nothing unless overridden.
class ScanObserver {
 public:
  virtual ~ScanObserver() = default;
  // The orders whose steps are reported next, in the order to report them.
  virtual void expect(const std::vector<int>& /*orders*/) {}
  virtual void begin(int /*order*/, ScanStep /*step*/) {}
  // One evaluation of the objective (value and gradient) at `order`.
  virtual void evaluated(int /*order*/) {}
  // The fit and its information are done.
  virtual void fitted(const OrderResult& /*result*/) {}
  virtual void profiled(int /*order*/, double /*seconds*/) {}
  // Of a step split into `parts` (the profile intervals), `done` are done.
  virtual void part_done(int /*order*/, int /*done*/, int /*parts*/) {}
  // Nothing more is done at `order` for now.
  virtual void order_done(int /*order*/) {}
  // Whether the scan should stop: it then makes no further evaluation, and
  // reports only the orders it finished before.
  virtual bool stop_requested() { return false; }
  // The check of fit at `order` has finished `done` of its `total`
  // bootstrap replicates.
  virtual void replicate_done(int /*order*/, int /*done*/, int /*total*/) {}
};

// The whole scan, one result per order in settings.orders' order; after a
// stop, only the orders finished before it (the best order without the
// profiles it did not finish).
std::vector<OrderResult> run_scan(const ScanSettings& settings, ScanObserver& observer);

// The steps, for the tests.
// Steps 1a (without the neighbours) to 1c at one order.
OrderResult scan_order(int order, const ScanSettings& settings, ScanObserver& observer);
// Step 1b, on a result whose fit is the fit without fractions; fit_escape
// asks for q alone.
void fit_fractions(OrderResult& result, const ScanSettings& settings, ScanObserver& observer);
void fit_escape(OrderResult& result, ScanObserver& observer);
// The profile intervals of every length and of the total.
void add_profiles(OrderResult& result, ScanObserver& observer);
// The profile intervals of q and e, where fitted.
void add_fraction_profiles(OrderResult& result, ScanObserver& observer);

// The point of a fitted result: the parameters, then q when the escape
// fraction is fitted, then e when the misread rate is; and its bounds (q
// at most 1, e at most 1/2, the parameters without one).
std::vector<double> fitted_point(const OrderResult& result);
BoundedSearchSettings bounds_of(const OrderResult& result);

// The objective of a fitted result (q, then e, after the parameters where
// fitted), its evaluations told to `observer`.
ObjectiveWithGradient objective_of(const OrderResult& result, ScanObserver& observer);
// The same objective of other tables (the installed one where there are
// none).
ObjectiveWithGradient objective_of(const OrderResult& result,
                                   const std::vector<const HeldTable*>& tables,
                                   ScanObserver& observer);
