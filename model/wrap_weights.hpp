// Where the class of the latent state stands after m wraps, and how many
// wraps the model counts at all.
//
// Every wrap moves the class to one of the two others with equal
// probability, so the excess of the starting class over the even share 1/3
// changes sign and halves at each wrap.  After m wraps the starting sub-state
// and its twin each hold W_same(m), and the four sub-states of the other two
// classes share W_cross(m):
//
//   W_same(m)  = ((-1/2)^m + 1/2) / 3
//   W_cross(m) = (1 - (-1/2)^m) 2/3            2 W_same(m) + W_cross(m) = 1
//
// with 1/3 and 2/3 taken as the nearest doubles and multiplied, never
// divided.  First values: m = 0: 0.5 and 0; 1: 0 and 1; 2: 0.25 and 0.5.
//
// Truncation: the sums over wrap counts stop at the wrap limit T, chosen by
// the model order (18, 12 and 10 for p = 1, 2, 3; 8 above), so an interval's
// transitions use event counts up to (p - 1) + p T and drop the Poisson mass
// beyond.
#pragma once

#include "foundation/index_ranged_arrays.hpp"

// T: the largest wrap count summed for a model of order p.
int wrap_limit(int p);

// The largest event count any transition entry uses: (p - 1) + p T.
int largest_event_count(int p);

double W_same(int m);
double W_cross(int m);

// same_weights[m] = W_same(m) and cross_weights[m] = W_cross(m) for
// m = 0..wrap_limit(p).
void fill_wrap_weights(int p, DoubleVector same_weights, DoubleVector cross_weights);
