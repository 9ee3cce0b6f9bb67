#include "optimise/standard_errors.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <vector>

#include "driver/results_file.hpp"
#include "foundation/worker_threads.hpp"
#include "model/likelihood.hpp"
#include "model/observations.hpp"
#include "optimise/gaussj.hpp"

DoubleVector best_point;
double best_value = 0.0;

namespace {

// The amount added to a coordinate for the finite differences.  No floor is
// applied: a coordinate of 0.001 is evaluated at 0.002.
constexpr double difference_step = 0.001;

// Runs of the grid per thread when its points are evaluated concurrently.
constexpr int runs_per_thread = 4;

// C = (((-f(x + h e_i + h e_j)) + f(x + h e_i)) + f(x + h e_j)) - f0, then
// divided by h twice, in exactly this order so that C[i][j] and C[j][i]
// differ by rounding only as the terms' order makes them.
double curvature_entry(double value_ij, double value_i, double value_j, double f0) {
  double entry = (((-value_ij) + value_i) + value_j) - f0;
  entry = entry / difference_step;
  return entry / difference_step;
}

// sqrt(C^-1[i][i] / observation_count) / (2p), 2p formed as an int.
double standard_error(DoubleMatrix inverse, int i) {
  const int scale = 2 * model_order;
  return std::sqrt(inverse[i][i] / observation_count) / static_cast<double>(scale);
}

void append_standard_errors(DoubleMatrix inverse, int n) {
  ResultsBlock file = open_results_file();
  append_results(file, "Standard Error:");
  append_results(file, "\n");
  for (int i = 1; i <= n; ++i) append_results(file, "%f ", standard_error(inverse, i));
  append_results(file, "\n");
  append_results(file, "==================================\n\n");
  close_results_file(file);
}

// The points of the grid, in the order a single thread evaluates them:
// the n single moves x + h e_i, then the pair moves x + h e_i + h e_j,
// i < j, with j running fastest.  Consecutive points then differ in one or
// two coordinates near the end, which an objective that reuses the work of
// its previous evaluation recomputes cheaply.
struct GridPoint {
  int i;
  int j;  // == i for a single move
};

std::vector<GridPoint> grid_points(int n) {
  std::vector<GridPoint> points;
  points.reserve(static_cast<std::size_t>(n) * static_cast<std::size_t>(n + 1) / 2);
  for (int i = 1; i <= n; ++i) points.push_back({i, i});
  for (int i = 1; i <= n; ++i) {
    for (int j = i + 1; j <= n; ++j) points.push_back({i, j});
  }
  return points;
}

// Work of evaluating `to` right after `from` for such an objective: the
// intervals from the first coordinate where the two points differ.
long long restart_cost(GridPoint from, GridPoint to, int n) {
  auto moved = [](GridPoint point, int k) { return point.i == k || point.j == k; };
  int first = n + 1;
  for (const int k : {from.i, from.j, to.i, to.j}) {
    if (moved(from, k) != moved(to, k)) first = std::min(first, k);
  }
  return n + 1 - first;
}

// The grid cut into consecutive runs of similar work, a few per thread so
// that a thread slowed by other work on the machine holds up little.
std::vector<std::size_t> run_starts(const std::vector<GridPoint>& points, int n, int runs) {
  std::vector<long long> cost(points.size(), n);
  for (std::size_t k = 1; k < points.size(); ++k) {
    cost[k] = restart_cost(points[k - 1], points[k], n);
  }
  long long total = 0;
  for (const long long c : cost) total += c;
  std::vector<std::size_t> starts{0};
  long long done = 0;
  for (std::size_t k = 0; k < points.size(); ++k) {
    const auto next = static_cast<long long>(starts.size());
    if (done * runs >= next * total && k > starts.back()) starts.push_back(k);
    done += cost[k];
  }
  starts.push_back(points.size());
  return starts;
}

}  // namespace

// Every ordered pair (i, j) needs f(x + h e_i), f(x + h e_j) and
// f(x + h e_i + h e_j); the last is the same point for (i, j) and (j, i) and
// is f(x + h e_i) on the diagonal.  So the n single moves and the n(n-1)/2
// pair moves are evaluated once each and every entry is formed from them.
// Each moved coordinate is x[k] + h, computed as for any other order of
// evaluation, so the points and hence the values are the same bits, on one
// thread or several; the entries are then formed on the calling thread.
void build_curvature(ObjectiveFunction objective, DoubleVector x, double f0, int n,
                     DoubleMatrix curvature, Evaluation evaluation) {
  const std::vector<GridPoint> points = grid_points(n);
  std::vector<double> values(points.size(), 0.0);
  auto evaluate_run = [&](std::size_t begin, std::size_t end) {
    DoubleVector point = dvector(1, n);
    for (int k = 1; k <= n; ++k) point[k] = x[k];
    for (std::size_t k = begin; k < end; ++k) {
      const GridPoint moved = points[k];
      point[moved.i] = x[moved.i] + difference_step;
      point[moved.j] = x[moved.j] + difference_step;
      values[k] = objective(point);
      point[moved.i] = x[moved.i];
      point[moved.j] = x[moved.j];
    }
    release_dvector(point, 1, n);
  };
  if (evaluation == Evaluation::concurrent && worker_thread_count() > 1) {
    const std::vector<std::size_t> starts =
        run_starts(points, n, runs_per_thread * worker_thread_count());
    run_in_parallel(static_cast<int>(starts.size() - 1), [&](int run) {
      evaluate_run(starts[static_cast<std::size_t>(run)],
                   starts[static_cast<std::size_t>(run) + 1]);
    });
  } else {
    evaluate_run(0, points.size());
  }

  // values[i - 1] is f(x + h e_i); the pairs follow in the order above.
  auto single = [&values](int i) { return values[static_cast<std::size_t>(i - 1)]; };
  std::size_t pair = static_cast<std::size_t>(n);
  for (int i = 1; i <= n; ++i) {
    curvature[i][i] = curvature_entry(single(i), single(i), single(i), f0);
    for (int j = i + 1; j <= n; ++j) {
      const double pair_value = values[pair++];
      curvature[i][j] = curvature_entry(pair_value, single(i), single(j), f0);
      curvature[j][i] = curvature_entry(pair_value, single(j), single(i), f0);
    }
  }
}

void standard_errors_for(ObjectiveFunction objective, Evaluation evaluation) {
  const int n = interval_count;
  DoubleMatrix curvature = dmatrix(1, n, 1, n);
  build_curvature(objective, best_point, best_value, n, curvature, evaluation);
  gaussj(curvature, n);

  std::printf("Standard Error: \n");
  for (int i = 1; i <= n; ++i) std::printf("%f ", standard_error(curvature, i));
  append_standard_errors(curvature, n);

  release_dmatrix(curvature, 1, n, 1, n);
}

void standard_errors() { standard_errors_for(negative_log_likelihood, Evaluation::concurrent); }
