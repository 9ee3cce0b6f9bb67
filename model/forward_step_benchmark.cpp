// The forward step's speed in useful multiply-adds per cycle, against the
// machine's peak without fused multiply-add.
//
//   build/release/bench/forward_step_benchmark
//
// Time is the thread's processor time, so that a shared machine's other
// work does not count; cycles are that time at the time-stamp counter's
// rate (the nominal clock) on x86, and nanoseconds elsewhere, where the
// figures read as multiply-adds per nanosecond.  The peak is measured,
// not looked up: eight independent accumulators of eight doubles each,
// every step a multiply then an add, the same operations the step does.
// "useful" counts the products the step actually forms: the rows it sums
// times the 3p folded states (not the padding).  The step-by-step recursion
// forms twice as many for the same sums, over all 6p states (a state and
// its twin give the same bits, model/latent_state.hpp); its rate is
// reported as well, as recursion_madd_per_cycle.
//
// BM_ForwardStep/p runs forward_step alone on full batches of one code
// through one interval's matrix, all rows used: the kernel's own rate.
// BM_Evaluation/p evaluates a simulated table of 2000 rows and 18 intervals
// from scratch (every interval changed) with one thread: the rate of a
// whole evaluation, batching, emission factors and leaves included.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <random>
#include <vector>

#include "model/forward_step.hpp"
#include "model/latent_state.hpp"
#include "model/likelihood.hpp"
#include "model/likelihood_work.hpp"
#include "model/observations.hpp"
#include "model/simulated_table.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <x86intrin.h>
#define INTERVAL_HAVE_TSC 1
#endif

namespace {

// Processor time of this thread, in nanoseconds.
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

// Processor time in cycles of the nominal clock.
double cycles() { return thread_nanoseconds() * ticks_per_nanosecond(); }

// The step forms the products over the folded states; the recursion would
// form them over all the states, twice as many.
constexpr double recursion_products_per_folded = 2.0;

void report(benchmark::State& state, double multiply_adds, double elapsed) {
  state.counters["madd_per_cycle"] = multiply_adds / elapsed;
  state.counters["multiply_adds"] = multiply_adds / static_cast<double>(state.iterations());
}

void report_step(benchmark::State& state, double multiply_adds, double elapsed) {
  report(state, multiply_adds, elapsed);
  state.counters["recursion_madd_per_cycle"] =
      recursion_products_per_folded * multiply_adds / elapsed;
}

// Eight accumulators of eight lanes, each lane a chain of its own: the
// widest register file the step uses, kept full.
constexpr int peak_accumulators = 8;
constexpr int peak_lanes = 8;
constexpr int peak_steps = 4096;

// Only on x86 with GCC or clang: the peak is that of AVX-512 registers.
#ifdef INTERVAL_HAVE_TSC
__attribute__((target("avx512f"))) double peak_chains(const double* weights) {
  typedef double Lanes __attribute__((vector_size(sizeof(double) * peak_lanes)));
  Lanes sums[peak_accumulators] = {};
  Lanes entries = {0.5, 0.25, 0.125, 1.0, 2.0, 0.75, 1.5, 0.3};
  double weight[peak_accumulators];
  for (int a = 0; a < peak_accumulators; ++a) weight[a] = weights[a];
  for (int step = 0; step < peak_steps; ++step) {
    // Eight different products each step, each added to its own chain; the
    // empty statement makes the entries unknown each step without moving
    // anything out of the registers.
    __asm__ volatile("" : "+v"(entries));
    for (int a = 0; a < peak_accumulators; ++a) sums[a] = sums[a] + weight[a] * entries;
  }
  double total = 0.0;
  for (int a = 0; a < peak_accumulators; ++a) {
    for (int k = 0; k < peak_lanes; ++k) total += sums[a][k];
  }
  return total;
}
#endif

void BM_Peak(benchmark::State& state) {
#ifdef INTERVAL_HAVE_TSC
  if (!__builtin_cpu_supports("avx512f")) {
    state.SkipWithError("the peak is measured with AVX-512, which this processor lacks");
    return;
  }
  const double peak_weights[peak_accumulators] = {1e-9, 2e-9, 3e-9, 4e-9, 5e-9, 6e-9, 7e-9, 8e-9};
  double elapsed = 0.0;
  double multiply_adds = 0.0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    const double start = cycles();
    benchmark::DoNotOptimize(peak_chains(peak_weights));
    elapsed += cycles() - start;
    multiply_adds += double{peak_accumulators} * peak_lanes * peak_steps;
  }
  report(state, multiply_adds, elapsed);
#else
  state.SkipWithError("the peak is measured with AVX-512 on x86 only");
#endif
}

