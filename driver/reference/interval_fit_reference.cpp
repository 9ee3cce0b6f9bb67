// interval-fit-reference: the whole run of interval-fit (the same driver,
// minimiser and standard errors) on the step-by-step evaluation.  Whatever
// the fast program prints or appends, this one must print and append byte
// for byte; it only takes far longer to get there.
#include <new>

#include "driver/console_output.hpp"
#include "driver/fitting_run.hpp"
#include "foundation/fatal_error.hpp"
#include "model/reference/straightforward_likelihood.hpp"
#include "optimise/standard_errors.hpp"

int main() {
  keep_standard_descriptors_open();
  // As in interval-fit: a refused operator new ends the run like any other
  // refused memory request.
  std::set_new_handler([] { fatal_numeric_error("allocation failure in operator new"); });
  return fitting_run_on(straightforward_negative_log_likelihood,
                        [] { standard_errors_for(straightforward_negative_log_likelihood); });
}
