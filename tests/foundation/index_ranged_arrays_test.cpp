#include "foundation/index_ranged_arrays.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "foundation/fatal_error.hpp"

namespace {

// The three lines of the fatal exit around a message, as a regular
// expression over standard error.
std::string fatal_banner(const std::string& message) {
  std::string banner = "Calvaro run-time error\\.\\.\\.\n";
  banner += message;
  banner += "\n\\.\\.\\.now exiting to system\\.\\.\\.\n";
  return banner;
}

}  // namespace

TEST(IndexRangedVectors, IndexWithTheirOwnRangesAndHoldExactlyThatManyElements) {
  // Index `first` is the start of the block and consecutive indices are
  // consecutive elements: read back through the block itself, not through
  // the indexing under test.  Writing every index also lets a sanitizer
  // build catch a block that is too small.
  DoubleVector v = dvector(1, 3);
  for (int i = 1; i <= 3; ++i) v[i] = 10.0 * i;
  EXPECT_EQ(&v[1], v.origin);
  EXPECT_EQ(v.origin[0], 10.0);
  EXPECT_EQ(v.origin[2], 30.0);
  release_dvector(v, 1, 3);

  IntVector negative = ivector(-2, 2);
  for (int i = -2; i <= 2; ++i) negative[i] = 10 * i;
  EXPECT_EQ(&negative[-2], negative.origin);
  EXPECT_EQ(negative.origin[0], -20);
  EXPECT_EQ(negative.origin[4], 20);
  release_ivector(negative, -2, 2);

  FloatVector f = vector(0, 0);
  f[0] = 1.5F;
  EXPECT_EQ(f[0], 1.5F);
  release_vector(f, 0, 0);
}

TEST(IndexRangedVectors, AnEmptyRangeIsNoFailure) {
  // No elements, yet a real block (malloc(0) may return null), so that the
  // request is not mistaken for a refusal and release stays uniform.
  DoubleVector empty = dvector(5, 4);
  EXPECT_NE(empty.origin, nullptr);
  release_dvector(empty, 5, 4);
  ByteVector empty_bytes = cvector(0, -1);
  release_cvector(empty_bytes, 0, -1);
}

TEST(IndexRangedVectors, ByteVectorKeepsASpareByteAheadOfItsFirstIndex) {
  // cvector(0, 9) occupies eleven bytes: the spare, then elements 0..9.
  ByteVector v = cvector(0, 9);
  for (int i = 0; i <= 9; ++i) v[i] = static_cast<unsigned char>('a' + i);
  EXPECT_EQ(v[0], 'a');
  EXPECT_EQ(v[9], 'j');
  // Release frees from the spare byte; a sanitizer build reports a bad free
  // otherwise.
  release_cvector(v, 0, 9);
}

TEST(IndexRangedMatrices, AllocateEveryRowSeparatelyAndIndexWithBothRanges) {
  const int n = 4;
  DoubleMatrix m = dmatrix(1, n, 0, n - 1);
  for (int i = 1; i <= n; ++i) {
    for (int j = 0; j < n; ++j) m[i][j] = 100.0 * i + j;
  }
  EXPECT_EQ(m[1][0], 100.0);
  EXPECT_EQ(m[4][3], 403.0);
  EXPECT_EQ(m[2].first, 0);
  EXPECT_EQ(m[2].last, n - 1);
  release_dmatrix(m, 1, n, 0, n - 1);

  IntMatrix counts = imatrix(-1, 1, -1, 1);
  counts[-1][-1] = 7;
  counts[1][1] = 9;
  EXPECT_EQ(counts[-1][-1] + counts[1][1], 16);
  release_imatrix(counts, -1, 1, -1, 1);
}

TEST(MatrixViews, SubmatrixSharesStorageWithTheMatrixItViews) {
  FloatMatrix a = matrix(1, 3, 1, 3);
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 3; ++j) a[i][j] = static_cast<float>(10 * i + j);
  }
  FloatMatrix b = submatrix(a, 2, 3, 2, 3, 1, 1);
  EXPECT_EQ(b[1][1], 22.0F);
  EXPECT_EQ(b[2][2], 33.0F);
  EXPECT_EQ(b[1][2], 23.0F);
  b[2][1] = -1.0F;
  EXPECT_EQ(a[3][2], -1.0F);
  release_submatrix(b, 1, 2, 1, 2);
  // The matrix itself is intact after the view is gone.
  EXPECT_EQ(a[3][3], 33.0F);
  release_matrix(a, 1, 3, 1, 3);
}

