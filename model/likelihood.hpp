// The objective of the fit: the negative log-likelihood of the observation
// table under the latent-state model of order `model_order`, as a function
// of the n interval parameters.
#pragma once

#include <limits>

#include "foundation/index_ranged_arrays.hpp"

// The one NaN an objective returns whenever its value is not a number.
// Which NaN a sum of NaNs carries depends on the order in which the
// hardware saw the operands, which no faster evaluation can promise to
// repeat; so every evaluation hands back this one: the quiet NaN with the
// sign bit set, the one x86 arithmetic makes, so that the log-likelihood
// the run prints (minus the objective) reads "nan".
inline const double objective_not_a_number = -std::numeric_limits<double>::quiet_NaN();

// Reads the process-wide observation table, its sizes and the model order;
// point entries 1..n are the interval parameters.  Returns the sum, over the
// observations in table order, of -log of each observation's likelihood.
double negative_log_likelihood(DoubleVector point);

// The same at model order p instead of the process-wide one.  Each thread
// keeps its own working storage, so evaluations (of one order or of
// several) may run on several threads at once, while the table stays put.
double negative_log_likelihood_of_order(int p, DoubleVector point);
