#include "model/pattern_probability.hpp"

#include <cassert>
#include <cstddef>
#include <string>

#include "model/emission.hpp"
#include "model/latent_state.hpp"
#include "model/transitions.hpp"
#include "model/wrap_weights.hpp"

namespace {

// A code byte that carries no information.
constexpr char no_information = '-';

// The code rows of the two readings, in the order of reading_code.
int reading_row(int reading) { return code_row(static_cast<unsigned char>(reading_code[reading])); }

// One interval of the forward recursion:
//   next[k] = (sum_{l ascending} current[l] transition[l][k]) factor[k]
void forward_step(DoubleVector current, DoubleMatrix transition, DoubleVector factor, int states,
                  DoubleVector next) {
  for (int k = 1; k <= states; ++k) {
    double sum = 0.0;
    for (int l = 1; l <= states; ++l) sum += current[l] * transition[l][k];
    next[k] = sum * factor[k];
  }
}

}  // namespace

PatternModel::PatternModel(int p, const std::vector<double>& parameters, double escape_fraction,
                           double error_rate)
    : p_(p),
      n_(static_cast<int>(parameters.size())),
      states_(state_count(p)),
      emission_table_(dmatrix(0, code_row_count - 1, 1, state_count(p))) {
  assert(p >= 1 && escape_fraction >= 0.0 && escape_fraction <= 1.0);
  assert(error_rate >= 0.0 && error_rate <= 0.5);
  fill_emission_table(emission_table_, p, error_rate);
  const int wraps = wrap_limit(p);
  DoubleVector terms = dvector(0, largest_event_count(p));
  DoubleVector same_weights = dvector(0, wraps);
  DoubleVector cross_weights = dvector(0, wraps);
  DoubleVector same_sums = dvector(1, 2 * p - 1);
  DoubleVector cross_sums = dvector(1, 2 * p - 1);
  const double per_level = 1.0 / static_cast<double>(p);
  for (const double x : parameters) {
    // lambda_t = (1 - q) x_t counting events, mu_t = q x_t / p escape moves.
    const double factor = escape_factor(escape_fraction * x * per_level);
    for (int m = 0; m <= wraps; ++m) {
      same_weights[m] = W_same(m, factor);
      cross_weights[m] = W_cross(m, factor);
    }
    fill_poisson_terms((1.0 - escape_fraction) * x, p, terms);
    fill_offset_sums(terms, same_weights, cross_weights, p, same_sums, cross_sums);
    DoubleMatrix transition = dmatrix(1, states_, 1, states_);
    build_transition_matrix(same_sums, cross_sums, p, transition);
    transitions_.push_back(transition);
  }
  release_dvector(cross_sums, 1, 2 * p - 1);
  release_dvector(same_sums, 1, 2 * p - 1);
  release_dvector(cross_weights, 0, wraps);
  release_dvector(same_weights, 0, wraps);
  release_dvector(terms, 0, largest_event_count(p));
}

PatternModel::~PatternModel() {
  for (DoubleMatrix& transition : transitions_) release_dmatrix(transition, 1, states_, 1, states_);
  release_dmatrix(emission_table_, 0, code_row_count - 1, 1, states_);
}

void PatternModel::forward(std::string_view codes, const double* reading_weight,
                           DoubleMatrix alpha) const {
  assert(codes.size() == static_cast<std::size_t>(n_));
  for (int k = 1; k <= states_; ++k) alpha[0][k] = 0.0;
  fill_initial_weights(alpha[0], p_);
  const int event_row = reading_row(0);
  const int no_event_row = reading_row(1);
  DoubleVector factor = dvector(1, states_);
  for (int t = 1; t <= n_; ++t) {
    const int row = code_row(static_cast<unsigned char>(codes[static_cast<std::size_t>(t - 1)]));
    const bool open = reading_weight != nullptr && (row == event_row || row == no_event_row);
    for (int k = 1; k <= states_; ++k) {
      // An open reading is R in class {2, 5} and N elsewhere, weighted.
      factor[k] = !open                                  ? emission_table_[row][k]
                  : emission_table_[event_row][k] != 0.0 ? reading_weight[0]
                                                         : reading_weight[1];
    }
    forward_step(alpha[t - 1], transition(t), factor, states_, alpha[t]);
  }
  release_dvector(factor, 1, states_);
}

void PatternModel::open_reading_weights(std::string_view codes, const double reading_weight[2],
                                        DoubleMatrix alpha) const {
  forward(codes, reading_weight, alpha);
}

double PatternModel::probability(std::string_view codes) const {
  DoubleMatrix alpha = dmatrix(0, n_, 1, states_);
  forward(codes, nullptr, alpha);
  double total = 0.0;
  for (int k = 1; k <= states_; ++k) total += alpha[n_][k];
  release_dmatrix(alpha, 0, n_, 1, states_);
  return total;
}

std::vector<PairProbabilities> pair_probabilities(const PatternModel& model) {
  const int n = model.intervals();
  std::vector<PairProbabilities> pairs;
  std::string row(static_cast<std::size_t>(n), no_information);
  for (int i = 1; i <= n; ++i) {
    for (int j = i + 1; j <= n; ++j) {
      PairProbabilities pair;
      pair.first = i;
      pair.second = j;
      for (int a = 0; a < reading_count; ++a) {
        for (int b = 0; b < reading_count; ++b) {
          row[static_cast<std::size_t>(i - 1)] = reading_code[a];
          row[static_cast<std::size_t>(j - 1)] = reading_code[b];
          pair.cell[a][b] = model.probability(row);
        }
      }
      row[static_cast<std::size_t>(i - 1)] = no_information;
      row[static_cast<std::size_t>(j - 1)] = no_information;
      pairs.push_back(pair);
    }
  }
  return pairs;
}

std::vector<double> event_probabilities(const PatternModel& model) {
  const int n = model.intervals();
  std::vector<double> probabilities;
  std::string row(static_cast<std::size_t>(n), no_information);
  for (int t = 1; t <= n; ++t) {
    row[static_cast<std::size_t>(t - 1)] = reading_code[0];
    probabilities.push_back(model.probability(row));
    row[static_cast<std::size_t>(t - 1)] = no_information;
  }
  return probabilities;
}
