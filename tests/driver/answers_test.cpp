#include "driver/answers.hpp"

#include <gtest/gtest.h>

#include <cmath>

TEST(Answers, ModelOrderIsAWholeNumberFromOneToTheLargestWrittenInFull) {
  EXPECT_EQ(parse_model_order("1"), 1);
  EXPECT_EQ(parse_model_order("3"), 3);
  EXPECT_EQ(parse_model_order("100"), 100);
  for (const char* refused :
       {"0", "-1", "abc", "2x", "3.5", "", "101", "2147483647", "99999999999999999999", "0x3"}) {
    EXPECT_FALSE(parse_model_order(refused).has_value()) << refused;
  }
}

TEST(Answers, InitialEstimateIsAFiniteNonNegativeNumberWrittenInFull) {
  EXPECT_EQ(parse_initial_estimate("0.5"), 0.5);
  EXPECT_EQ(parse_initial_estimate("0"), 0.0);
  EXPECT_EQ(parse_initial_estimate("1e308"), 1e308);
  EXPECT_EQ(parse_initial_estimate("2"), 2.0);
  // Typed with a sign, zero is still the start 0, not -0 (echoed -0.000000).
  EXPECT_FALSE(std::signbit(parse_initial_estimate("-0").value()));
  for (const char* refused : {"nan", "inf", "-inf", "-1", "-0.5", "abc", "0.5x", "", "1e400"}) {
    EXPECT_FALSE(parse_initial_estimate(refused).has_value()) << refused;
  }
}
