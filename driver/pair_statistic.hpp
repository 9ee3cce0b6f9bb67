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
// expected number, #X = x sum over the codes R, N, X of (1 - P(R at t)/2).
// Without X codes, w_R = w_N = 1.  Then
//
//   G2 = sum over pairs with N_ij > 0 of 2 sum_ab O_ab log(O_ab / E_ab)
//
// (a cell with O_ab = 0 adds 0), and each cell's standardised residual,
// the binomial one,
//
//   r_ab = (O_ab - E_ab) / sqrt(E_ab (1 - E_ab / N_ij)).
//
// Cells are neither pooled nor dropped: the p-value comes from a parametric
// bootstrap, not from a chi-square law, so small expected counts need no
// special care.
#pragma once

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
  double deviance = 0.0;  // this pair's share of G2
};

struct PairStatistic {
  double g2 = 0.0;
  int pairs = 0;  // pairs with N_ij > 0
  std::vector<PairTable> tables;  // every pair i < j, as pair_probabilities orders them
  int largest = -1;               // the table with the largest deviance, -1 when none
  double x_rate = 0.0;            // the estimated rate x
};

// The statistic of `codes` (count rows of model.intervals() code bytes, row
// after row) against `model`.
PairStatistic pair_statistic(const PatternModel& model, std::string_view codes, int count);

// The readings' weights {w_R, w_N} of an X rate x.
void reading_weights(double x_rate, double weight[reading_count]);

// The estimate of x above, in [0, largest_x_rate].
inline constexpr double largest_x_rate = 0.99;
double estimated_x_rate(const PatternModel& model, std::string_view codes, int count);
