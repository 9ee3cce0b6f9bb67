// interval-fit-metered: interval-fit itself, the same `likelihood` library
// and driver, with the linker sending the driver's and the standard errors'
// calls of negative_log_likelihood through the wrapper below (--wrap on the
// function's mangled name, see bench/CMakeLists.txt).
#include "bench/objective_meter.hpp"
#include "model/likelihood_work.hpp"

// The linker's names for the wrapper and for the wrapped definition.  Should
// the function's signature change, __real_ names no function any more and
// the link fails rather than counting nothing.
double metered_negative_log_likelihood(DoubleVector point)
    __asm__("__wrap__Z23negative_log_likelihood12RangedVectorIdE");
double fast_negative_log_likelihood(DoubleVector point)
    __asm__("__real__Z23negative_log_likelihood12RangedVectorIdE");

double metered_negative_log_likelihood(DoubleVector point) {
  const double value = metered_call(fast_negative_log_likelihood, point);
  add_multiply_adds(last_likelihood_work().multiply_adds);
  note_cache_bytes(last_likelihood_work().cache_bytes);
  return value;
}
