// The objective function type: a point of the parameter space goes in, as a
// double vector whose entries 1..n hold the n interval parameters, and the
// objective's value comes out.  An objective reads entries 1..n only and
// keeps no reference to its argument.
#pragma once

#include "foundation/index_ranged_arrays.hpp"

using ObjectiveFunction = double (*)(DoubleVector point);
