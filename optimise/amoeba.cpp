#include "optimise/amoeba.hpp"

#include <cstdio>

#include "optimise/relative_spread.hpp"

namespace {

// A pass that begins with at least this many evaluations counted ends the search.
constexpr int evaluation_limit = 5000;

// Every trial coordinate that is not positive is raised to this value: the
// parameters are expected event counts and the objective needs them > 0.
constexpr double trial_floor = 0.001;

// Line factors of the probe: -1 reflects the highest vertex through the
// centroid of the others, 2 doubles an accepted reflection, 0.5 moves the
// vertex halfway toward the centroid.
constexpr double reflection_factor = -1.0;
constexpr double expansion_factor = 2.0;
constexpr double contraction_factor = 0.5;

// Every vertex but the lowest moves this fraction of the way toward it.
constexpr double shrink_factor = 0.5;

// column_sums[j] = simplex[1][j] + simplex[2][j] + ... + simplex[n+1][j],
// added in row order from 0.0.
void compute_column_sums(DoubleMatrix simplex, DoubleVector column_sums, int dimension) {
  for (int j = 1; j <= dimension; ++j) {
    double sum = 0.0;
    for (int i = 1; i <= dimension + 1; ++i) sum += simplex[i][j];
    column_sums[j] = sum;
  }
}

// The highest and lowest vertex values agree to a relative spread strictly
// below the tolerance.
bool has_converged(DoubleVector vertex_values, VertexRanking ranking, double tolerance) {
  return relative_spread(vertex_values[ranking.highest], vertex_values[ranking.lowest]) < tolerance;
}

// The caller finds the lowest vertex of a converged simplex in row 1; the
// row that held it takes the old row 1.
void move_lowest_to_first_row(DoubleMatrix simplex, DoubleVector vertex_values, int dimension,
                              int lowest) {
  const double value = vertex_values[1];
  vertex_values[1] = vertex_values[lowest];
  vertex_values[lowest] = value;
  for (int j = 1; j <= dimension; ++j) {
    const double coordinate = simplex[1][j];
    simplex[1][j] = simplex[lowest][j];
    simplex[lowest][j] = coordinate;
  }
}

// x_i <- (x_i + x_low) * 0.5 for every row i but the lowest, each moved
// vertex re-evaluated.  The column-sums storage holds the moved vertex while
// the objective reads it, and is recomputed in full afterwards.
void shrink_towards_lowest(DoubleMatrix simplex, DoubleVector vertex_values,
                           DoubleVector column_sums, int dimension, ObjectiveFunction objective,
                           int lowest, int* evaluations) {
  for (int i = 1; i <= dimension + 1; ++i) {
    if (i == lowest) continue;
    for (int j = 1; j <= dimension; ++j) {
      const double moved = (simplex[i][j] + simplex[lowest][j]) * shrink_factor;
      column_sums[j] = moved;
      simplex[i][j] = moved;
    }
    vertex_values[i] = objective(column_sums);
  }
  *evaluations += dimension;
  compute_column_sums(simplex, column_sums, dimension);
}

// One pass after the ranking: reflect the highest vertex; expand after a
// reflection at or below the lowest value; keep a reflection that beats the
// second highest; otherwise contract, and shrink when even the contraction
// is no better than the highest vertex as the reflection left it.  The
// counter is charged 2 up front: a lone reflection gives one back.
void improve_highest_vertex(DoubleMatrix simplex, DoubleVector vertex_values,
                            DoubleVector column_sums, int dimension, ObjectiveFunction objective,
                            VertexRanking ranking, int* evaluations) {
  *evaluations += 2;
  double trial_value = amoeba_probe(simplex, vertex_values, column_sums, dimension, objective,
                                    ranking.highest, reflection_factor);
  if (!(trial_value > vertex_values[ranking.lowest])) {
    amoeba_probe(simplex, vertex_values, column_sums, dimension, objective, ranking.highest,
                 expansion_factor);
    return;
  }
  if (trial_value < vertex_values[ranking.next_highest]) {
    *evaluations -= 1;
    return;
  }
  const double contraction_reference = vertex_values[ranking.highest];
  trial_value = amoeba_probe(simplex, vertex_values, column_sums, dimension, objective,
                             ranking.highest, contraction_factor);
  if (trial_value >= contraction_reference) {
    shrink_towards_lowest(simplex, vertex_values, column_sums, dimension, objective, ranking.lowest,
                          evaluations);
  }
}

}  // namespace

VertexRanking rank_vertices(DoubleVector vertex_values, int dimension) {
  VertexRanking ranking{1, 2, 1};
  if (vertex_values[1] > vertex_values[2]) {
    ranking.highest = 1;
    ranking.next_highest = 2;
  }
  for (int i = 1; i <= dimension + 1; ++i) {
    // "Not greater than": the last of equal lowest values wins.
    if (!(vertex_values[i] > vertex_values[ranking.lowest])) ranking.lowest = i;
    // Only a strictly greater value displaces the highest.
    if (vertex_values[i] > vertex_values[ranking.highest]) {
      ranking.next_highest = ranking.highest;
      ranking.highest = i;
    } else if (vertex_values[i] > vertex_values[ranking.next_highest] && i != ranking.highest) {
      ranking.next_highest = i;
    }
  }
  return ranking;
}

double amoeba_probe(DoubleMatrix simplex, DoubleVector vertex_values, DoubleVector column_sums,
                    int dimension, ObjectiveFunction objective, int highest, double factor) {
  DoubleVector trial_point = dvector(1, dimension);
  // With S the column sums and w the highest row, the centroid of the others
  // is c = (S - w)/n, and (1 - factor)*c + factor*w is
  //   trial = ((1 - factor)/n) * S - ((1 - factor)/n - factor) * w.
  const double sum_weight = (1.0 - factor) / dimension;
  const double vertex_weight = sum_weight - factor;
  for (int j = 1; j <= dimension; ++j) {
    const double coordinate = sum_weight * column_sums[j] - vertex_weight * simplex[highest][j];
    trial_point[j] = coordinate > 0.0 ? coordinate : trial_floor;
  }
  const double trial_value = objective(trial_point);
  if (trial_value < vertex_values[highest]) {
    vertex_values[highest] = trial_value;
    // The sums follow the replaced row: S_j <- (trial_j - w_j) + S_j.
    for (int j = 1; j <= dimension; ++j) {
      column_sums[j] = (trial_point[j] - simplex[highest][j]) + column_sums[j];
      simplex[highest][j] = trial_point[j];
    }
  }
  release_dvector(trial_point, 1, dimension);
  return trial_value;
}

void amoeba(DoubleMatrix simplex, DoubleVector vertex_values, int dimension, double tolerance,
            ObjectiveFunction objective, int* evaluations) {
  DoubleVector column_sums = dvector(1, dimension);
  *evaluations = 0;
  compute_column_sums(simplex, column_sums, dimension);
  for (;;) {
    const VertexRanking ranking = rank_vertices(vertex_values, dimension);
    if (has_converged(vertex_values, ranking, tolerance)) {
      move_lowest_to_first_row(simplex, vertex_values, dimension, ranking.lowest);
      break;
    }
    if (*evaluations >= evaluation_limit) {
      std::printf("Too many iterations in AMOEBA\n");
      break;
    }
    improve_highest_vertex(simplex, vertex_values, column_sums, dimension, objective, ranking,
                           evaluations);
  }
  release_dvector(column_sums, 1, dimension);
}
