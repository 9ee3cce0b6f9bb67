// The objective of interval-fit-reference: the whole run of interval-fit
// (the same driver, minimiser and standard errors) on the step-by-step
// evaluation.  Whatever the fast program prints or appends, this one must
// print and append byte for byte; it only takes far longer to get there.
#include "foundation/index_ranged_arrays.hpp"
#include "model/likelihood.hpp"
#include "tests/reference/straightforward_likelihood.hpp"

double negative_log_likelihood(DoubleVector point) {
  return straightforward_negative_log_likelihood(point);
}
