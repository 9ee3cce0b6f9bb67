// The gradient's speed in useful multiply-adds per cycle, to be read beside
// the forward step's (model/forward_step_benchmark.cpp, whose BM_Peak is the
// machine's measured peak):
//
//   build/release/bench/likelihood_gradient_benchmark
//
// BM_GradientEvaluation/p evaluates the value and gradient of a simulated
// table of 2000 rows and 18 intervals (the forward step's BM_Evaluation
// table) with the rows in one part on one thread.  Time is the thread's
// processor time in cycles of the nominal clock (nanoseconds off x86).
// "useful" counts the multiply-adds of the class recursion itself: per
// forward step 4p^2 (three classes and the spread, over every pair of
// levels), per backward step 8p^2 (the adjoints and the step back); both
// run once per distinct prefix (node of the prefix tree).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <limits>
#include <vector>

#include "model/likelihood_gradient.hpp"
#include "model/observations.hpp"
#include "model/simulated_table.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <x86intrin.h>
#define INTERVAL_HAVE_TSC 1
#endif

namespace {

double thread_nanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Time-stamp counter ticks per nanosecond, measured once against the
// steady clock; 1 where there is no such counter.
double ticks_per_nanosecond() {
#ifdef INTERVAL_HAVE_TSC
  static const double rate = [] {
    const auto start = std::chrono::steady_clock::now();
    const std::uint64_t first = __rdtsc();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(200)) {
    }
    const std::uint64_t last = __rdtsc();
    const double nanoseconds =
        static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count());
    return static_cast<double>(last - first) / nanoseconds;
  }();
  return rate;
#else
  return 1.0;
#endif
}

double cycles() { return thread_nanoseconds() * ticks_per_nanosecond(); }

// Useful multiply-adds of one evaluation of the installed table at order p.
double useful_multiply_adds(int p) {
  const int count = observation_count;
  const int n = interval_count;
  const std::vector<unsigned char> codes = code_row_matrix();
  const std::vector<int> order = lexicographic_order(codes, count, n);
  double forward_steps = 0.0;
  for (std::size_t r = 0; r < order.size(); ++r) {
    int shared = 0;
    if (r > 0) {
      const auto stride = static_cast<std::size_t>(n);
      const unsigned char* a = codes.data() + static_cast<std::size_t>(order[r - 1]) * stride;
      const unsigned char* b = codes.data() + static_cast<std::size_t>(order[r]) * stride;
      while (shared < n && a[shared] == b[shared]) ++shared;
      if (shared == n) continue;
    }
    forward_steps += n - shared;
  }
  const double pairs = double{1} * p * p;
  return 12.0 * pairs * forward_steps;
}

void BM_GradientEvaluation(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0));
  constexpr int n = 18;
  const SimulatedTable table(DataSet{n, p, 2000, 2024u + static_cast<std::uint64_t>(p)});
  set_gradient_part_work(std::numeric_limits<long long>::max());
  std::vector<double> point(static_cast<std::size_t>(n));
  for (int t = 1; t <= n; ++t) point[static_cast<std::size_t>(t - 1)] = table.point()[t];
  std::vector<double> gradient;
  const double per_evaluation = useful_multiply_adds(p);
  double elapsed = 0.0;
  double multiply_adds = 0.0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    const double start = cycles();
    benchmark::DoNotOptimize(negative_log_likelihood_and_gradient(p, point, gradient));
    elapsed += cycles() - start;
    multiply_adds += per_evaluation;
  }
  state.counters["madd_per_cycle"] = multiply_adds / elapsed;
  state.counters["multiply_adds"] = per_evaluation;
  set_gradient_part_work(default_gradient_part_work);
}

// The same evaluation with the rows in their usual parts on every worker
// thread: wall time, for the gain of the threads over BM_GradientEvaluation.
void BM_GradientEvaluationOnAllThreads(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0));
  constexpr int n = 18;
  const SimulatedTable table(DataSet{n, p, 2000, 2024u + static_cast<std::uint64_t>(p)});
  std::vector<double> point(static_cast<std::size_t>(n));
  for (int t = 1; t <= n; ++t) point[static_cast<std::size_t>(t - 1)] = table.point()[t];
  std::vector<double> gradient;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(negative_log_likelihood_and_gradient(p, point, gradient));
  }
}

BENCHMARK(BM_GradientEvaluation)->Arg(3)->Arg(5)->Arg(8)->Arg(12)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GradientEvaluationOnAllThreads)
    ->Arg(3)
    ->Arg(12)
    ->Arg(40)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
