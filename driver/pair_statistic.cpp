#include "driver/pair_statistic.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>

#include "model/emission.hpp"

namespace {

// Added to every count in the odds ratios of the signed departure.
constexpr double odds_ratio_half_count = 0.5;

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
    const std::string_view row = codes.substr(
        static_cast<std::size_t>(i) * static_cast<std::size_t>(n), static_cast<std::size_t>(n));
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

// The table with the observed margins and the model's odds ratio: the
// model's expected table scaled by rows and columns in turn (iterative
// proportional fitting), which for 2 x 2 keeps the cross-product ratio of
// its start and converges geometrically.
constexpr int proportional_fitting_limit = 200;
constexpr double proportional_fitting_tolerance = 1e-12;

double association_deviance(const PairTable& table) {
  double fitted[reading_count][reading_count];
  double rows[reading_count] = {}, columns[reading_count] = {};
  for (int a = 0; a < reading_count; ++a) {
    for (int b = 0; b < reading_count; ++b) {
      fitted[a][b] = table.expected[a][b];
      rows[a] += table.observed[a][b];
      columns[b] += table.observed[a][b];
    }
  }
  for (int round = 0; round < proportional_fitting_limit; ++round) {
    double change = 0.0;
    for (int a = 0; a < reading_count; ++a) {
      const double sum = fitted[a][0] + fitted[a][1];
      for (int b = 0; b < reading_count; ++b)
        fitted[a][b] = sum > 0.0 ? fitted[a][b] * rows[a] / sum : 0.0;
    }
    for (int b = 0; b < reading_count; ++b) {
      const double sum = fitted[0][b] + fitted[1][b];
      change = std::fmax(change, std::fabs(sum - columns[b]));
      for (int a = 0; a < reading_count; ++a)
        fitted[a][b] = sum > 0.0 ? fitted[a][b] * columns[b] / sum : 0.0;
    }
    if (change <= proportional_fitting_tolerance * static_cast<double>(table.count)) break;
  }
  double deviance = 0.0;
  for (int a = 0; a < reading_count; ++a) {
    for (int b = 0; b < reading_count; ++b) {
      const double observed = table.observed[a][b];
      if (observed > 0.0) deviance += 2.0 * observed * std::log(observed / fitted[a][b]);
    }
  }
  return deviance;
}

// The margins' share: at each interval, the readings against the model's
// P(R at t), weighted as the cells are.
double margin_deviance(const std::vector<double>& event, const double weight[reading_count],
                       std::string_view codes, int count, int n, std::vector<double>& terms) {
  double total = 0.0;
  terms.assign(static_cast<std::size_t>(n), 0.0);
  for (int t = 0; t < n; ++t) {
    double observed[reading_count] = {};
    for (int i = 0; i < count; ++i) {
      const int reading =
          reading_of(codes[static_cast<std::size_t>(i) * static_cast<std::size_t>(n) +
                           static_cast<std::size_t>(t)]);
      if (reading >= 0) observed[reading] += 1.0;
    }
    const double readings = observed[0] + observed[1];
    if (readings == 0.0) continue;
    const double p_event = event[static_cast<std::size_t>(t)] * weight[0];
    const double p_none = (1.0 - event[static_cast<std::size_t>(t)]) * weight[1];
    const double expected[reading_count] = {readings * p_event / (p_event + p_none),
                                            readings * p_none / (p_event + p_none)};
    double term = 0.0;
    for (int a = 0; a < reading_count; ++a) {
      if (observed[a] > 0.0) term += 2.0 * observed[a] * std::log(observed[a] / expected[a]);
    }
    terms[static_cast<std::size_t>(t)] = term;
    total += term;
  }
  return total;
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
    table.association = association_deviance(table);
    statistic.g2 += table.association;
    ++statistic.pairs;
    if (statistic.largest < 0 ||
        table.association >
            statistic.tables[static_cast<std::size_t>(statistic.largest)].association) {
      statistic.largest = static_cast<int>(k);
    }
  }
  statistic.g2 +=
      margin_deviance(event_probabilities(model), weight, codes, count, n, statistic.margins);
  return statistic;
}

PatternStatistic pattern_statistic(const PatternModel& model, std::string_view codes, int count,
                                   double x_rate) {
  const int n = model.intervals();
  assert(n <= full_pattern_interval_limit);
  const std::size_t patterns = std::size_t{1} << n;
  double weight[reading_count];
  reading_weights(x_rate, weight);
  // Pattern k has reading (k >> t) & 1 at interval t + 1.
  std::vector<double> expected(patterns), observed(patterns, 0.0);
  std::string row(static_cast<std::size_t>(n), ' ');
  double norm = 0.0;
  for (std::size_t k = 0; k < patterns; ++k) {
    double tilt = 1.0;
    for (int t = 0; t < n; ++t) {
      const auto reading = static_cast<int>((k >> t) & 1U);
      row[static_cast<std::size_t>(t)] = reading_code[reading];
      tilt *= weight[reading];
    }
    expected[k] = model.probability(row) * tilt;
    norm += expected[k];
  }
  PatternStatistic statistic;
  for (int i = 0; i < count; ++i) {
    std::size_t k = 0;
    bool complete = true;
    for (int t = 0; t < n && complete; ++t) {
      const int reading =
          reading_of(codes[static_cast<std::size_t>(i) * static_cast<std::size_t>(n) +
                           static_cast<std::size_t>(t)]);
      complete = reading >= 0;
      k |= static_cast<std::size_t>(reading > 0 ? 1 : 0) << t;
    }
    if (!complete) continue;
    observed[k] += 1.0;
    ++statistic.complete_rows;
  }
  const double rows = static_cast<double>(statistic.complete_rows);
  double pooled_observed = 0.0, pooled_expected = 0.0;
  double largest = -1.0;
  const auto add = [&](double o, double e, const std::string& name) {
    const double term = o > 0.0 ? 2.0 * o * std::log(o / e) : 0.0;
    statistic.g2 += term;
    ++statistic.cells;
    if (term > largest) {
      largest = term;
      statistic.largest = name;
    }
  };
  for (std::size_t k = 0; k < patterns; ++k) {
    const double e = rows * expected[k] / norm;
    if (e < pooled_expected_count) {
      pooled_observed += observed[k];
      pooled_expected += e;
      continue;
    }
    for (int t = 0; t < n; ++t) row[static_cast<std::size_t>(t)] = reading_code[(k >> t) & 1U];
    add(observed[k], e, row);
  }
  if (pooled_expected > 0.0) add(pooled_observed, pooled_expected, "pooled");
  return statistic;
}

double signed_association_departure(const PairTable& table) {
  const auto log_odds = [](const double cell[reading_count][reading_count]) {
    return std::log((cell[0][0] + odds_ratio_half_count) * (cell[1][1] + odds_ratio_half_count) /
                    ((cell[0][1] + odds_ratio_half_count) * (cell[1][0] + odds_ratio_half_count)));
  };
  const double direction = log_odds(table.observed) - log_odds(table.expected);
  return std::copysign(std::sqrt(std::fmax(table.association, 0.0)), direction);
}
