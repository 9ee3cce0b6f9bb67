// The latent state of the model of order p: its levels, its sub-states and
// their classes of twins, how events move it, and where it starts.  Every
// way of evaluating the likelihood and the simulator take these rules from
// here; the other rules of the model live beside it:
//   model/emission.hpp       code rows and the emission factors
//   model/wrap_weights.hpp   the class weights after m wraps, and the wrap
//                            limit at which the sums are truncated
//   model/transitions.hpp    the per-interval offset sums and the transition
//                            matrix built from them
//
// A latent state is a level L (1..p) and a sub-state a (1..6), numbered
// 6(L - 1) + a, so states run 1..6p.  Every event moves the level up by one;
// the event that takes it from p back to 1 is a wrap, so N events taking the
// level from K to L contain m wraps with N = (L - K) + p m.  The sub-states
// form three classes of twins, {1, 6}, {2, 5} and {3, 4} (the twin of a is
// 7 - a).  Every wrap moves the class to one of the two others with equal
// probability, and within a class the weight is split equally between twins.
// An observation starts in class {1, 6} at a level drawn uniformly.
#pragma once

#include <cstdint>

#include "foundation/index_ranged_arrays.hpp"

// Sub-states per level.
inline constexpr int sub_state_count = 6;

// The number of latent states of a model of order p: 6p.
inline int state_count(int p) { return sub_state_count * p; }

// The number of state (level, sub_state): 6(level - 1) + sub_state.
inline int state_number(int level, int sub_state) {
  return sub_state_count * (level - 1) + sub_state;
}

// The level (1..p) and the sub-state (1..6) of a state number (1..6p).
inline int level_of_state(int state) { return (state - 1) / sub_state_count + 1; }
inline int sub_state_of_state(int state) { return (state - 1) % sub_state_count + 1; }

// The other sub-state of the same class: 7 - a.
inline int twin(int sub_state) { return sub_state_count + 1 - sub_state; }

// The class of a sub-state: 0 for {1, 6}, 1 for {2, 5}, 2 for {3, 4}.
int sub_state_class(int sub_state);

// Whether b is a or its twin.
inline bool same_class(int a, int b) { return b == a || b == twin(a); }

// Twin symmetry.  The starting weights, every emission row and every entry
// of a transition matrix depend on a sub-state only through its class, and
// each is written from one double for both twins.  So the two states of a
// twin pair ((L, a) and (L, 7 - a)) have identical rows and identical
// columns in every matrix, and by induction the forward weights of the two
// are the same bits at every step: their sums take the same products in the
// same order.  A forward recursion may keep one state of each pair, the
// folded state (L, class), and still add its rows in the full order 1..6p,
// each row read from its folded state.
inline int folded_state_count(int p) { return (sub_state_count / 2) * p; }

// The folded state (0..3p - 1) that state s (1..6p) reads and writes:
// 3(L - 1) + class.
inline int folded_state(int state) {
  return (sub_state_count / 2) * (level_of_state(state) - 1) +
         sub_state_class(sub_state_of_state(state));
}

// The state (1..6p) standing for folded state h: sub-state class + 1, the
// smaller of the pair.
inline int state_of_folded(int folded) {
  return state_number(folded / (sub_state_count / 2) + 1, folded % (sub_state_count / 2) + 1);
}

// Every observation starts in the class of this sub-state, in it or its
// twin with equal weight.
inline constexpr int starting_sub_state = 1;

// Where N events from level K end: level ((K - 1 + N) mod p) + 1, after
// floor((K - 1 + N) / p) wraps.
struct LevelChange {
  int level;
  std::int64_t wraps;
};
LevelChange level_after_events(int level, std::int64_t events, int p);

// Fills weights (states 1..6p) with the starting distribution: 1/(2p) on
// the starting sub-state and its twin at every level, 0 elsewhere.
void fill_initial_weights(DoubleVector weights, int p);
