#include "model/simulation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "driver/observation_file.hpp"

namespace {

// Rows drawn for each frequency check: a frequency near 1/3 then has a
// standard error of about 0.001.
constexpr int draws = 200000;

// How far a frequency may stray, in standard errors.  Every check draws
// from a fixed seed, so the checks are deterministic; a fault in the model
// moves frequencies by tens of standard errors at these sample sizes.
constexpr double allowed_standard_errors = 5.0;

// Event counts summed by the reference forward sum: the Poisson mass beyond
// 60 events is below 1e-40 for the means used here.
constexpr int reference_event_limit = 60;

// Probabilities summed from a few hundred products: far below this, yet
// room enough for their rounding.  It also lets a probability of exactly 0
// or 1 meet a frequency of 0 or 1 whose standard error is 0.
constexpr double summed_rounding = 1e-12;

void expect_frequency(long long hits, long long total, double probability,
                      const std::string& what) {
  const double frequency = static_cast<double>(hits) / static_cast<double>(total);
  const double standard_error =
      std::sqrt(probability * (1.0 - probability) / static_cast<double>(total));
  EXPECT_LE(std::fabs(frequency - probability),
            allowed_standard_errors * standard_error + summed_rounding)
      << what << ": frequency " << frequency << ", probability " << probability;
}

SimulationSettings settings_of(int order, std::vector<double> rates, double x_rate = 0.0,
                               double missing_rate = 0.0) {
  SimulationSettings settings;
  settings.order = order;
  settings.rates = std::move(rates);
  settings.x_rate = x_rate;
  settings.missing_rate = missing_rate;
  return settings;
}

// How often each whole row occurs among `count` simulated rows.
std::map<std::string, long long> row_counts(const SimulationSettings& settings, int count,
                                            std::uint64_t seed) {
  const std::vector<char> codes = simulate_codes(settings, count, seed);
  const std::size_t n = settings.rates.size();
  std::map<std::string, long long> counts;
  for (std::size_t i = 0; i < codes.size(); i += n) ++counts[std::string(codes.data() + i, n)];
  return counts;
}

// The probability of a row of codes, by an exact forward sum over (level,
// class) written independently of the simulator: the class after m wraps is
// found in closed form (the three-class walk that moves to either other
// class has eigenvalues 1 and -1/2, so it stays with (1 + 2(-1/2)^m)/3 and
// reaches each other class with (1 - (-1/2)^m)/3), and a code's probability
// in a class is the likelihood's emission factor times a constant of the code.
double reference_row_probability(const std::string& row, const SimulationSettings& settings) {
  const int p = settings.order;
  const double x = settings.x_rate;
  const double q = settings.missing_rate;
  // Emission factors for the classes {1,6}, {2,5}, {3,4}, and the constants.
  auto code_probability = [&](char code, int cls) {
    const bool event = cls == 1;
    switch (code) {
      case 'R':
        return (1 - q) * (1 - x / 2) * (event ? 1.0 : 0.0);
      case 'N':
        return (1 - q) * (1 - x) * (event ? 0.0 : 1.0);
      case 'X':
        return (1 - q) * x * (event ? 0.5 : 1.0);
      default:
        return q;
    }
  };
  std::vector<double> weight(3 * static_cast<std::size_t>(p), 0.0);  // index 3(level-1) + class
  for (std::size_t level = 0; level < static_cast<std::size_t>(p); ++level)
    weight[3 * level] = 1.0 / p;
  for (std::size_t t = 0; t < row.size(); ++t) {
    const double mean = settings.rates[t];
    std::vector<double> next(weight.size(), 0.0);
    for (int from = 0; from < 3 * p; ++from) {
      const int level = from / 3;
      const int cls = from % 3;
      double poisson = std::exp(-mean);
      for (int k = 0; k <= reference_event_limit; ++k) {
        if (k > 0) poisson *= mean / k;
        const int wraps = (level + k) / p;
        const double alternating = std::pow(-0.5, wraps);
        for (int to_class = 0; to_class < 3; ++to_class) {
          const double move = to_class == cls ? (1 + 2 * alternating) / 3 : (1 - alternating) / 3;
          const int to = 3 * ((level + k) % p) + to_class;
          next[static_cast<std::size_t>(to)] +=
              weight[static_cast<std::size_t>(from)] * poisson * move;
        }
      }
    }
    for (std::size_t s = 0; s < next.size(); ++s)
      next[s] *= code_probability(row[t], static_cast<int>(s % 3));
    weight = next;
  }
  double total = 0.0;
  for (const double w : weight) total += w;
  return total;
}

// Every row over `alphabet` occurs as often as the reference says.
void expect_rows_match_reference(const SimulationSettings& settings, const std::string& alphabet,
                                 std::uint64_t seed) {
  const auto counts = row_counts(settings, draws, seed);
  const std::size_t n = settings.rates.size();
  std::size_t patterns = 1;
  for (std::size_t t = 0; t < n; ++t) patterns *= alphabet.size();
  double covered = 0.0;
  for (std::size_t pattern = 0; pattern < patterns; ++pattern) {
    std::string row;
    for (std::size_t t = 0, rest = pattern; t < n; ++t, rest /= alphabet.size()) {
      row += alphabet[rest % alphabet.size()];
    }
    const double probability = reference_row_probability(row, settings);
    covered += probability;
    const auto found = counts.find(row);
    expect_frequency(found == counts.end() ? 0 : found->second, draws, probability, row);
  }
  EXPECT_NEAR(covered, 1.0, summed_rounding) << "the alphabet must cover every row";
}

TEST(UniformBelow, GivesEveryValueEquallyOftenAndNothingOutsideTheRange) {
  SimulationEngine engine(11);
  long long counts[3] = {0, 0, 0};
  for (int i = 0; i < 3 * draws; ++i) ++counts[uniform_below(engine, 3)];
  for (const long long c : counts) expect_frequency(c, 3LL * draws, 1.0 / 3, "value");
  // Nearly half of all engine outputs are refused for this bound.
  const std::uint64_t wide = (std::uint64_t{1} << 63) + 1;
  for (int i = 0; i < 1000; ++i) EXPECT_LT(uniform_below(engine, wide), wide);
  EXPECT_EQ(uniform_below(engine, 1), 0u);
}

TEST(ExpNegative, AgreesWithTheLibraryExponentialOverTheWholeRange) {
  // The series and the squarings lose a few tens of units in the last place
  // at most (2^-52 is about 2.2e-16).
  constexpr double relative_tolerance = 2e-14;
  for (int i = 0; i <= 3200; ++i) {
    const double x = i * 0.01;
    EXPECT_NEAR(exp_negative(x) / std::exp(-x), 1.0, relative_tolerance) << "x = " << x;
  }
  EXPECT_EQ(exp_negative(0.0), 1.0);
}

TEST(PoissonDraw, MatchesMeanVarianceAndZeroProbabilityBelowAndAcrossTheSplit) {
  SimulationEngine engine(5);
  EXPECT_EQ(poisson_draw(engine, 0.0), 0);
  for (const double mean : {0.3, 4.0, poisson_chunk, 45.5, 400.0}) {
    double sum = 0.0;
    double squares = 0.0;
    long long zeros = 0;
    for (int i = 0; i < draws; ++i) {
      const double k = static_cast<double>(poisson_draw(engine, mean));
      sum += k;
      squares += k * k;
      zeros += k == 0.0;
    }
    const double sample_mean = sum / draws;
    const double sample_variance = squares / draws - sample_mean * sample_mean;
    EXPECT_NEAR(sample_mean, mean, allowed_standard_errors * std::sqrt(mean / draws)) << mean;
    // The variance of a Poisson sample variance is about (2 mean^2 + mean) / draws.
    EXPECT_NEAR(sample_variance, mean,
                allowed_standard_errors * std::sqrt((2 * mean * mean + mean) / draws))
        << mean;
    expect_frequency(zeros, draws, std::exp(-mean), "zero events");
  }
}

TEST(SimulatedCodes, EventFrequencyOfOrderOneIsAThirdOfOneMinusExpOfMinusOneAndAHalfLambda) {
  for (const double mean : {0.2, 1.0, 4.0}) {
    const auto counts = row_counts(settings_of(1, {mean}), draws, 17);
    const long long events = counts.contains("R") ? counts.at("R") : 0;
    EXPECT_EQ(events + (counts.contains("N") ? counts.at("N") : 0), draws) << "only R and N";
    expect_frequency(events, draws, (1 - std::exp(-1.5 * mean)) / 3,
                     "R at mean " + std::to_string(mean));
  }
}

TEST(SimulatedCodes, RowsOfSeveralIntervalsFollowTheExactForwardSum) {
  expect_rows_match_reference(settings_of(2, {1.6, 2.8}), "NR", 23);
  expect_rows_match_reference(settings_of(3, {0.9, 3.0, 0.4}), "NR", 29);
  expect_rows_match_reference(settings_of(1, {0.0, 0.7}), "NR", 31);
}

TEST(SimulatedCodes, XAndMissingCodesFollowTheEmissionFactorsTimesPerCodeConstants) {
  expect_rows_match_reference(settings_of(2, {1.2, 2.0}, 0.3, 0.2), "NRX-", 37);
  expect_rows_match_reference(settings_of(1, {2.0}, 1.0, 0.0), "NRX-", 41);
}

TEST(SimulatedCodes, RatesOnlyReplaceCodesOfTheSameLatentPath) {
  const std::vector<double> rates = {0.5, 1.5, 3.0, 0.2};
  const std::vector<char> plain = simulate_codes(settings_of(2, rates), 5000, 99);
  const std::vector<char> some = simulate_codes(settings_of(2, rates, 0.3, 0.2), 5000, 99);
  const std::vector<char> more_x = simulate_codes(settings_of(2, rates, 0.8, 0.2), 5000, 99);
  const std::vector<char> all_missing = simulate_codes(settings_of(2, rates, 0.5, 1.0), 5000, 99);
  for (std::size_t s = 0; s < plain.size(); ++s) {
    ASSERT_TRUE(some[s] == plain[s] || some[s] == 'X' || some[s] == '-') << s;
    ASSERT_EQ(some[s] == '-', more_x[s] == '-') << s;
    ASSERT_EQ(all_missing[s], '-') << s;
  }
}

TEST(SimulatedCodes, MisreadsSwapAShareOfTheShownReadingsAndLeaveTheMainStreamAlone) {
  SimulationSettings settings = settings_of(2, {0.5, 1.5, 3.0, 0.2}, 0.2, 0.1);
  const std::vector<char> clean = simulate_codes(settings, draws / 4, 53);
  settings.error_rate = 0.1;
  const std::vector<char> misread = simulate_codes(settings, draws / 4, 53);
  // Counted apart for R and N, so that a swap one way only shows too.
  long long shown[2] = {0, 0};
  long long swapped[2] = {0, 0};
  for (std::size_t s = 0; s < clean.size(); ++s) {
    if (clean[s] != 'R' && clean[s] != 'N') {
      ASSERT_EQ(misread[s], clean[s]) << s;
      continue;
    }
    ASSERT_TRUE(misread[s] == 'R' || misread[s] == 'N') << s;
    const int which = clean[s] == 'R' ? 0 : 1;
    ++shown[which];
    if (misread[s] != clean[s]) ++swapped[which];
  }
  expect_frequency(swapped[0], shown[0], 0.1, "R read as N");
  expect_frequency(swapped[1], shown[1], 0.1, "N read as R");
}

std::string written_file(const SimulationSettings& settings, int count, std::uint64_t seed,
                         bool crlf) {
  std::FILE* file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  EXPECT_TRUE(write_observation_file(file, settings, count, seed, crlf));
  std::rewind(file);
  std::string bytes;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) bytes += static_cast<char>(c);
  std::fclose(file);
  return bytes;
}

