#include "model/reading_draws.hpp"

#include <cassert>
#include <cstddef>
#include <vector>

#include "model/emission.hpp"
#include "model/latent_state.hpp"

namespace {

// A state drawn with probability weight[k] / sum of weights, k = 1..states,
// by one uniform against the running sum in ascending k.  Rounding can leave
// the uniform above the last sum; the last state of positive weight is then
// taken.
int draw_state(SimulationEngine& engine, const double* weight, int states) {
  double total = 0.0;
  for (int k = 1; k <= states; ++k) total += weight[k];
  const double target = uniform_unit(engine) * total;
  double cumulative = 0.0;
  int last_positive = 1;
  for (int k = 1; k <= states; ++k) {
    if (weight[k] <= 0.0) continue;
    last_positive = k;
    cumulative += weight[k];
    if (target < cumulative) return k;
  }
  return last_positive;
}

bool is_reading(char code) {
  const int row = code_row(static_cast<unsigned char>(code));
  return row == code_row(static_cast<unsigned char>(code_event)) ||
         row == code_row(static_cast<unsigned char>(code_no_event));
}

}  // namespace

void draw_readings(SimulationEngine& engine, const PatternModel& model,
                   const double reading_weight[2], std::string_view codes, char* row,
                   double error_rate) {
  const int n = model.intervals();
  const int states = model.states();
  assert(codes.size() == static_cast<std::size_t>(n));
  for (int t = 0; t < n; ++t) row[t] = codes[static_cast<std::size_t>(t)];
  DoubleMatrix alpha = dmatrix(0, n, 1, states);
  model.open_reading_weights(codes, reading_weight, alpha);
  // weight[0] is unused: the states run 1..states.
  std::vector<double> weight(static_cast<std::size_t>(states) + 1, 0.0);
  double total = 0.0;
  for (int k = 1; k <= states; ++k) {
    weight[static_cast<std::size_t>(k)] = alpha[n][k];
    total += alpha[n][k];
  }
  if (total > 0.0) {
    int state = draw_state(engine, weight.data(), states);
    for (int t = n; t >= 1; --t) {
      const std::size_t at = static_cast<std::size_t>(t - 1);
      if (is_reading(codes[at])) {
        // R is consistent with class {2, 5} alone.
        const bool event = emission_factor(code_row(static_cast<unsigned char>(code_event)),
                                           sub_state_of_state(state)) != 0.0;
        row[at] = event ? code_event : code_no_event;
      }
      if (t == 1) break;
      const DoubleMatrix transition = model.transition(t);
      for (int l = 1; l <= states; ++l) {
        weight[static_cast<std::size_t>(l)] = alpha[t - 1][l] * transition[l][state];
      }
      state = draw_state(engine, weight.data(), states);
    }
    misread_codes(engine, error_rate, row, static_cast<std::size_t>(n));
  }
  release_dmatrix(alpha, 0, n, 1, states);
}
