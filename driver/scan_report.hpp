// What interval-scan reports for each model order, and the three forms it
// takes: the table on standard output, the CSV file and the SVG plot.
//
// Lengths are the fitted parameters divided by 2p (formed as an int), as
// the fitting program reports them.  The covariance of the parameters is
// the inverse of the observed information (the Hessian of the negative
// log-likelihood summed over all observations), so
//   SE(length_i)     = sqrt(Cov[i][i]) / (2p)
//   SE(total length) = sqrt(sum_ij Cov[i][j]) / (2p),
// covariances included, and a 95% Wald interval is length +- z * SE with z
// the 0.975 quantile of the standard normal distribution.  A length whose
// fit sits on the bound 0 has no Wald interval ("at bound"); the total's
// variance then sums the covariances of the free parameters, the bound
// ones held at 0 (the total is not at a bound while one length is free).
//
// Profile-likelihood 95% intervals, where computed, are the lengths (or
// totals) v whose best fit with that value held stays within
// 3.841 / 2 log-likelihood units of the best fit overall.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "foundation/index_ranged_arrays.hpp"
#include "model/observations.hpp"
#include "optimise/gradient_fit.hpp"

// The 0.975 quantile of the standard normal distribution.
inline constexpr double wald_quantile_95 = 1.959963984540054;

struct LengthInterval {
  double lower = 0.0;
  double upper = 0.0;
  bool found = false;  // both ends settled (else the bounds are the last bracket)
};

// A fraction fitted with the lengths at one order and tested against 0:
// the escape fraction q (interval-scan --escape, range 0..1) or the misread
// rate e (--error, range 0..1/2).  The test of q = 0 compares the fit with
// the fit at q = 0, every other coordinate fitted again:
//   LR = 2 (log-likelihood with q - log-likelihood at q = 0) >= 0,
// and the same for e.  q = 0 lies on the edge of the parameter space, so LR is not chi-square
// with one degree of freedom under q = 0 but a 50:50 mixture of a point
// mass at 0 (chi-square with 0 degrees) and chi-square with 1 (Self and
// Liang, JASA 82, 1987):
//   p = 0.5 P(chi2_1 > LR) = 0.5 erfc(sqrt(LR / 2))  for LR > 0,  p = 1 for LR = 0.
//
// At order 1 every event of the counting process moves the class, as every
// escape event does: the total moves are Poisson(2 L_t) whatever q is, so
// the likelihood does not depend on q, which is then `not identified` and
// left out of the fit (reported as NA, with LR = 0 and p = 1).  e is
// identified at every order.
struct FractionResult {
  bool fitted = false;
  bool identified = true;
  double fraction = 0.0;  // q or e
  double upper = 1.0;     // the top of its range
  bool at_bound = false;  // on 0 or the top: no Wald error
  bool has_standard_error = false;
  double standard_error = 0.0;
  bool profiled = false;
  LengthInterval profile;
  double restricted_log_likelihood = 0.0;  // the fit with the fraction held at 0
  double likelihood_ratio = 0.0;           // LR above
  double p_value = 1.0;
};

// The p-value of the boundary test above.
double boundary_test_p_value(double likelihood_ratio);

// One data file's share of a fit of several files together: its lengths
// are lengths[first .. first + count - 1] (and so for their errors, bounds
// and profiles), and it has a total of its own.
struct FileShare {
  std::size_t first = 0;
  std::size_t count = 0;
  double total_length = 0.0;
  double total_standard_error = 0.0;
  LengthInterval total_profile;
};

struct OrderResult {
  int order = 0;
  // The tables fitted together, each with its own lengths, in the order
  // of `shares`; the caller keeps them while the result is used.  Empty:
  // the one installed table (model/observations), and no shares.
  std::vector<const HeldTable*> tables;
  std::vector<FileShare> shares;
  OrderFit fit;
  double log_likelihood = 0.0;  // minus the objective at the fit
  std::vector<double> lengths;  // parameter t / (2p) at index t-1
  double total_length = 0.0;
  // Empty standard errors (and a meaningless total) when the information
  // at the fit is not positive definite.
  bool positive_definite = false;
  std::vector<double> standard_errors;
  double total_standard_error = 0.0;
  // Per length: the fit sits on the bound 0, so no Wald error is given.
  std::vector<bool> at_bound;
  // Profile-likelihood intervals in length units, when computed.
  bool profiled = false;
  std::vector<LengthInterval> profiles;
  LengthInterval total_profile;
  FractionResult escape;
  FractionResult error;  // the misread rate
  double seconds = 0.0;  // fit, information and profiles together
};

// File k's share of a fit of several files, as a result of its own: its
// lengths, their errors and intervals, and its total; the order, the fit,
// the log-likelihood and the fractions are the joint ones.  With one file,
// the result itself.
OrderResult file_result(const OrderResult& joint, std::size_t k);
// The shares of tables fitted together, their totals yet unset.
std::vector<FileShare> shares_of(const std::vector<const HeldTable*>& tables);

