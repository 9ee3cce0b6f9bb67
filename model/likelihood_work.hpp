// How much work the last evaluation of negative_log_likelihood did: for
// benchmarks and tests that check the prefix sharing, not for the fit.
#pragma once

struct LikelihoodWork {
  long long distinct_rows = 0;  // distinct code rows of the table
  long long forward_steps = 0;  // distinct prefixes: one forward step each
  long long multiply_adds = 0;  // products current[l] T[l][k] actually formed
};

LikelihoodWork last_likelihood_work();
