#include "model/poisson.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Reference values below are quoted to 10-11 significant digits; half a unit
// in the last quoted digit is the tolerance.
constexpr double ten_digits = 5e-11;
// 32! quoted to sixteen significant digits: one unit of the last, relative.
constexpr double sixteen_digits = 1e-15;
// ln Gamma(34) quoted to nine decimals: half a unit of the last.
constexpr double nine_decimals = 5e-10;
// ln Gamma(1) and ln Gamma(2) quoted to two digits at 1e-11: half a unit of
// the second.
constexpr double two_digits_at_1e11 = 0.05e-11;
// Factorials above 32 carry the series' relative error near 1e-10, and so
// does every Poisson term that divides by one; a sum of them, whose terms
// add up to 1, is off by no more than a few times that.
constexpr double series_error_of_a_sum = 1e-9;

TEST(Factorial, ThirtyTwoIsTheProductOfTheRepeatedDoubles) {
  double product = 1.0;
  for (int k = 1; k <= 32; ++k) product = static_cast<double>(k) * product;
  EXPECT_EQ(factorial(32), product);
  EXPECT_NEAR(factorial(32) / 2.631308369336935e35, 1.0, sixteen_digits);
}

TEST(Factorial, ThirtyThreeComesFromTheLogGammaSeriesNotTheExactProduct) {
  EXPECT_EQ(factorial(33), std::exp(log_gamma(34.0)));
  EXPECT_NEAR(factorial(33) / 8.6833176173e36, 1.0, ten_digits);
  // The exact 33! differs in the tenth digit: the series' error is kept.
  EXPECT_GT(std::fabs(factorial(33) / 8.68331761881189e36 - 1.0), 1e-10);
}

TEST(Factorial, TableEntriesAreFilledOnceAndTheTopOnlyGrows) {
  const int top_before = factorial_top;
  EXPECT_EQ(factorial(0), 1.0);
  EXPECT_EQ(factorial(4), 24.0);
  EXPECT_EQ(factorial_top, top_before);

  EXPECT_EQ(factorial(20), 2432902008176640000.0);
  EXPECT_GE(factorial_top, 20);
  const int top_after_20 = factorial_top;
  EXPECT_EQ(factorial(12), 479001600.0);
  EXPECT_EQ(factorial_top, top_after_20);

  factorial(32);
  EXPECT_EQ(factorial_top, factorial_table_top);
  for (int k = 5; k <= factorial_table_top; ++k) {
    EXPECT_EQ(factorial_table[k], static_cast<double>(k) * factorial_table[k - 1]) << k;
  }
  const double entry_32 = factorial_table[32];
  factorial(40);
  EXPECT_EQ(factorial_top, factorial_table_top);
  EXPECT_EQ(factorial_table[32], entry_32);
}

TEST(LogGamma, MatchesKnownValuesWithTheSeriesErrorVisibleAtOneAndTwo) {
  EXPECT_NEAR(log_gamma(34.0), 85.054467017, nine_decimals);
  // ln Gamma(1) = ln Gamma(2) = 0 exactly; the series is off by ~1e-10.
  EXPECT_NE(log_gamma(1.0), 0.0);
  EXPECT_NE(log_gamma(2.0), 0.0);
  EXPECT_NEAR(log_gamma(1.0), -3.4e-11, two_digits_at_1e11);
  EXPECT_NEAR(log_gamma(2.0), -7.8e-11, two_digits_at_1e11);
}

TEST(PoissonTerm, MatchesKnownValuesAndTheZeroRateLimits) {
  EXPECT_NEAR(poisson_term(2.5, 3), 0.2137630172, ten_digits);
  EXPECT_EQ(poisson_term(0.0, 0), 1.0);
  for (int k = 1; k <= 40; ++k) EXPECT_EQ(poisson_term(0.0, k), 0.0) << k;
}

