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

// Escape.  A share q of the class moves may come from a second process,
// independent of the counting, whose every event moves the class without
// touching the level: J ~ Poisson(mu) escape moves in an interval with mu
// expected.  Only the total number of moves m + J decides the class
// weights, and W_same(m + J) = ((-1/2)^m (-1/2)^J + 1/2) / 3, so averaging
// over J needs E[(-1/2)^J].  The generating function of the Poisson law,
//   E[s^J] = sum_j e^-mu mu^j s^j / j! = e^-mu e^(s mu) = e^(mu (s - 1)),
// at s = -1/2 gives the escape factor
//   E[(-1/2)^J] = exp(-1.5 mu),
// so that, with f = exp(-1.5 mu),
//   W_same(m; f)  = ((-1/2)^m f + 1/2) / 3
//   W_cross(m; f) = (1 - (-1/2)^m f) 2/3
// and their rates of change with mu, df/dmu = -1.5 f:
//   dW_same/dmu  = -1.5 (-1/2)^m f / 3
//   dW_cross/dmu = +1.5 (-1/2)^m f 2/3.
// With mu = 0 the factor is exactly 1.0 and the weights are W_same(m) and
// W_cross(m) to the bit.

// exp(-1.5 mu): the mean of (-1/2)^J over J ~ Poisson(mu).
double escape_factor(double mu);

// The wrap weights after m wraps of an interval whose escape factor is f.
double W_same(int m, double factor);
double W_cross(int m, double factor);

// Their derivatives with respect to the expected escape moves mu.
double W_same_escape_slope(int m, double factor);
double W_cross_escape_slope(int m, double factor);

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