TEST(MatrixViews, ConvertMatrixReadsAFlatArrayRowAfterRow) {
  float flat[6] = {1, 2, 3, 4, 5, 6};
  FloatMatrix b = convert_matrix(flat, 1, 2, 1, 3);
  EXPECT_EQ(b[2][1], 4.0F);
  EXPECT_EQ(b[1][3], 3.0F);
  b[2][3] = 60.0F;
  EXPECT_EQ(flat[5], 60.0F);
  release_convert_matrix(b, 1, 2, 1, 3);
}

TEST(DoubleTensor, HoldsItsElementsInOneRowMajorBlock) {
  // d3tensor(0, 1, 1, 2, 1, 3): twelve doubles in one block of thirteen.
  DoubleTensor t = d3tensor(0, 1, 1, 2, 1, 3);
  double* first = &t[0][1][1];
  for (int i = 0; i <= 1; ++i) {
    for (int j = 1; j <= 2; ++j) {
      for (int k = 1; k <= 3; ++k) t[i][j][k] = 100.0 * i + 10.0 * j + k;
    }
  }
  // Element (1, 2, 3) is the twelfth after the spare: eleven places on.
  EXPECT_EQ(&t[1][2][3] - first, 11);
  EXPECT_EQ(first[11], 123.0);
  EXPECT_EQ(first - t.element_block, 1);
  EXPECT_EQ(t[1][1][2], 112.0);
  release_d3tensor(t, 0, 1, 1, 2, 1, 3);
}

using IndexRangedArraysDeathTest = ::testing::Test;

TEST_F(IndexRangedArraysDeathTest, ARefusedRequestEndsThroughTheFatalExitWithTheAllocatorsMessage) {
  EXPECT_EXIT(dvector(3, 1), ::testing::ExitedWithCode(1),
              fatal_banner("allocation failure in dvector\\(\\)"));
  EXPECT_EXIT(cvector(0, -3), ::testing::ExitedWithCode(1),
              fatal_banner("allocation failure in cvector\\(\\)"));
  EXPECT_EXIT(ivector(INT_MIN, INT_MAX), ::testing::ExitedWithCode(1),
              fatal_banner("allocation failure in ivector\\(\\)"));
  EXPECT_EXIT(dmatrix(1, 0 - 5, 1, 2), ::testing::ExitedWithCode(1),
              fatal_banner("allocation failure 1 in dmatrix\\(\\)"));
  EXPECT_EXIT(imatrix(1, 2, 1, -5), ::testing::ExitedWithCode(1),
              fatal_banner("allocation failure 2 in imatrix\\(\\)"));
}

TEST_F(IndexRangedArraysDeathTest, SizesThatOverflowWhenMultipliedOutAreRefusedNotWrapped) {
  // 2^31 - 1 doubles is a valid int count but 16 GiB; the element count of
  // this tensor does not fit an int at all.
  EXPECT_EXIT(d3tensor(1, 100000, 1, 100000, 1, 2), ::testing::ExitedWithCode(1),
              fatal_banner("allocation failure 2 in d3tensor\\(\\)"));
  EXPECT_EXIT(d3tensor(1, 1000, 1, 1000, 1, 10000), ::testing::ExitedWithCode(1),
              fatal_banner("allocation failure 3 in d3tensor\\(\\)"));
  EXPECT_EXIT(d3tensor(1, 0 - 2, 1, 2, 1, 2), ::testing::ExitedWithCode(1),
              fatal_banner("allocation failure in 1 in d3tensor\\(\\)"));
}

TEST_F(IndexRangedArraysDeathTest, FatalExitWritesThreeLinesToStandardErrorAndNothingElse) {
  std::string whole_of_standard_error = "^";
  whole_of_standard_error += fatal_banner("gaussj: Singular Matrix-2");
  whole_of_standard_error += "$";
  EXPECT_EXIT(
      {
        std::printf("partial output\n");
        fatal_numeric_error("gaussj: Singular Matrix-2");
      },
      ::testing::ExitedWithCode(1), whole_of_standard_error);
}
