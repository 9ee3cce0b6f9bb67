// One run of the fitting program, from the first prompt to the last line of
// the results file:
//   load the observations; ask for the model order p and the initial
//   estimate; build the starting simplex around the estimate; minimise the
//   negative log-likelihood with the downhill simplex; report the last row
//   of the final simplex (row n+1) with every parameter divided by 2p, the
//   interval lengths, and their sum; append the summary to etest.txt; then
//   estimate the standard errors around that row.
// Stored parameters stay unscaled; only what is printed or appended is
// divided by 2p (formed as an int, then converted).
#pragma once

#include "optimise/objective_function.hpp"

// Runs the whole dialogue and returns the exit status of a complete run (0).
// Every failure ends the process itself with status 1.
int fitting_run();

// The same run on another objective, for the step-by-step whole run and the
// metered benchmark runs: the vertices and the minimiser evaluate
// `objective`, and the run ends with `standard_error_step`, which must
// difference the same objective (standard_errors_for it).  fitting_run() is
// this with negative_log_likelihood and standard_errors.
int fitting_run_on(ObjectiveFunction objective, void (*standard_error_step)());
