// The inverse of a positive-definite matrix, and the matrices it refuses.
#include "optimise/positive_definite_inverse.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// A Cholesky inverse of a well-conditioned matrix is good to a few ulps of
// its entries.
constexpr double inverse_tolerance = 1e-12;

DoubleMatrix make_matrix(const std::vector<std::vector<double>>& rows) {
  const int n = static_cast<int>(rows.size());
  DoubleMatrix m = dmatrix(1, n, 1, n);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j)
      m[i][j] = rows[static_cast<std::size_t>(i - 1)][static_cast<std::size_t>(j - 1)];
  }
  return m;
}

}  // namespace

TEST(PositiveDefiniteInverse, MultipliesBackToTheIdentity) {
  DoubleMatrix a = make_matrix(
      {{4.0, 1.5, -0.8, 0.2}, {1.5, 3.0, 0.6, -0.4}, {-0.8, 0.6, 2.5, 0.9}, {0.2, -0.4, 0.9, 1.7}});
  DoubleMatrix inverse = dmatrix(1, 4, 1, 4);
  ASSERT_TRUE(invert_positive_definite(a, 4, inverse));
  for (int i = 1; i <= 4; ++i) {
    for (int j = 1; j <= 4; ++j) {
      double product = 0.0;
      for (int k = 1; k <= 4; ++k) product += a[i][k] * inverse[k][j];
      EXPECT_NEAR(product, i == j ? 1.0 : 0.0, inverse_tolerance) << i << "," << j;
      EXPECT_EQ(inverse[i][j], inverse[j][i]);
    }
  }
  // The matrix itself is left as it was.
  EXPECT_EQ(a[2][1], 1.5);
  EXPECT_EQ(a[4][4], 1.7);
  release_dmatrix(inverse, 1, 4, 1, 4);
  release_dmatrix(a, 1, 4, 1, 4);
}

TEST(PositiveDefiniteInverse, InvertsOneByOneAsTheReciprocal) {
  DoubleMatrix a = make_matrix({{2.5}});
  DoubleMatrix inverse = dmatrix(1, 1, 1, 1);
  ASSERT_TRUE(invert_positive_definite(a, 1, inverse));
  EXPECT_DOUBLE_EQ(inverse[1][1], 0.4);
  release_dmatrix(inverse, 1, 1, 1, 1);
  release_dmatrix(a, 1, 1, 1, 1);
}

TEST(PositiveDefiniteInverse, RefusesIndefiniteSingularAndNonNumericMatrices) {
  const std::vector<std::vector<std::vector<double>>> refused = {
      {{1.0, 2.0}, {2.0, 1.0}},                  // eigenvalues 3 and -1: a saddle
      {{-1.0, 0.0}, {0.0, 2.0}},                 // a maximum in one direction
      {{1.0, 1.0}, {1.0, 1.0}},                  // singular: a flat ridge
      {{1.0, 1.0 - 1e-14}, {1.0 - 1e-14, 1.0}},  // singular but for rounding
      {{0.0, 0.0}, {0.0, 3.0}},
      {{NAN, 0.0}, {0.0, 1.0}},
      {{1.0, INFINITY}, {INFINITY, 1.0}},
      {{INFINITY, 0.0}, {0.0, 1.0}},
  };
  for (const auto& rows : refused) {
    DoubleMatrix a = make_matrix(rows);
    DoubleMatrix inverse = dmatrix(1, 2, 1, 2);
    EXPECT_FALSE(invert_positive_definite(a, 2, inverse)) << rows[0][0] << " " << rows[0][1];
    release_dmatrix(inverse, 1, 2, 1, 2);
    release_dmatrix(a, 1, 2, 1, 2);
  }
}

TEST(PositiveDefiniteInverse, AcceptsAStronglyCorrelatedButDefiniteMatrix) {
  // Correlation 0.9999: the pivot is 2e-4 of the diagonal, far above noise.
  DoubleMatrix a = make_matrix({{1.0, 0.9999}, {0.9999, 1.0}});
  DoubleMatrix inverse = dmatrix(1, 2, 1, 2);
  ASSERT_TRUE(invert_positive_definite(a, 2, inverse));
  const double determinant = 1.0 - 0.9999 * 0.9999;
  EXPECT_NEAR(inverse[1][1], 1.0 / determinant, 1e-8 / determinant);
  EXPECT_NEAR(inverse[1][2], -0.9999 / determinant, 1e-8 / determinant);
  release_dmatrix(inverse, 1, 2, 1, 2);
  release_dmatrix(a, 1, 2, 1, 2);
}