TEST(ObservationFileWriting, GivesTheSameBytesForASeedOnEveryRunAndMachine) {
  // Pinned once: any change to the draws or their order changes these files.
  const SimulationSettings settings = settings_of(2, {0.8, 2.4, 40.0}, 0.25, 0.1);
  EXPECT_EQ(written_file(settings, 6, 2024, false), "6 3\nXNX\n-RX\nNRN\nXNN\nX-R\nNRN\n");
  EXPECT_EQ(written_file(settings, 6, 2024, false), written_file(settings, 6, 2024, false));
  EXPECT_NE(written_file(settings, 6, 2024, false), written_file(settings, 6, 2025, false));
}

TEST(ObservationFileWriting, LoadsBackAsTheSimulatedCodesWithEitherLineEnd) {
  const SimulationSettings settings = settings_of(3, {0.5, 1.0, 2.0, 0.1, 4.0}, 0.2, 0.1);
  const std::vector<char> codes = simulate_codes(settings, 40, 8);
  for (const bool crlf : {false, true}) {
    const std::string text = fold_line_ends(written_file(settings, 40, 8, crlf));
    const ObservationFileHeader header = read_observation_header(text);
    ASSERT_EQ(header.problem, "");
    EXPECT_EQ(header.observation_count, 40);
    EXPECT_EQ(header.interval_count, 5);
    const int last = static_cast<int>(observation_table_slots(header)) - 1;
    ObservationTable table = cvector(0, last);
    fill_observation_table(text, header, table);
    for (int s = 0; s < 40 * 5; ++s)
      EXPECT_EQ(table[s], static_cast<unsigned char>(codes[static_cast<std::size_t>(s)])) << s;
    release_cvector(table, 0, last);
  }
}

}  // namespace
