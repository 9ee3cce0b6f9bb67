// The objective of the fit: the negative log-likelihood of the observation
// table under the latent-state model of order `model_order`, as a function
// of the n interval parameters.
#pragma once

#include "foundation/index_ranged_arrays.hpp"

// Reads the process-wide observation table, its sizes and the model order;
// point entries 1..n are the interval parameters.  Returns the sum, over the
// observations in table order, of -log of each observation's likelihood.
double negative_log_likelihood(DoubleVector point);
