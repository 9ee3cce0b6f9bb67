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

// same_weights[m] = W_same(m) and cross_weights[m] = W_cross(m) for
// m = 0..wrap_limit(p).
void fill_wrap_weights(int p, DoubleVector same_weights, DoubleVector cross_weights);
