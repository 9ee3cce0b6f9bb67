#include "model/latent_state.hpp"

#include <cassert>

int sub_state_class(int sub_state) {
  assert(sub_state >= 1 && sub_state <= sub_state_count);
  // A sub-state and its twin share the smaller of the two numbers.
  const int other = twin(sub_state);
  return (sub_state < other ? sub_state : other) - 1;
}

LevelChange level_after_events(int level, std::int64_t events, int p) {
  assert(p >= 1 && level >= 1 && level <= p && events >= 0);
  const std::int64_t steps = level - 1 + events;
  return {static_cast<int>(steps % p) + 1, steps / p};
}

void fill_initial_weights(DoubleVector weights, int p) {
  // The chain starts in one class at a level drawn uniformly: 2p states.
  const double start = 1.0 / static_cast<double>(2 * p);
  for (int level = 1; level <= p; ++level) {
    for (int a = 1; a <= sub_state_count; ++a) {
      weights[state_number(level, a)] = same_class(starting_sub_state, a) ? start : 0.0;
    }
  }
}
