#include "model/transitions.hpp"

#include <cmath>

#include "model/latent_state.hpp"
#include "model/poisson.hpp"
#include "model/wrap_weights.hpp"

namespace {

// The four sub-states of the other two classes share the cross weight.
constexpr double cross_share = 0.25;

}  // namespace

void fill_poisson_terms(double lambda, int p, DoubleVector terms) {
  const double exp_minus_lambda = std::exp(-lambda);
  for (int count = 0; count <= largest_event_count(p); ++count) {
    terms[count] = poisson_term(lambda, count, exp_minus_lambda);
  }
}

void fill_offset_sums(DoubleVector terms, DoubleVector same_weights, DoubleVector cross_weights,
                      int p, DoubleVector same_sums, DoubleVector cross_sums) {
  const int wraps = wrap_limit(p);
  for (int c = 1; c <= 2 * p - 1; ++c) {
    // sum_{m = m0..T} P(lambda, c - p + p m) W(m), from 0.0 in ascending m
    double same = 0.0;
    double cross = 0.0;
    for (int m = first_wrap_count(c, p); m <= wraps; ++m) {
      const int events = p * m + c - p;
      same += terms[events] * same_weights[m];
      cross += terms[events] * cross_weights[m];
    }
    same_sums[c] = same;
    cross_sums[c] = cross;
  }
}

void build_transition_matrix(DoubleVector same_sums, DoubleVector cross_sums, int p,
                             DoubleMatrix transition) {
  for (int from_level = 1; from_level <= p; ++from_level) {
    for (int a = 1; a <= sub_state_count; ++a) {
      const int from = state_number(from_level, a);
      for (int to_level = 1; to_level <= p; ++to_level) {
        const int c = offset_column(from_level, to_level, p);
        const double same = same_sums[c];
        const double cross = cross_share * cross_sums[c];
        for (int b = 1; b <= sub_state_count; ++b) {
          transition[from][state_number(to_level, b)] = same_class(a, b) ? same : cross;
        }
      }
    }
  }
}
