// The probability the model gives one row of codes, by a plain forward pass
// over the 6p latent states: the likelihood of a single observation at
// chosen parameters, without the observation table.  With the
// no-information code at every interval but a few, it is the model's joint
// probability of the codes at those few, the others summed out:
//
//   P(a at i, b at j) = sum over the readings elsewhere of P(row)
//                     = P(row with a at i, b at j, no information elsewhere)
//
// because the no-information emission is 1 in every state, so it leaves the
// weights as they are, and the R and N factors at an interval add up to 1
// in every state (R is 1 in class {2, 5} only, N in the other two).
//
// Conventions: parameters 0-based (parameter t at index t - 1), unscaled,
// as the searches see them.  With an escape fraction q the parameter of
// interval t is x_t = 2p L_t, shared between lambda_t = (1 - q) x_t
// counting events and mu_t = q x_t / p escape moves, whose wrap weights
// carry the escape factor exp(-1.5 mu_t) (model/wrap_weights.hpp); at q = 0
// every number is that of the model without escape.  With a misread rate e
// the R and N factors are those of model/emission.hpp at e; they still add
// up to 1 at an interval in every state, so the joint probabilities above
// hold as they are.
#pragma once

#include <string_view>
#include <vector>

#include "foundation/index_ranged_arrays.hpp"

// The model at one point: its n transition matrices, built once, and the
// emission table; each row's probability is then one forward pass.
class PatternModel {
 public:
  PatternModel(int p, const std::vector<double>& parameters, double escape_fraction = 0.0,
               double error_rate = 0.0);
  ~PatternModel();
  PatternModel(const PatternModel&) = delete;
  PatternModel& operator=(const PatternModel&) = delete;

  int order() const { return p_; }
  int intervals() const { return n_; }
  int states() const { return states_; }

  // The probability of a row of n code bytes: the sum of the forward weights
  // after the last interval.
  double probability(std::string_view codes) const;

  // The forward weights of a row whose R and N codes stand for readings yet
  // to be drawn: at such an interval the factor is reading_weight[0] in
  // class {2, 5} (an R) and reading_weight[1] in the others (an N), the
  // true readings, before any misread; X and the other codes keep their
  // emission factors.  alpha[t][k] for t = 0..n
  // (t = 0 the initial weights) and states k = 1..6p; `alpha` must be a
  // dmatrix(0, n, 1, 6p).
  void open_reading_weights(std::string_view codes, const double reading_weight[2],
                            DoubleMatrix alpha) const;

  // The transition matrix of interval t (1..n), rows the from-state.
  DoubleMatrix transition(int t) const { return transitions_[static_cast<std::size_t>(t - 1)]; }

 private:
  int p_;
  int n_;
  int states_;
  std::vector<DoubleMatrix> transitions_;
  DoubleMatrix emission_table_;

  // The forward pass over a row, alpha as above; `reading_weight` null for
  // the plain emission factors.
  void forward(std::string_view codes, const double* reading_weight, DoubleMatrix alpha) const;
};

// Reading codes of a pair table: index 0 is R, index 1 is N.
inline constexpr int reading_count = 2;
inline constexpr char reading_code[reading_count] = {'R', 'N'};

// The joint probability of the readings at intervals i < j (1-based):
// cell[a][b] = P(reading a at i, reading b at j), no information elsewhere.
struct PairProbabilities {
  int first = 0;
  int second = 0;
  double cell[reading_count][reading_count] = {};
};

// Every pair i < j, in the order (1, 2), (1, 3), ..., (1, n), (2, 3), ...
std::vector<PairProbabilities> pair_probabilities(const PatternModel& model);

// P(R at t) for t = 1..n at index t - 1: the model's probability that an
// interval ends in class {2, 5}.
std::vector<double> event_probabilities(const PatternModel& model);
