#include "model/reference/straightforward_likelihood.hpp"

#include <cmath>

#include "model/emission.hpp"
#include "model/latent_state.hpp"
#include "model/observations.hpp"
#include "model/transitions.hpp"
#include "model/wrap_weights.hpp"

namespace {

// Offset sums of every interval of one observation, each interval's from
// its own Poisson terms (model/transitions.hpp states the sums).
void fill_offset_sums_of_intervals(DoubleVector lambda, int n, int p, DoubleVector terms,
                                   DoubleVector same_weights, DoubleVector cross_weights,
                                   DoubleMatrix same_sums, DoubleMatrix cross_sums) {
  for (int t = 1; t <= n; ++t) {
    fill_poisson_terms(lambda[t], p, terms);
    fill_offset_sums(terms, same_weights, cross_weights, p, same_sums[t], cross_sums[t]);
  }
}

// One interval of the forward recursion:
//   next[k] = (sum_{l ascending} current[l] transition[l][k]) emission[k]
void forward_step(DoubleVector current, DoubleMatrix transition, DoubleVector emission, int states,
                  DoubleVector next) {
  for (int k = 1; k <= states; ++k) {
    next[k] = 0.0;
    for (int l = 1; l <= states; ++l) next[k] += current[l] * transition[l][k];
    next[k] *= emission[k];
  }
}

}  // namespace

double straightforward_negative_log_likelihood(DoubleVector point) {
  const int p = model_order;
  const int n = interval_count;
  const int states = state_count(p);
  const int wraps = wrap_limit(p);

  DoubleMatrix emission_table = dmatrix(0, code_row_count - 1, 1, states);
  ByteVector row = cvector(1, n);
  IntVector codes = ivector(1, n);
  DoubleVector lambda = dvector(1, n);
  DoubleVector current = dvector(1, states);
  DoubleVector next = dvector(1, states);
  DoubleVector terms = dvector(0, largest_event_count(p));
  DoubleVector same_weights = dvector(0, wraps);
  DoubleVector cross_weights = dvector(0, wraps);
  fill_emission_table(emission_table, p);
  fill_wrap_weights(p, same_weights, cross_weights);

  double total = 0.0;
  for (int i = 0; i < observation_count; ++i) {
    for (int t = 1; t <= n; ++t) {
      row[t] = observations[i * n + t - 1];
      lambda[t] = point[t];
      codes[t] = code_row(row[t]);
    }
    for (int k = 1; k <= states; ++k) {
      current[k] = 0.0;
      next[k] = 0.0;
    }
    fill_initial_weights(next, p);

    DoubleMatrix same_sums = dmatrix(1, n, 1, 2 * p - 1);
    DoubleMatrix cross_sums = dmatrix(1, n, 1, 2 * p - 1);
    fill_offset_sums_of_intervals(lambda, n, p, terms, same_weights, cross_weights, same_sums,
                                  cross_sums);
    // Layer t - 1 holds the matrix of interval t; layer n is never used.
    DoubleTensor transitions = d3tensor(0, n, 1, states, 1, states);
    for (int t = 1; t <= n; ++t) {
      build_transition_matrix(same_sums[t], cross_sums[t], p, transitions[t - 1]);
    }
    release_dmatrix(cross_sums, 1, n, 1, 2 * p - 1);
    release_dmatrix(same_sums, 1, n, 1, 2 * p - 1);

    for (int k = 1; k <= states; ++k) current[k] = next[k];
    for (int t = 1; t <= n; ++t) {
      forward_step(current, transitions[t - 1], emission_table[codes[t]], states, next);
      for (int k = 1; k <= states; ++k) current[k] = next[k];
    }
    double likelihood = 0.0;
    for (int k = 1; k <= states; ++k) likelihood += current[k];
    total += -std::log(likelihood);

    release_d3tensor(transitions, 0, n, 1, states, 1, states);
  }

  release_dvector(cross_weights, 0, wraps);
  release_dvector(same_weights, 0, wraps);
  release_dvector(terms, 0, largest_event_count(p));
  release_dvector(next, 1, states);
  release_dvector(current, 1, states);
  release_dvector(lambda, 1, n);
  release_ivector(codes, 1, n);
  release_cvector(row, 1, n);
  release_dmatrix(emission_table, 0, code_row_count - 1, 1, states);
  return total;
}