// Whether length t (0-based) and the total have a Wald interval.
bool has_wald(const OrderResult& result, std::size_t t);
bool total_has_wald(const OrderResult& result);

// Whether the Wald interval fraction +- z SE stays within its range; one
// that does not is left out (the profile interval respects the range).
bool fraction_wald_inside(const FractionResult& e);

// The orders whose log-likelihood is within support_width of the best.
inline constexpr double support_width = 2.0;
std::vector<int> support_set(const std::vector<OrderResult>& results);

// Fills lengths, total length and log-likelihood from result.fit and
// result.order.
void set_lengths(OrderResult& result);

// Fills the standard errors from the covariance (rows and columns 1..n) of
// the unscaled parameters, or marks them unavailable when `covariance` is
// null.
void set_standard_errors(OrderResult& result, const DoubleMatrix* covariance);

// The index of the result with the highest log-likelihood (the lowest
// order among equal ones), or -1 when none is finite: a fit whose
// likelihood is infinite or not a number has failed.
int best_result(const std::vector<OrderResult>& results);

// The table of all orders, then the lengths of the best one with their
// standard errors and 95% intervals, and those of every other order in the
// support set.  A scan of one order prints its lengths without a best order
// or a support set.
// With several files, each file's lengths are printed under its name in
// `files` (in the order of the results' shares).
void print_scan_table(std::FILE* out, const std::vector<OrderResult>& results,
                      const std::vector<std::string>& files = {});

// One row per order and interval, then a row per order whose interval is
// "total", holding the total length and its standard error, and, where the
// escape fraction was fitted, a row whose interval is "escape" holding q
// (its standard error and intervals in the units of q), and where the
// misread rate was, a row "error" laid out alike:
//   order,interval,length,standard_error,log_likelihood,converged,
//   wald_lower,wald_upper,profile_lower,profile_upper,parameter,file
// with NA for a standard error or an interval that is not available.  The
// `parameter` column names the kind of row, length, total, escape or error, so that a
// reader can pick the length rows without comparing text with numbers in
// `interval` (which keeps its words for the scripts that use them).
// `file` is the data file's name as given in `files` (quoted where it
// holds a comma or a quote); with several files fitted together each
// file's rows follow each other at every order, laid out as a scan of that
// file alone lays them out, the common fractions' rows in each.
void print_scan_csv(std::FILE* out, const std::vector<OrderResult>& results,
                    const std::vector<std::string>& files = {});

// The single line of standard error that closes each order's fit.
std::string progress_line(const OrderResult& result);

// Whether this build can draw plots, and why not when it cannot.
bool scan_plot_available();
std::string plot_unavailable_reason();

// The names' endings of the kinds of plot this build draws, ".svg" and
// ".pdf" and ".png" where the plotting library's driver for each is
// installed (asking the library, which needs room in its scratch folder).
std::vector<std::string> plot_kinds();
// The ending of `name` among the kinds the program knows, ".svg", ".pdf"
// and ".png" (in lower case), or an empty text; the library is not asked.
std::string plot_kind_of(const std::string& name);
bool known_plot_kind(const std::string& name);

// Why a plot of `kind` cannot be drawn here (no room for the plotting
// library's scratch files, or no driver for the kind), or an empty text:
// asked before the fits, so that the computation is not lost.
std::string plot_device_problem(const std::string& kind);

// Whether `contents` is a whole plot of the kind `kind` (".svg": the
// closing tag at the end; ".pdf": the end-of-file marker; ".png": the
// closing chunk), so that a drawing cut short by a full disk is not taken
// for a plot.
bool plot_complete(const std::string& contents, const std::string& kind);

// What the plot says about the data it was fitted to.
struct ScannedData {
  std::string name;  // the data file as the user named it
  int observation_count = 0;
  int interval_count = 0;
  long long bytes = 0;  // of the file as read
  std::string sha256;   // its digest, hexadecimal
};

// Draws the log-likelihood against the order, the best order marked, and
// the best order's lengths with their 95% intervals (profile-likelihood
// intervals where computed, else Wald; the title says which) into the file
// `path`, of the kind `kind` (one of plot_kinds), which the plotting
// library opens itself.  The plotting
// library reads '%' and a lone '-' in a file name as orders of its own, so
// the path must hold neither.  Returns an empty text on success, else why
// no plot was drawn; the file may then hold anything.
// The same, always as SVG (the kind before the name's ending chose it).
std::string write_scan_plot(const std::string& svg_path, const std::vector<OrderResult>& results,
                            const std::vector<ScannedData>& files);
std::string write_scan_plot(const std::string& path, const std::string& kind,
                            const std::vector<OrderResult>& results,
                            const std::vector<ScannedData>& files);
