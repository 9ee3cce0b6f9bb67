#include "driver/pair_statistic.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>

#include "model/emission.hpp"

namespace {

// The reading (0 for R, 1 for N) a code byte shows, or -1 for any other.
int reading_of(char code) {
  const int row = code_row(static_cast<unsigned char>(code));
  for (int reading = 0; reading < reading_count; ++reading) {
    if (row == code_row(static_cast<unsigned char>(reading_code[reading]))) return reading;
  }
  return -1;
}

bool is_x(char code) { return code_row(static_cast<unsigned char>(code)) == code_row('X'); }

// The observed counts of every pair, in the order of pair_probabilities.
void count_pairs(std::string_view codes, int count, int n, std::vector<PairTable>& tables) {
  std::vector<int> readings(static_cast<std::size_t>(n));
  for (int i = 0; i < count; ++i) {
    const std::string_view row = codes.substr(static_cast<std::size_t>(i) * static_cast<std::size_t>(n),
                                              static_cast<std::size_t>(n));
    for (int t = 0; t < n; ++t) {
      readings[static_cast<std::size_t>(t)] = reading_of(row[static_cast<std::size_t>(t)]);
    }
    std::size_t pair = 0;
    for (int a = 0; a < n; ++a) {
      const int first = readings[static_cast<std::size_t>(a)];
      if (first < 0) {
        pair += static_cast<std::size_t>(n - 1 - a);
        continue;
      }
      for (int b = a + 1; b < n; ++b, ++pair) {
        const int second = readings[static_cast<std::size_t>(b)];
        if (second < 0) continue;
        tables[pair].observed[first][second] += 1.0;
        ++tables[pair].count;
      }
    }
  }
}

// E, the residuals and the deviance of one table from the model's
// probabilities of its cells, weighted by the readings' weights.
void compare(const PairProbabilities& probabilities, const double weight[reading_count],
             PairTable& table) {
  double norm = 0.0;
  for (int a = 0; a < reading_count; ++a) {
    for (int b = 0; b < reading_count; ++b) {
      norm += probabilities.cell[a][b] * weight[a] * weight[b];
    }
  }
  const double n = static_cast<double>(table.count);
  table.deviance = 0.0;
  for (int a = 0; a < reading_count; ++a) {
    for (int b = 0; b < reading_count; ++b) {
      // E_ab = N P_ab w_a w_b / sum P w w
      const double expected = n * (probabilities.cell[a][b] * weight[a] * weight[b]) / norm;
      const double observed = table.observed[a][b];
      table.expected[a][b] = expected;
      // r = (O - E) / sqrt(E (1 - E/N))
      const double variance = expected * (1.0 - expected / n);
      table.residual[a][b] = variance > 0.0 ? (observed - expected) / std::sqrt(variance) : 0.0;
      // 2 O log(O / E); an empty cell adds nothing.
      if (observed > 0.0) table.deviance += 2.0 * observed * std::log(observed / expected);
    }
  }
}

}  // namespace

void reading_weights(double x_rate, double weight[reading_count]) {
  weight[0] = 1.0 - 0.5 * x_rate;  // R: hidden in class {2, 5} at x/2
  weight[1] = 1.0 - x_rate;        // N: hidden at x
}

double estimated_x_rate(const PatternModel& model, std::string_view codes, int count) {
  const int n = model.intervals();
  const std::vector<double> event = event_probabilities(model);
  // #X = x sum over the codes R, N, X at t of (1 - P(R at t)/2)
  double x_codes = 0.0;
  double exposure = 0.0;
  for (int i = 0; i < count; ++i) {
    for (int t = 0; t < n; ++t) {
      const char code = codes[static_cast<std::size_t>(i) * static_cast<std::size_t>(n) +
                              static_cast<std::size_t>(t)];
      const bool x = is_x(code);
      if (!x && reading_of(code) < 0) continue;
      if (x) x_codes += 1.0;
      exposure += 1.0 - 0.5 * event[static_cast<std::size_t>(t)];
    }
  }
  if (!(exposure > 0.0)) return 0.0;
  return std::clamp(x_codes / exposure, 0.0, largest_x_rate);
}

PairStatistic pair_statistic(const PatternModel& model, std::string_view codes, int count) {
  const int n = model.intervals();
  assert(codes.size() == static_cast<std::size_t>(n) * static_cast<std::size_t>(count));
  PairStatistic statistic;
  const std::vector<PairProbabilities> probabilities = pair_probabilities(model);
  statistic.tables.resize(probabilities.size());
  for (std::size_t k = 0; k < probabilities.size(); ++k) {
    statistic.tables[k].first = probabilities[k].first;
    statistic.tables[k].second = probabilities[k].second;
  }
  count_pairs(codes, count, n, statistic.tables);
  statistic.x_rate = estimated_x_rate(model, codes, count);
  double weight[reading_count];
  reading_weights(statistic.x_rate, weight);
  for (std::size_t k = 0; k < probabilities.size(); ++k) {
    PairTable& table = statistic.tables[k];
    if (table.count == 0) continue;
    compare(probabilities[k], weight, table);
    statistic.g2 += table.deviance;
    ++statistic.pairs;
    if (statistic.largest < 0 ||
        table.deviance > statistic.tables[static_cast<std::size_t>(statistic.largest)].deviance) {
      statistic.largest = static_cast<int>(k);
    }
  }
  return statistic;
}
