// The curvature step of the standard errors on the fast objective: the
// memoised build (n single moves and n(n-1)/2 pair moves, each evaluated
// once) against the literal one (three fresh evaluations for every ordered
// pair, 3n^2 in all), on tables simulated from the model.  Both must give
// the same matrix bit for bit; the run stops with an error if they do not.
//
//   build/release/bench/curvature_benchmark
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstring>

#include "foundation/index_ranged_arrays.hpp"
#include "model/likelihood.hpp"
#include "model/simulated_table.hpp"
#include "optimise/reference/literal_curvature.hpp"
#include "optimise/standard_errors.hpp"

namespace {

// The first two shapes of the whole-run benchmark; at n = 40 the literal
// build alone makes 4,800 evaluations, too many to repeat.
constexpr DataSet data_sets[] = {{8, 2, 500, 8}, {18, 3, 2000, 18}};

using CurvatureBuilder = void (*)(ObjectiveFunction, DoubleVector, double, int, DoubleMatrix);

bool same_bits(DoubleMatrix a, DoubleMatrix b, int n) {
  for (int i = 1; i <= n; ++i) {
    if (std::memcmp(&a[i][1], &b[i][1], sizeof(double) * static_cast<std::size_t>(n)) != 0) {
      return false;
    }
  }
  return true;
}

void time_builder(benchmark::State& state, CurvatureBuilder builder, double calls_per_build) {
  const DataSet& set = data_sets[state.range(0)];
  const SimulatedTable table(set);
  const int n = set.n;
  const double value = negative_log_likelihood(table.point());
  DoubleMatrix curvature = dmatrix(1, n, 1, n);
  DoubleMatrix literal = dmatrix(1, n, 1, n);
  build_curvature_literally(negative_log_likelihood, table.point(), value, n, literal);
  // The loop variable only counts the iterations.
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    builder(negative_log_likelihood, table.point(), value, n, curvature);
    benchmark::DoNotOptimize(curvature[1][1]);
  }
  if (!same_bits(curvature, literal, n)) state.SkipWithError("the matrices differ");
  state.counters["objective_calls"] = calls_per_build;
  release_dmatrix(literal, 1, n, 1, n);
  release_dmatrix(curvature, 1, n, 1, n);
}

void BM_MemoisedCurvature(benchmark::State& state) {
  const double n = data_sets[state.range(0)].n;
  time_builder(
      state,
      [](ObjectiveFunction f, DoubleVector x, double f0, int size, DoubleMatrix curvature) {
        build_curvature(f, x, f0, size, curvature);
      },
      n + n * (n - 1) / 2);
}

// The same points shared among the worker threads (INTERVAL_THREADS).
void BM_ConcurrentCurvature(benchmark::State& state) {
  const double n = data_sets[state.range(0)].n;
  time_builder(
      state,
      [](ObjectiveFunction f, DoubleVector x, double f0, int size, DoubleMatrix curvature) {
        build_curvature(f, x, f0, size, curvature, Evaluation::concurrent);
      },
      n + n * (n - 1) / 2);
}

void BM_LiteralCurvature(benchmark::State& state) {
  const double n = data_sets[state.range(0)].n;
  time_builder(state, build_curvature_literally, 3 * n * n);
}

void data_set_arguments(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgName("set")->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_MemoisedCurvature)->Apply(data_set_arguments);
BENCHMARK(BM_ConcurrentCurvature)->Apply(data_set_arguments)->UseRealTime();
BENCHMARK(BM_LiteralCurvature)->Apply(data_set_arguments);

}  // namespace

BENCHMARK_MAIN();
