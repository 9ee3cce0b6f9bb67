// interval-fit-reference-metered: interval-fit-reference with its objective
// calls counted and timed.
#include <new>

#include "bench/objective_meter.hpp"
#include "driver/console_output.hpp"
#include "driver/fitting_run.hpp"
#include "foundation/fatal_error.hpp"
#include "model/reference/straightforward_likelihood.hpp"
#include "optimise/standard_errors.hpp"

namespace {

double metered_straightforward_likelihood(DoubleVector point) {
  return metered_call(straightforward_negative_log_likelihood, point);
}

}  // namespace

int main() {
  keep_standard_descriptors_open();
  std::set_new_handler([] { fatal_numeric_error("allocation failure in operator new"); });
  return fitting_run_on(metered_straightforward_likelihood,
                        [] { standard_errors_for(metered_straightforward_likelihood); });
}
