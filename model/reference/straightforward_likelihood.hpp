// The likelihood objective evaluated the plain way, step by step: per-call
// working arrays, and for every observation its own offset sums and its own
// n transition matrices, then the forward recursion one state at a time.  It
// is slow on purpose: it is the judge that every faster evaluation must match
// bit for bit.  It takes the model's rules (states, emission, wrap weights,
// offset sums, transition matrix) from model/, where the fast evaluation
// takes them too, and shares nothing of the fast evaluation's strategy.
#pragma once

#include "foundation/index_ranged_arrays.hpp"

// Same contract as negative_log_likelihood: reads observation_count,
// interval_count, observations and model_order; point entries 1..n.
double straightforward_negative_log_likelihood(DoubleVector point);
