#include <gtest/gtest.h>

#include "foundation/index_ranged_arrays.hpp"

TEST(DoubleVector, IndexesItsOwnRange) {
  DoubleVector v = dvector(1, 3);
  v[1] = 1.0;
  v[3] = 3.0;
  EXPECT_EQ(v[1], 1.0);
  EXPECT_EQ(v[3], 3.0);
  release_dvector(v, 1, 3);
}
