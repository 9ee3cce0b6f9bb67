#include "model/latent_state.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "model/emission.hpp"
#include "model/poisson.hpp"
#include "model/transitions.hpp"
#include "model/wrap_weights.hpp"

namespace {

// Row sums add up to 6p-1 rounded products; a few ulps of 1 bound them.
constexpr double row_sum_tolerance = 1e-14;
// The initial weights are 2p copies of 1/(2p), added one by one: each
// addition rounds by at most half an ulp of 1, at most 12 of them here.
constexpr double initial_weight_sum_tolerance = 1e-15;

// A matrix over 1..size x 1..size, released with it.
struct Matrix {
  explicit Matrix(int n) : size(n), m(dmatrix(1, n, 1, n)) {}
  ~Matrix() { release_dmatrix(m, 1, size, 1, size); }
  Matrix(const Matrix&) = delete;
  Matrix& operator=(const Matrix&) = delete;
  int size;
  DoubleMatrix m;
};

// The transition matrix of one interval at rate lambda, from the model's
// own offset sums.
void transition_at(double lambda, int p, DoubleMatrix transition) {
  const int wraps = wrap_limit(p);
  const int largest = largest_event_count(p);
  DoubleVector terms = dvector(0, largest);
  DoubleVector same_weights = dvector(0, wraps);
  DoubleVector cross_weights = dvector(0, wraps);
  DoubleVector same = dvector(1, 2 * p - 1);
  DoubleVector cross = dvector(1, 2 * p - 1);
  fill_wrap_weights(p, same_weights, cross_weights);
  fill_poisson_terms(lambda, p, terms);
  fill_offset_sums(terms, same_weights, cross_weights, p, same, cross);
  build_transition_matrix(same, cross, p, transition);
  release_dvector(cross, 1, 2 * p - 1);
  release_dvector(same, 1, 2 * p - 1);
  release_dvector(cross_weights, 0, wraps);
  release_dvector(same_weights, 0, wraps);
  release_dvector(terms, 0, largest);
}

// The entry from (from_level, a) to (to_level, b) summed directly over the
// event counts N in ascending order: N events from level K land on level
// ((K - 1 + N) mod p) + 1 after (K - 1 + N) / p wraps.
double entry_by_event_counts(double lambda, int p, int from_level, int a, int to_level, int b) {
  const int wraps = wrap_limit(p);
  const bool same_class = b == a || b == 7 - a;
  double sum = 0.0;
  for (int events = 0; (from_level - 1 + events) / p <= wraps; ++events) {
    if ((from_level - 1 + events) % p + 1 != to_level) continue;
    const int m = (from_level - 1 + events) / p;
    const double relax = std::pow(-0.5, static_cast<double>(m));
    const double weight =
        same_class ? (relax + 0.5) * 0.3333333333333333 : (1.0 - relax) * 0.6666666666666666 / 4.0;
    sum += poisson_term(lambda, events) * weight;
  }
  return sum;
}

TEST(CodeRow, OnlyUpperCaseRNXCarryInformation) {
  for (int byte = 0; byte < 256; ++byte) {
    const int row = code_row(static_cast<unsigned char>(byte));
    if (byte == 'R') {
      EXPECT_EQ(row, 0);
    } else if (byte == 'N') {
      EXPECT_EQ(row, 1);
    } else if (byte == 'X') {
      EXPECT_EQ(row, 2);
    } else {
      EXPECT_EQ(row, uninformative_code_row) << byte;
    }
  }
}

TEST(WrapLimit, LargestEventCountsFollowTheOrder) {
  EXPECT_EQ(largest_event_count(1), 18);
  EXPECT_EQ(largest_event_count(2), 25);
  EXPECT_EQ(largest_event_count(3), 32);
  for (int p = 4; p <= 12; ++p) EXPECT_EQ(largest_event_count(p), 9 * p - 1);
}

TEST(WrapWeights, FirstValuesAndEveryDistributionSumsToOne) {
  EXPECT_EQ(W_same(0), 0.5);
  EXPECT_EQ(W_cross(0), 0.0);
  EXPECT_EQ(W_same(1), 0.0);
  EXPECT_EQ(W_cross(1), 1.0);
  EXPECT_EQ(W_same(2), 0.25);
  EXPECT_EQ(W_cross(2), 0.5);
  EXPECT_EQ(W_same(3), 0.125);
  EXPECT_EQ(W_cross(3), 0.75);
  // The roundings of the two weights cancel: for every wrap count up to the
  // largest limit, 18, the distribution sums to 1.0 exactly.
  for (int m = 0; m <= wrap_limit(1); ++m) EXPECT_EQ(2.0 * W_same(m) + W_cross(m), 1.0) << m;
}

TEST(InitialWeights, SitInClassOneSixOfEveryLevelAndSumToOne) {
  for (int p = 1; p <= 6; ++p) {
    DoubleVector weights = dvector(1, 6 * p);
    fill_initial_weights(weights, p);
    double total = 0.0;
    for (int s = 1; s <= 6 * p; ++s) {
      const int a = sub_state_of_state(s);
      EXPECT_EQ(weights[s] > 0.0, a == 1 || a == 6) << s;
      total += weights[s];
    }
    EXPECT_NEAR(total, 1.0, initial_weight_sum_tolerance) << p;
    release_dvector(weights, 1, 6 * p);
  }
}

TEST(EmissionTable, EveryLevelRepeatsTheSubStateFactors) {
  const int p = 3;
  DoubleMatrix table = dmatrix(0, 3, 1, 6 * p);
  fill_emission_table(table, p);
  const double r_row[6] = {0, 1, 0, 0, 1, 0};
  const double x_row[6] = {1, 0.5, 1, 1, 0.5, 1};
  for (int s = 1; s <= 6 * p; ++s) {
    const int a = (s - 1) % 6;
    EXPECT_EQ(table[0][s], r_row[a]) << s;
    EXPECT_EQ(table[1][s], 1.0 - r_row[a]) << s;
    EXPECT_EQ(table[2][s], x_row[a]) << s;
    EXPECT_EQ(table[3][s], 1.0) << s;
  }
  release_dmatrix(table, 0, 3, 1, 6 * p);
}

TEST(TransitionMatrix, EachRowSumsToThePoissonMassOfTheCountsItIncludes) {
  for (int p = 1; p <= 6; ++p) {
    for (const double lambda : {0.0, 0.3, 2.0, 7.5}) {
      Matrix transition(6 * p);
      transition_at(lambda, p, transition.m);
      for (int from = 1; from <= 6 * p; ++from) {
        const int level = (from - 1) / 6 + 1;
        // Counts 0..p(T+1)-K are included, each once.
        double mass = 0.0;
        for (int events = 0; events <= p * (wrap_limit(p) + 1) - level; ++events) {
          mass += poisson_term(lambda, events);
        }
        double row_sum = 0.0;
        for (int to = 1; to <= 6 * p; ++to) row_sum += transition.m[from][to];
        EXPECT_NEAR(row_sum, mass, row_sum_tolerance)
            << "p " << p << " lambda " << lambda << " from " << from;
      }
    }
  }
}

TEST(TransitionMatrix, EntriesMatchSumsOverEventCountsForOrdersTwoAndThree) {
  for (int p = 2; p <= 3; ++p) {
    for (const double lambda : {0.4, 1.7, 5.0}) {
      Matrix transition(6 * p);
      transition_at(lambda, p, transition.m);
      for (int from = 1; from <= 6 * p; ++from) {
        for (int to = 1; to <= 6 * p; ++to) {
          const double expected =
              entry_by_event_counts(lambda, p, (from - 1) / 6 + 1, (from - 1) % 6 + 1,
                                    (to - 1) / 6 + 1, (to - 1) % 6 + 1);
          EXPECT_DOUBLE_EQ(transition.m[from][to], expected)
              << "p " << p << " lambda " << lambda << " from " << from << " to " << to;
        }
      }
    }
  }
}

TEST(TransitionMatrix, LevelStepsUpAndDownAreDifferentEntries) {
  // Level 1 -> 2 is one event (no wrap); level 2 -> 1 needs a wrap.  A
  // mix-up of the two barely moves a likelihood, so check it here.
  const int p = 2;
  const double lambda = 0.4;
  Matrix transition(6 * p);
  transition_at(lambda, p, transition.m);
  const double up = transition.m[1][7];    // (1, 1) -> (2, 1)
  const double down = transition.m[7][1];  // (2, 1) -> (1, 1)
  EXPECT_DOUBLE_EQ(up, entry_by_event_counts(lambda, p, 1, 1, 2, 1));
  EXPECT_DOUBLE_EQ(down, entry_by_event_counts(lambda, p, 2, 1, 1, 1));
  EXPECT_GT(std::fabs(up - down), 0.1 * up);
}

}  // namespace
