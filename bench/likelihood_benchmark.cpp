// The objective alone, step by step against fast, on tables simulated from
// the model itself (bench/simulated_table.hpp).
//
//   build/release/bench/likelihood_benchmark
#include <benchmark/benchmark.h>

#include "model/likelihood.hpp"
#include "model/likelihood_work.hpp"
#include "model/reference/straightforward_likelihood.hpp"
#include "model/simulated_table.hpp"

namespace {

// Shapes of the whole-run benchmark's three sets, each table drawn with its
// own seed.
constexpr DataSet data_sets[] = {{8, 2, 500, 8}, {18, 3, 2000, 18}, {40, 5, 5000, 40}};

void report_work(benchmark::State& state) {
  const LikelihoodWork work = last_likelihood_work();
  state.counters["distinct_rows"] = static_cast<double>(work.distinct_rows);
  state.counters["forward_steps"] = static_cast<double>(work.forward_steps);
  state.counters["multiply_adds"] = static_cast<double>(work.multiply_adds);
  state.counters["ns_per_multiply_add"] = benchmark::Counter(
      static_cast<double>(work.multiply_adds) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Straightforward(benchmark::State& state) {
  const SimulatedTable table(data_sets[state.range(0)]);
  // The loop variable only counts the iterations.
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(straightforward_negative_log_likelihood(table.point()));
  }
  const DataSet& set = data_sets[state.range(0)];
  // Every observation runs its own n steps over all 6p x 6p entries.
  state.counters["multiply_adds"] = 36.0 * set.p * set.p * set.n * set.count;
}

void BM_Fast(benchmark::State& state) {
  const SimulatedTable table(data_sets[state.range(0)]);
  // The first call builds the prefix tree; the fit then reuses it.
  benchmark::DoNotOptimize(negative_log_likelihood(table.point()));
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(negative_log_likelihood(table.point()));
  }
  report_work(state);
}

void data_set_arguments(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgName("set")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Straightforward)
    ->Apply(data_set_arguments)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(false);
BENCHMARK(BM_Fast)->Apply(data_set_arguments);

}  // namespace

BENCHMARK_MAIN();
