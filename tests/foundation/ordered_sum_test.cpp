// The stretched sum must give the bits of the plain left-to-right loop for
// every kind of term: the stretches it adds at once, the ties, signs and
// non-finite terms that must go one at a time, and totals that cross from
// one binade to the next within a stretch.
#include "foundation/ordered_sum.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

double plain_sum(double total, const std::vector<double>& values, const std::vector<int>& index) {
  for (const int i : index) total += values[static_cast<std::size_t>(i)];
  return total;
}

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

std::vector<int> random_index(std::mt19937_64& random, std::size_t count, std::size_t values) {
  std::vector<int> index(count);
  for (int& i : index) i = static_cast<int>(random() % values);
  return index;
}

void expect_plain_bits(double start, const std::vector<double>& values,
                       const std::vector<int>& index) {
  EXPECT_EQ(bits(add_in_order(start, values, index)), bits(plain_sum(start, values, index)))
      << "start " << start << ", " << values.size() << " values, " << index.size() << " terms";
}

TEST(OrderedSum, GivesThePlainLoopsBitsForTablesOfRepeatedTerms) {
  std::mt19937_64 random(7);
  for (int trial = 0; trial < 40; ++trial) {
    const std::size_t value_count = 1 + random() % 3000;
    const std::size_t term_count = random() % 200000;
    // Terms of one sign spread over several binades, as -log of likelihoods
    // are, some of them tiny beside the total.
    std::vector<double> values(value_count);
    std::uniform_real_distribution<double> exponent(-40.0, 6.0);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0);
    for (double& v : values) v = std::exp2(exponent(random)) * mantissa(random);
    const double starts[] = {0.0, 1e-300, 3.0, 0x1p52 - 1.0, 1e290};
    expect_plain_bits(starts[trial % 5], values, random_index(random, term_count, value_count));
  }
}

TEST(OrderedSum, TiesAndTermsItCannotTakeAtOnceGoOneByOne) {
  std::mt19937_64 random(11);
  // From 2^52 on the doubles are the integers: every term x.5 is a tie whose
  // rounding depends on the total's parity, and 0.25 vanishes.
  const std::vector<double> halves = {0.5, 1.5, 2.5, 0.25, 3.0, 0.75};
  expect_plain_bits(0x1p52, halves, random_index(random, 50000, halves.size()));
  // A negative, an infinite or a NaN term among ordinary ones.
  const double specials[] = {-2.0, -0.0, std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(), 1e308};
  for (const double special : specials) {
    std::vector<double> values = {1.25, 2.5, 0.125, 7.0};
    values.push_back(special);
    std::vector<int> index = random_index(random, 40000, values.size() - 1);
    index[30000] = static_cast<int>(values.size() - 1);
    expect_plain_bits(0.0, values, index);
    expect_plain_bits(1e6, values, index);
  }
}

TEST(OrderedSum, NegativeTermsThatCarryTheTotalDownABinade) {
  std::mt19937_64 random(3);
  // Below 2^20 the doubles are twice as close: a stretch that falls there
  // must not be added in the units of the binade it started in.
  const double top = 0x1p20;
  const std::vector<double> values = {-top / 3000.0, -top / 7000.0, top / 9000.0};
  expect_plain_bits(top + top / 16.0, values, random_index(random, 30000, values.size()));
}

TEST(OrderedSum, TotalsThatLeaveTheirBinadeWithinAStretch) {
  std::mt19937_64 random(5);
  // Starts just below a power of two, with terms that carry the total over it
  // somewhere inside a stretch, or land it exactly on it.
  for (int e = 1; e < 60; e += 7) {
    const double top = std::ldexp(1.0, e);
    const std::vector<double> values = {top / 4096.0, top / 8192.0, top / 3000.0};
    expect_plain_bits(top - top / 64.0, values, random_index(random, 20000, values.size()));
    expect_plain_bits(top - top / 8192.0, values, random_index(random, 20000, values.size()));
  }
}

}  // namespace
