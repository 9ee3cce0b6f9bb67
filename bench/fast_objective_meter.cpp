// interval-fit-metered: the run of interval-fit (the same driver, minimiser,
// standard errors and `likelihood` library) with every evaluation passed
// through a counting objective.
#include <new>

#include "bench/objective_meter.hpp"
#include "driver/console_output.hpp"
#include "driver/fitting_run.hpp"
#include "foundation/fatal_error.hpp"
#include "model/likelihood.hpp"
#include "model/likelihood_work.hpp"
#include "optimise/standard_errors.hpp"

namespace {

double metered_negative_log_likelihood(DoubleVector point) {
  const double value = metered_call(negative_log_likelihood, point);
  add_multiply_adds(last_likelihood_work().multiply_adds);
  return value;
}

}  // namespace

int main() {
  keep_standard_descriptors_open();
  std::set_new_handler([] { fatal_numeric_error("allocation failure in operator new"); });
  return fitting_run_on(metered_negative_log_likelihood,
                        [] { standard_errors_for(metered_negative_log_likelihood); });
}
