// One interval's transition matrix: from every latent state at the start of
// the interval to every state at its end, given lambda, the interval's
// expected number of events.
//
// Offset sums.  A level change d = L - K (from -(p - 1) to p - 1) is stored
// in column c = p + d (1..2p - 1).  N = d + p m events make that change with
// m wraps, so, with P(lambda, N) the Poisson probability and the wrap
// weights of model/wrap_weights.hpp,
//
//   same_sums[c]  = sum_{m = m0..T} P(lambda, d + p m) W_same(m)
//   cross_sums[c] = sum_{m = m0..T} P(lambda, d + p m) W_cross(m)
//
// added from 0.0 in ascending m.  The first wrap count m0 is 1 for a
// downward change (c < p), where no wrap would mean a negative count, and 0
// otherwise; T is the wrap limit, the model's truncation.
//
// Transition matrix.  From (K, a) to (L, b), with c = p + L - K, the entry
// is same_sums[c] when b is a or its twin, and cross_sums[c] / 4 otherwise
// (the four sub-states of the other classes share the cross weight).  A row
// from level K includes each event count 0..p(T + 1) - K exactly once, so it
// sums to the Poisson mass of those counts.
#pragma once

#include "foundation/index_ranged_arrays.hpp"

// The offset column of a change from level K to level L: c = p + L - K.
inline int offset_column(int from_level, int to_level, int p) { return p + to_level - from_level; }

// The first wrap count summed in offset column c.
inline int first_wrap_count(int c, int p) { return c < p ? 1 : 0; }

// terms[N] = poisson_term(lambda, N) for N = 0..largest_event_count(p): the
// Poisson probability of every event count an interval's sums use.
void fill_poisson_terms(double lambda, int p, DoubleVector terms);

// same_sums[c] and cross_sums[c], c = 1..2p - 1, of one interval from its
// Poisson terms (above) and the wrap weights of fill_wrap_weights.
void fill_offset_sums(DoubleVector terms, DoubleVector same_weights, DoubleVector cross_weights,
                      int p, DoubleVector same_sums, DoubleVector cross_sums);

// Fills the 6p x 6p transition matrix of one interval (rows the from-state,
// columns the to-state, both 1..6p) from that interval's offset sums.
void build_transition_matrix(DoubleVector same_sums, DoubleVector cross_sums, int p,
                             DoubleMatrix transition);
