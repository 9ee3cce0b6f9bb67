// The statistic of the check of fit: how far the readings of every pair of
// intervals are from what the fitted model expects of them.
//
// For intervals i < j, the observations whose codes at i and at j are both
// readings (R or N) form a 2 x 2 table of observed counts O_ab (a, b in
// {R, N}) with N_ij = sum O_ab.  The model's joint probability of the two
// readings, the other codes summed out, is the pattern probability
// P_ab = P(a at i, b at j) (model/pattern_probability.hpp).  An X code
// hides a reading at rate x in classes {1, 6} and {3, 4} and x/2 in
// {2, 5} (its emission factors), so where a reading does show, R has
// weight w_R = 1 - x/2 and N has w_N = 1 - x; the expected counts are
//
//   E_ab = N_ij P_ab w_a w_b / sum_cd P_cd w_c w_d,
//
// with x estimated from the table by equating the X codes to their
// expected number, #X = x sum over the codes R, N, X at t of
// (1 - P(R at t)/2).  Without X codes, w_R = w_N = 1.  Each cell has the
// binomial standardised residual
//
//   r_ab = (O_ab - E_ab) / sqrt(E_ab (1 - E_ab / N_ij)).
//
// The statistic splits each pair's G2 against E into what its two margins
// say and what the association of the two readings says, and counts each
// interval's margin once rather than in all of its n - 1 pairs:
//
//   G2 = sum_t 2 sum_a O_a(t) log(O_a(t) / E_a(t))
//      + sum_{i<j, N_ij > 0} 2 sum_ab O_ab log(O_ab / A_ab)
//
// where O_a(t) counts the readings a at t and E_a(t) is their expected
// number (the model's P(R at t) weighted as above), and A is E scaled to
// the pair's observed margins with E's odds ratio kept (iterative
// proportional fitting): A tests the association alone.  A cell with O = 0
// adds 0.  Counting a badly fitted margin in every pair would let one
// interval make the sum of dependent terms swing widely from data set to
// data set; counted once, the sum keeps roughly the scale of a chi-square
// with one degree per pair and interval.
//
// Cells are neither pooled nor dropped in the pairs: the p-value comes from
// a parametric bootstrap, not from a chi-square law, so small expected
// counts need no special care.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/pattern_probability.hpp"

struct PairTable {
  int first = 0;   // i, 1-based
  int second = 0;  // j > i
  int count = 0;   // N_ij
  double observed[reading_count][reading_count] = {};
  double expected[reading_count][reading_count] = {};
  double residual[reading_count][reading_count] = {};
  double deviance = 0.0;     // 2 sum O log(O / E)
  double association = 0.0;  // the same against the observed margins
};

struct PairStatistic {
  double g2 = 0.0;
  int pairs = 0;                  // pairs with N_ij > 0
  std::vector<PairTable> tables;  // every pair i < j, as pair_probabilities orders them
  int largest = -1;               // the table with the largest deviance, -1 when none
  double x_rate = 0.0;            // the estimated rate x
  std::vector<double> margins;    // each interval's margin term
};

// The statistic of `codes` (count rows of model.intervals() code bytes, row
// after row) against `model`.
PairStatistic pair_statistic(const PatternModel& model, std::string_view codes, int count);

// The readings' weights {w_R, w_N} of an X rate x.
void reading_weights(double x_rate, double weight[reading_count]);

// The estimate of x above, in [0, largest_x_rate].
inline constexpr double largest_x_rate = 0.99;
double estimated_x_rate(const PatternModel& model, std::string_view codes, int count);

// The full pattern table, for few intervals: over the observations whose
// every code is a reading, the 2^n patterns of readings observed against
// N P(pattern) prod w / sum over patterns (P the pattern probability), the
// cells whose expected count is below pooled_expected_count pooled into
// one.  G2 = 2 sum O log(O / E) over the cells left.
inline constexpr int full_pattern_interval_limit = 8;
inline constexpr double pooled_expected_count = 5.0;

struct PatternStatistic {
  double g2 = 0.0;
  int cells = 0;          // after pooling
  int complete_rows = 0;  // observations with a reading at every interval
  std::string largest;    // the pattern whose cell adds most to G2 ("pooled" for the pool)
};

PatternStatistic pattern_statistic(const PatternModel& model, std::string_view codes, int count,
                                   double x_rate);

// A pair's signed association departure, for the picture:
//   sign(log OR_observed - log OR_expected) sqrt(association term),
// 0.5 added to every count in the odds ratios so that an empty cell gives a
// finite sign.  Positive: the two readings agree more often than the model
// says.
double signed_association_departure(const PairTable& table);
