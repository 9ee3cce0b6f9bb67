// Counting and timing the objective calls of one whole run, for the
// whole-run benchmark (bench/whole_run.sh).  The metered programs run the
// program's own driver (fitting_run_on) on a counting objective that passes
// every call through metered_call; what they print on standard output and
// append to etest.txt is untouched.  At exit they write on standard error
//   objective_calls N
//   objective_seconds S    (wall time spent inside the objective)
//   objective_cpu_seconds C (processor time spent there)
//   multiply_adds M        (forward-step products, where the objective counts them)
// With INTERVAL_METER_LIMIT=K (K >= 1) in the environment the run is cut
// short after K calls, which is how the script samples the cost of one
// step-by-step evaluation on a data set whose whole reference run would
// take hours.
#pragma once

#include "foundation/index_ranged_arrays.hpp"
#include "optimise/objective_function.hpp"

// Calls objective(point) and adds the call and its duration to the tally.
double metered_call(ObjectiveFunction objective, DoubleVector point);

// Adds the products formed by the call just made.
void add_multiply_adds(long long multiply_adds);
