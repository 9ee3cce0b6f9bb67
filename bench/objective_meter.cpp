#include "bench/objective_meter.hpp"

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// The environment variable that ends the run after that many calls.
constexpr const char* call_limit_variable = "INTERVAL_METER_LIMIT";

struct Tally {
  long long calls = 0;
  long long multiply_adds = 0;
  std::chrono::steady_clock::duration inside{};
  double inside_processor = 0.0;  // seconds of this process's processor time
  long long limit = 0;            // 0: no limit

  Tally() {
    const char* text = std::getenv(call_limit_variable);
    if (text != nullptr) limit = std::atoll(text);
  }

  void report() const {
    std::fprintf(stderr, "objective_calls %lld\n", calls);
    std::fprintf(stderr, "objective_seconds %.6f\n", std::chrono::duration<double>(inside).count());
    std::fprintf(stderr, "objective_cpu_seconds %.6f\n", inside_processor);
    std::fprintf(stderr, "multiply_adds %lld\n", multiply_adds);
  }

  // Written when the run ends by returning from main or through exit(),
  // the fatal exit included.
  ~Tally() { report(); }
};

Tally tally;

double processor_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

double metered_call(ObjectiveFunction objective, DoubleVector point) {
  const auto start = std::chrono::steady_clock::now();
  const double processor_start = processor_seconds();
  const double value = objective(point);
  tally.inside_processor += processor_seconds() - processor_start;
  tally.inside += std::chrono::steady_clock::now() - start;
  ++tally.calls;
  if (tally.limit > 0 && tally.calls >= tally.limit) {
    // Nothing after this call is wanted: the sample is complete.
    std::fflush(stdout);
    tally.report();
    std::_Exit(0);
  }
  return value;
}

void add_multiply_adds(long long multiply_adds) { tally.multiply_adds += multiply_adds; }
