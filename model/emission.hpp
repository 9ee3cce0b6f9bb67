// How an observation's code for an interval is scored against the latent
// sub-state the interval ends in.
//
// Each code byte, taken as an unsigned byte, selects a code row; the row
// gives one factor per sub-state, the same at every level:
//
//   byte               row   sub-state 1   2    3  4    5    6
//   R                   0              0   1    0  0    1    0   only class {2, 5}
//   N                   1              1   0    1  1    0    1   only {1, 6} and {3, 4}
//   X                   2              1   0.5  1  1    0.5  1   {2, 5} by one half
//   any other byte      3              1   1    1  1    1    1   no information
//
// Lower-case n, r and x are other bytes: they carry no information.
//
// Misreads.  When each R or N reading is the other with probability e
// (0 <= e <= 1/2), an R is seen with probability 1 - e from class {2, 5}
// and e from the others, and an N the other way round: the R and N factors
// 0 and 1 become e and 1 - e.  X and the other bytes are unchanged.  At
// e = 0 the factors are the ones above, to the bit (1 - 0 is 1).  Where X
// codes are present this is an approximation: X is seen from {2, 5} at
// half the rate of the other classes, so the classes do not yield R or N
// readings equally often, and a misread of a reading that X would have
// hidden is not modelled apart.
#pragma once

#include "foundation/index_ranged_arrays.hpp"

// Code rows: the emission row of a code byte.
inline constexpr int code_row_count = 4;
inline constexpr int uninformative_code_row = 3;

// The emission row of one code byte: R -> 0, N -> 1, X -> 2, any other byte
// -> 3.
int code_row(unsigned char code);

// The factor of sub-state a (1..6) under a code row (0..3).
double emission_factor(int row, int sub_state);

// The factor of sub-state a under a code row when readings are misread
// with probability error_rate (see above).
double emission_factor(int row, int sub_state, double error_rate);

// Fills emission_table (code rows 0..3, states 1..6p) with the factor of
// each state's sub-state under each code row, readings misread with
// probability error_rate.
void fill_emission_table(DoubleMatrix emission_table, int p, double error_rate = 0.0);
