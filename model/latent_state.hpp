// The latent-state model of order p, the pieces shared by every way of
// evaluating its likelihood.
//
// A latent state is a level L (1..p) and a sub-state a (1..6), numbered
// 6(L - 1) + a, so states run 1..6p.  Every event moves the level up by one;
// the event that takes it from p back to 1 is a wrap, so N events taking the
// level from K to L contain m wraps with N = (L - K) + p m.  The sub-states
// form three classes of twins, {1, 6}, {2, 5} and {3, 4} (the twin of a is
// 7 - a).  Every wrap moves the class to one of the two others with equal
// probability, and within a class the weight is split equally between twins.
// After m wraps the starting sub-state and its twin each hold W_same(m) and
// the four sub-states of the other classes share W_cross(m):
//
//   W_same(m)  = ((-1/2)^m + 1/2) / 3
//   W_cross(m) = (1 - (-1/2)^m) 2/3            2 W_same(m) + W_cross(m) = 1
//
// Each interval's transition matrix mixes these weights with the Poisson
// probabilities of the event counts, summed up to a wrap limit.  After the
// transition through an interval, the observation's code for that interval
// is scored against the sub-state by an emission factor.
#pragma once

#include "foundation/index_ranged_arrays.hpp"

// Sub-states per level.
inline constexpr int sub_state_count = 6;
// Code rows: the emission row of a code byte.
inline constexpr int code_row_count = 4;
inline constexpr int uninformative_code_row = 3;

// The emission row of one code byte: R -> 0, N -> 1, X -> 2, any other byte
// (lower case included) -> 3.
int code_row(unsigned char code);

// The largest wrap count summed for a model of order p.
int wrap_limit(int p);

// The largest event count any transition entry uses: (p - 1) + p T.
int largest_event_count(int p);

// The wrap weights above, with 1/3 and 2/3 as the nearest doubles,
// multiplied.
double W_same(int m);
double W_cross(int m);

// Fills emission_table (code rows 0..3, states 1..6p) with the factor of
// each state's sub-state under each code row, the same for every level.
void fill_emission_table(DoubleMatrix emission_table, int p);

// Fills weights (states 1..6p) with the starting distribution: 1/(2p) at
// sub-states 1 and 6 of every level, 0 elsewhere.
void fill_initial_weights(DoubleVector weights, int p);

// Fills the 6p x 6p transition matrix of one interval (rows the from-state,
// columns the to-state, both 1..6p) from that interval's offset sums
// (columns 1..2p-1; column c stands for the level change c - p).  From
// (K, a) to (L, b) with c = p + L - K the entry is same_sums[c] when b is a
// or its twin, and cross_sums[c] / 4 otherwise.
void build_transition_matrix(DoubleVector same_sums, DoubleVector cross_sums, int p,
                             DoubleMatrix transition);
