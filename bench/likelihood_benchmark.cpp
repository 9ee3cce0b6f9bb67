// The objective alone, step by step against fast, on tables simulated from
// the model itself: interval lengths 0.2..0.35, lambda = 2p x length, the
// latent level and class walked through Poisson events, and codes read off
// the class (R in {2, 5}, N elsewhere) with some X and missing codes.
//
//   build/release/bench/likelihood_benchmark
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "foundation/index_ranged_arrays.hpp"
#include "model/likelihood.hpp"
#include "model/likelihood_work.hpp"
#include "model/observations.hpp"
#include "tests/reference/straightforward_likelihood.hpp"

namespace {

// Shortest and longest simulated interval lengths.
constexpr double shortest_length = 0.2;
constexpr double longest_length = 0.35;
// Chance that an interval's code is read as X, and that it is missing.
constexpr double x_rate = 0.05;
constexpr double missing_rate = 0.03;

// Draws of our own from the raw 64-bit stream, so that the tables are the
// same with every standard library.
double uniform(std::mt19937_64& random) {
  return static_cast<double>(random() >> 11) * 0x1.0p-53;
}

int poisson_draw(std::mt19937_64& random, double mean) {
  // Multiply uniforms until the product drops below e^-mean.
  const double limit = std::exp(-mean);
  int events = 0;
  for (double product = uniform(random); product > limit; product *= uniform(random)) ++events;
  return events;
}

struct DataSet {
  int n;
  int p;
  int count;
};

constexpr DataSet data_sets[] = {{8, 2, 500}, {18, 3, 2000}, {40, 5, 5000}};

// Installs a simulated table for the data set and fills the point with the
// generating parameters.
class SimulatedTable {
 public:
  explicit SimulatedTable(const DataSet& set)
      : set_(set), last_((set.n + 1) * set.count - 1), table_(cvector(0, last_)),
        point_(dvector(1, set.n)) {
    std::mt19937_64 random(20240000u + static_cast<unsigned>(set.n));
    for (int t = 1; t <= set.n; ++t) {
      const double length = shortest_length + (longest_length - shortest_length) * uniform(random);
      point_[t] = 2.0 * set.p * length;
    }
    for (int i = 0; i < set.count; ++i) {
      int level = static_cast<int>(uniform(random) * set.p);
      int cls = 0;  // 0: {1, 6}, 1: {2, 5}, 2: {3, 4}
      for (int t = 1; t <= set.n; ++t) {
        for (int events = poisson_draw(random, point_[t]); events > 0; --events) {
          if (++level == set.p) {
            level = 0;
            cls = (cls + 1 + static_cast<int>(uniform(random) * 2.0)) % 3;
          }
        }
        const double read = uniform(random);
        unsigned char code = cls == 1 ? 'R' : 'N';
        if (read < missing_rate) {
          code = '-';
        } else if (read < missing_rate + x_rate) {
          code = 'X';
        }
        table_[i * set.n + t - 1] = code;
      }
    }
    set_observations(table_, set.count, set.n);
    model_order = set.p;
  }
  SimulatedTable(const SimulatedTable&) = delete;
  SimulatedTable& operator=(const SimulatedTable&) = delete;
  ~SimulatedTable() {
    set_observations(ObservationTable{}, 0, 0);
    release_dvector(point_, 1, set_.n);
    release_cvector(table_, 0, last_);
  }

  DoubleVector point() const { return point_; }

 private:
  DataSet set_;
  int last_;
  ObservationTable table_;
  DoubleVector point_;
};

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
  for (auto _ : state) {
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
  for (auto _ : state) benchmark::DoNotOptimize(negative_log_likelihood(table.point()));
  report_work(state);
}

void data_set_arguments(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgName("set")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Straightforward)->Apply(data_set_arguments)->Iterations(1)->Repetitions(3)
    ->ReportAggregatesOnly(false);
BENCHMARK(BM_Fast)->Apply(data_set_arguments);

}  // namespace

BENCHMARK_MAIN();