TEST(PoissonTerm, TermsSumToOneAcrossTheTableAndSeriesRanges) {
  // Mean 20: the mass sits on both sides of 32, where factorials switch
  // from the table to the series; the series' 1e-10 error bounds the gap.
  double total = 0.0;
  for (int k = 0; k <= 80; ++k) total += poisson_term(20.0, k);
  EXPECT_NEAR(total, 1.0, series_error_of_a_sum);
}

TEST(PoissonTerm, KeepsTheWrittenFormulasBitsWhereverItIsFinite) {
  // Rates up to 60 (lengths up to 1 at order 30) and every event count a
  // model up to order 100 asks for.
  for (int k = 0; k <= 899; ++k) {
    for (int step = 0; step * 0.37 <= 60.0; ++step) {
      const double lambda = step * 0.37;
      const double written = std::pow(lambda, k) * std::exp(-lambda) / factorial(k);
      if (!std::isfinite(written)) continue;
      const double term = poisson_term(lambda, k);
      ASSERT_EQ(std::bit_cast<std::uint64_t>(term), std::bit_cast<std::uint64_t>(written))
          << lambda << " " << k;
    }
  }
}

TEST(PoissonTerm, OverflowingTermsAreTheLogSpaceProbability) {
  // Against the standard library's lgamma, an independent ln k!: the
  // Lanczos series is good to about 1e-10 in k!, and the exponent of size
  // ~1000 loses about 1e-13 more.
  constexpr double series_tolerance = 1e-9;
  int overflowing = 0;
  for (int k = 150; k <= 899; k += 7) {
    for (int step = 0; 10.0 + step * 3.1 <= 400.0; ++step) {
      const double lambda = 10.0 + step * 3.1;
      const double written = std::pow(lambda, k) * std::exp(-lambda) / factorial(k);
      if (std::isfinite(written)) continue;
      ++overflowing;
      const double term = poisson_term(lambda, k);
      ASSERT_TRUE(std::isfinite(term)) << lambda << " " << k;
      const double expected = std::exp(k * std::log(lambda) - lambda - std::lgamma(k + 1.0));
      if (expected < 1e-300) {
        EXPECT_LT(term, 1e-290) << lambda << " " << k;
      } else {
        EXPECT_NEAR(term / expected, 1.0, series_tolerance) << lambda << " " << k;
      }
    }
  }
  EXPECT_GT(overflowing, 100);
  // The case that broke order-30 fits: a length of about 0.23.
  EXPECT_TRUE(std::isfinite(poisson_term(14.0, 269)));
  EXPECT_GT(poisson_term(14.0, 14), 0.1);
}

TEST(PoissonTerm, NegativeRateGivesNegativeOddTerms) {
  EXPECT_LT(poisson_term(-0.5, 1), 0.0);
  EXPECT_GT(poisson_term(-0.5, 2), 0.0);
}

TEST(FactorialDeathTest, NegativeArgumentEndsTheProcessWithTheBanner) {
  EXPECT_EXIT(factorial(-1), ::testing::ExitedWithCode(1),
              "^Calvaro run-time error\\.\\.\\.\nNegative Factor\n"
              "\\.\\.\\.now exiting to system\\.\\.\\.\n$");
}

TEST(FactorialCache, StartsFromThePresetEntriesAndFillsOnlyUpToTheFirstArgument) {
  // Earlier tests in this process have filled the cache, so the check runs
  // in a re-executed child (gtest's "threadsafe" style), which starts from
  // the process's initial cache.  This is no death test: the child ends with
  // status 0 when the cache behaved and writes what it found otherwise.
  const std::string saved_style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        if (factorial_top != 4 || factorial_table[5] != 0.0) {
          std::fprintf(stderr, "not preset: top %d\n", factorial_top);
          std::exit(2);
        }
        factorial(7);
        if (factorial_top != 7 || factorial_table[7] != 5040.0 || factorial_table[8] != 0.0) {
          std::fprintf(stderr, "filled to %d, entry 7 %g\n", factorial_top, factorial_table[7]);
          std::exit(2);
        }
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "^$");
  GTEST_FLAG_SET(death_test_style, saved_style);
}

}  // namespace
