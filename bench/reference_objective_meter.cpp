// interval-fit-reference-metered: interval-fit-reference with its objective
// calls counted and timed.
#include "bench/objective_meter.hpp"
#include "model/likelihood.hpp"
#include "tests/reference/straightforward_likelihood.hpp"

double negative_log_likelihood(DoubleVector point) {
  return metered_call(straightforward_negative_log_likelihood, point);
}
