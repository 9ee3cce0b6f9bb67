#include "optimise/gaussj.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// The 2x2 inverse is reached through a handful of divisions of small
// integers; each step rounds by at most half an ulp of numbers below 1.
constexpr double small_inverse_tolerance = 1e-15;

// Random diagonally dominant matrices of order up to 8 have condition
// numbers below about 10, so A times its inverse is the identity to a few
// hundred ulps at worst.
constexpr double identity_tolerance = 1e-13;

const char* const singular_matrix_message = "gaussj: Singular Matrix-2";
const char* const no_usable_pivot_message = "gaussj: Matrix cannot be inverted";

using Rows = std::vector<std::vector<double>>;

DoubleMatrix matrix_of(const Rows& rows) {
  const int n = static_cast<int>(rows.size());
  DoubleMatrix a = dmatrix(1, n, 1, n);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      a[i][j] = rows[static_cast<std::size_t>(i - 1)][static_cast<std::size_t>(j - 1)];
    }
  }
  return a;
}

Rows rows_of(DoubleMatrix a, int n) {
  Rows rows(static_cast<std::size_t>(n));
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) rows[static_cast<std::size_t>(i - 1)].push_back(a[i][j]);
  }
  return rows;
}

void invert(const Rows& rows) {
  const int n = static_cast<int>(rows.size());
  DoubleMatrix a = matrix_of(rows);
  gaussj(a, n);
  release_dmatrix(a, 1, n, 1, n);
}

TEST(GaussJordan, InvertsAOneByOneMatrixToItsReciprocal) {
  DoubleMatrix a = matrix_of({{4.0}});
  gaussj(a, 1);
  EXPECT_EQ(a[1][1], 0.25);
  release_dmatrix(a, 1, 1, 1, 1);
}

TEST(GaussJordan, InvertsSymmetricTwoByTwoWithRowAndColumnSwaps) {
  // The first pivot is the later 2, at (2, 1): rows 1 and 2 are exchanged
  // and the columns must be put back at the end.
  DoubleMatrix a = matrix_of({{1, 2}, {2, 1}});
  gaussj(a, 2);
  EXPECT_NEAR(a[1][1], -1.0 / 3.0, small_inverse_tolerance);
  EXPECT_NEAR(a[1][2], 2.0 / 3.0, small_inverse_tolerance);
  EXPECT_NEAR(a[2][1], 2.0 / 3.0, small_inverse_tolerance);
  EXPECT_NEAR(a[2][2], -1.0 / 3.0, small_inverse_tolerance);
  release_dmatrix(a, 1, 2, 1, 2);
}

TEST(GaussJordan, LeavesTheIdentityExactlyAsItIs) {
  const Rows identity = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  DoubleMatrix a = matrix_of(identity);
  gaussj(a, 4);
  EXPECT_EQ(rows_of(a, 4), identity);
  release_dmatrix(a, 1, 4, 1, 4);
}

TEST(GaussJordan, OrderZeroTouchesNothing) {
  DoubleMatrix a = matrix_of({{7.0}});
  gaussj(a, 0);
  EXPECT_EQ(a[1][1], 7.0);
  release_dmatrix(a, 1, 1, 1, 1);
}

TEST(GaussJordan, RandomWellConditionedMatricesMultiplyBackToTheIdentity) {
  std::mt19937 generator(20240611);
  std::uniform_real_distribution<double> entry(-1.0, 1.0);
  for (int n = 1; n <= 8; ++n) {
    for (int trial = 0; trial < 5; ++trial) {
      SCOPED_TRACE("order " + std::to_string(n) + ", trial " + std::to_string(trial));
      Rows original(static_cast<std::size_t>(n), std::vector<double>(static_cast<std::size_t>(n)));
      for (auto& row : original) {
        for (auto& element : row) element = entry(generator);
      }
      // Diagonal dominance keeps the matrix far from singular; shuffling the
      // rows then puts the pivots off the diagonal, so rows are exchanged
      // and the column exchanges must be undone in the right order.
      for (std::size_t i = 0; i < original.size(); ++i) original[i][i] += n;
      std::shuffle(original.begin(), original.end(), generator);
      DoubleMatrix inverse = matrix_of(original);
      gaussj(inverse, n);
      for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) {
          double product = 0.0;
          for (int k = 1; k <= n; ++k) {
            product += original[static_cast<std::size_t>(i - 1)][static_cast<std::size_t>(k - 1)] *
                       inverse[k][j];
          }
          EXPECT_NEAR(product, i == j ? 1.0 : 0.0, identity_tolerance) << "at " << i << "," << j;
        }
      }
      release_dmatrix(inverse, 1, n, 1, n);
    }
  }
}

TEST(GaussJordanDeathTest, SingularMatrixEndsTheProcessAtItsZeroPivot) {
  // Pivots on 4 at (2, 2); the only candidate left, a[1][1], becomes 0.0.
  EXPECT_EXIT(invert({{1, 2}, {2, 4}}), ::testing::ExitedWithCode(1), singular_matrix_message);
}

TEST(GaussJordanDeathTest, AllZeroMatrixEndsTheProcessInTheFirstStep) {
  // 0.0 qualifies against the starting maximum, so a pivot is chosen and
  // found to be zero.
  EXPECT_EXIT(invert({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}), ::testing::ExitedWithCode(1),
              singular_matrix_message);
}

TEST(GaussJordanDeathTest, MatrixWithoutAComparablePivotEndsTheProcess) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EXIT(invert({{nan, nan}, {nan, nan}}), ::testing::ExitedWithCode(1),
              no_usable_pivot_message);
  // The first step pivots on a 1; eliminating with the NaNs leaves only a
  // NaN for the second step.
  EXPECT_EXIT(invert({{nan, 1}, {1, nan}}), ::testing::ExitedWithCode(1), no_usable_pivot_message);
}

}  // namespace
