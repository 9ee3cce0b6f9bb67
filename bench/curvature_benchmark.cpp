// The curvature step of the standard errors on the fast objective: the
// memoised build (n single moves and n(n-1)/2 pair moves, each evaluated
// once) against the literal one (three fresh evaluations for every ordered
// pair, 3n^2 in all), on tables simulated from the model.  Both must give
// the same matrix bit for bit; the run stops with an error if they do not.
//
//   build/release/bench/curvature_benchmark
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "foundation/index_ranged_arrays.hpp"
#include "model/likelihood.hpp"
#include "model/observations.hpp"
#include "model/simulation.hpp"
#include "optimise/standard_errors.hpp"
#include "tests/optimise/literal_curvature.hpp"

namespace {

// Rates of X codes and of no-information codes in the simulated tables.
constexpr double x_rate = 0.05;
constexpr double missing_rate = 0.02;

struct DataSet {
  int n;
  int p;
  int count;
  std::uint64_t seed;
};

// The first two shapes of the whole-run benchmark; at n = 40 the literal
// build alone makes 4,800 evaluations, too many to repeat.
constexpr DataSet data_sets[] = {{8, 2, 500, 8}, {18, 3, 2000, 18}};

// Interval lengths cycle through these, as the whole-run sets do.
constexpr double lengths[] = {0.21, 0.33, 0.18, 0.27, 0.35, 0.15, 0.24, 0.30, 0.19};

// Installs a simulated table for the set and fills the point with the
// generating parameters, lambda_t = 2p x length_t.
class SimulatedTable {
 public:
  explicit SimulatedTable(const DataSet& set)
      : set_(set), last_((set.n + 1) * set.count - 1), table_(cvector(0, last_)),
        point_(dvector(1, set.n)) {
    SimulationSettings settings;
    settings.order = set.p;
    settings.x_rate = x_rate;
    settings.missing_rate = missing_rate;
    for (int t = 1; t <= set.n; ++t) {
      point_[t] = 2.0 * set.p * lengths[static_cast<std::size_t>(t - 1) % std::size(lengths)];
      settings.rates.push_back(point_[t]);
    }
    const std::vector<char> codes = simulate_codes(settings, set.count, set.seed);
    for (int s = 0; s <= last_; ++s) table_[s] = ' ';
    for (std::size_t s = 0; s < codes.size(); ++s) {
      table_[static_cast<int>(s)] = static_cast<unsigned char>(codes[s]);
    }
    set_observations(table_, set.count, set.n);
    model_order = set.p;
    value_ = negative_log_likelihood(point_);
  }
  SimulatedTable(const SimulatedTable&) = delete;
  SimulatedTable& operator=(const SimulatedTable&) = delete;
  ~SimulatedTable() {
    set_observations(ObservationTable{}, 0, 0);
    release_dvector(point_, 1, set_.n);
    release_cvector(table_, 0, last_);
  }

  DoubleVector point() const { return point_; }
  double value() const { return value_; }

 private:
  DataSet set_;
  int last_;
  ObservationTable table_;
  DoubleVector point_;
  double value_ = 0.0;
};

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
  DoubleMatrix curvature = dmatrix(1, n, 1, n);
  DoubleMatrix literal = dmatrix(1, n, 1, n);
  build_curvature_literally(negative_log_likelihood, table.point(), table.value(), n, literal);
  for (auto _ : state) {
    builder(negative_log_likelihood, table.point(), table.value(), n, curvature);
    benchmark::DoNotOptimize(curvature[1][1]);
  }
  if (!same_bits(curvature, literal, n)) state.SkipWithError("the matrices differ");
  state.counters["objective_calls"] = calls_per_build;
  release_dmatrix(literal, 1, n, 1, n);
  release_dmatrix(curvature, 1, n, 1, n);
}

void BM_MemoisedCurvature(benchmark::State& state) {
  const double n = data_sets[state.range(0)].n;
  time_builder(state, build_curvature, n + n * (n - 1) / 2);
}

void BM_LiteralCurvature(benchmark::State& state) {
  const double n = data_sets[state.range(0)].n;
  time_builder(state, build_curvature_literally, 3 * n * n);
}

void data_set_arguments(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgName("set")->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_MemoisedCurvature)->Apply(data_set_arguments);
BENCHMARK(BM_LiteralCurvature)->Apply(data_set_arguments);

}  // namespace

BENCHMARK_MAIN();