void BM_ForwardStep(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0));
  const int states = sub_state_count * p;
  const int folded = folded_state_count(p);
  const int width = (folded + lane_width - 1) / lane_width * lane_width;
  const int batch = forward_step_batch_limit(width);
  const auto at = [](int index, int stride) {
    return static_cast<std::size_t>(index) * static_cast<std::size_t>(stride);
  };
  std::mt19937_64 random(static_cast<std::uint64_t>(p));
  std::uniform_real_distribution<double> entry(0.01, 0.1);
  std::vector<double> transition(at(folded, width), 0.0);
  for (int l = 0; l < folded; ++l) {
    for (int k = 0; k < folded; ++k)
      transition[at(l, width) + static_cast<std::size_t>(k)] = entry(random);
  }
  std::vector<unsigned char> finite(static_cast<std::size_t>(folded), 1);
  // Every state's row, in order, each read from its folded state.
  std::vector<int> state_rows(static_cast<std::size_t>(states));
  for (int l = 0; l < states; ++l) state_rows[static_cast<std::size_t>(l)] = folded_state(l + 1);
  std::vector<double> factors(static_cast<std::size_t>(width), 1.0);
  std::vector<double> parents(at(batch, width));
  for (double& x : parents) x = entry(random);
  std::vector<double> sums(at(batch, width));
  std::vector<double> weights(at(batch, width));
  std::vector<int> rows(static_cast<std::size_t>(states));
  // Each vector of the batch has a parent of its own.
  std::vector<std::size_t> parent_of(static_cast<std::size_t>(batch));
  for (int b = 0; b < batch; ++b)
    parent_of[static_cast<std::size_t>(b)] = static_cast<std::size_t>(b);
  const ForwardBatch vectors{parents.data(), parent_of.data(), 0, batch, factors.data()};
  const FoldedMatrix matrix{transition.data(),
                            finite.data(),
                            state_rows.data(),
                            states,
                            state_rows.data(),
                            states,
                            width};
  constexpr int repeats = 64;
  double elapsed = 0.0;
  double multiply_adds = 0.0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    const double start = cycles();
    for (int r = 0; r < repeats; ++r) {
      const int used = forward_step(vectors, matrix, weights.data(), rows.data(), sums.data());
      benchmark::DoNotOptimize(sums.data());
      multiply_adds += double{1} * batch * used * folded;
    }
    elapsed += cycles() - start;
  }
  report_step(state, multiply_adds, elapsed);
  state.SetLabel(forward_step_target());
}

void BM_Evaluation(benchmark::State& state) {
  const int p = static_cast<int>(state.range(0));
  constexpr int n = 18;
  const SimulatedTable table(DataSet{n, p, 2000, 2024u + static_cast<std::uint64_t>(p)});
  set_likelihood_part_count(1);
  std::vector<double> values(n + 1, 0.0);
  const DoubleVector point{values.data() + 1, 1, n};
  double elapsed = 0.0;
  double multiply_adds = 0.0;
  int flip = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    // A new first parameter each time: the whole tree is recomputed.
    for (int t = 1; t <= n; ++t) values[static_cast<std::size_t>(t)] = table.point()[t];
    values[1] += (flip ^= 1) != 0 ? 1e-6 : 0.0;
    const double start = cycles();
    benchmark::DoNotOptimize(negative_log_likelihood(point));
    elapsed += cycles() - start;
    multiply_adds += static_cast<double>(last_likelihood_work().multiply_adds);
  }
  report_step(state, multiply_adds, elapsed);
  set_likelihood_part_count(0);
}

BENCHMARK(BM_Peak);
BENCHMARK(BM_ForwardStep)->DenseRange(1, 12)->Arg(20)->Arg(50)->Arg(100);
BENCHMARK(BM_Evaluation)->DenseRange(1, 12)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
