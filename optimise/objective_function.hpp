// The objective function type of the minimiser and of the finite-difference
// steps: a point of the parameter space goes in, as a double vector whose
// entries 1..n hold the n coordinates, and the objective's value comes out.
// An objective reads entries 1..n only and keeps no reference to its
// argument.  The routines here know nothing of what they minimise; the fit
// hands them the model's negative log-likelihood.
#pragma once

#include "foundation/index_ranged_arrays.hpp"

using ObjectiveFunction = double (*)(DoubleVector point);

// Whether a routine that evaluates an objective at many independent points
// may evaluate them on several threads at once: only for an objective that
// may be called concurrently (the model's, which keeps its working storage
// per thread, is one).  The results are the same bits either way.
enum class Evaluation { sequential, concurrent };
