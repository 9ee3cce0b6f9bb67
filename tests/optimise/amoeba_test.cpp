#include "optimise/amoeba.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

// Coordinates built by a handful of additions and products of decimals:
// "up to rounding" means a few units in the last place of numbers near 1.
constexpr double rounding_tolerance = 1e-15;

// A converged bowl search agrees on values to the relative tolerance 1e-10
// around a minimum of 1, so its coordinates agree to about sqrt(1e-10).
constexpr double bowl_coordinate_tolerance = 1e-4;

// The fit's tolerance, and the evaluation budget with the message that ends it.
constexpr double search_tolerance = 1e-10;
constexpr int evaluation_limit = 5000;
const std::string limit_message = "Too many iterations in AMOEBA\n";

// Objectives are plain function pointers, so the tests observe them
// through file-level state.
int objective_calls = 0;
std::vector<std::vector<double>> probed_points;
std::vector<double> bowl_centre;

std::vector<double> coordinates(DoubleVector point) {
  std::vector<double> values;
  for (int j = point.first; j <= point.last; ++j) values.push_back(point[j]);
  return values;
}

// 1 + sum (x_j - centre_j)^2: its minimum value 1 keeps the relative spread
// meaningful near the minimum.
double counted_bowl(DoubleVector point) {
  ++objective_calls;
  double sum = 1.0;
  for (int j = 1; j <= point.last; ++j) {
    const double offset = point[j] - bowl_centre[static_cast<std::size_t>(j - 1)];
    sum += offset * offset;
  }
  return sum;
}

// Every point the search tries is worse than the starting vertices, so
// each pass reflects, contracts and shrinks.
double always_ten(DoubleVector point) {
  ++objective_calls;
  probed_points.push_back(coordinates(point));
  return 10.0;
}

double recorded_constant(DoubleVector point, double value) {
  ++objective_calls;
  probed_points.push_back(coordinates(point));
  return value;
}
double records_and_returns_0_5(DoubleVector point) { return recorded_constant(point, 0.5); }
double records_and_returns_5(DoubleVector point) { return recorded_constant(point, 5.0); }

struct Simplex {
  int dimension;
  DoubleMatrix rows;
  DoubleVector values;

  Simplex(const std::vector<std::vector<double>>& vertices, const std::vector<double>& f)
      : dimension(static_cast<int>(vertices.size()) - 1),
        rows(dmatrix(1, dimension + 1, 1, dimension)),
        values(dvector(1, dimension + 1)) {
    for (int i = 1; i <= dimension + 1; ++i) {
      const auto& vertex = vertices[static_cast<std::size_t>(i - 1)];
      for (int j = 1; j <= dimension; ++j) rows[i][j] = vertex[static_cast<std::size_t>(j - 1)];
      values[i] = f[static_cast<std::size_t>(i - 1)];
    }
  }
  ~Simplex() {
    release_dvector(values, 1, dimension + 1);
    release_dmatrix(rows, 1, dimension + 1, 1, dimension);
  }
  Simplex(const Simplex&) = delete;
  Simplex& operator=(const Simplex&) = delete;

  std::vector<double> row(int i) const { return coordinates(rows[i]); }
};

// The driver's starting simplex: `start` everywhere, 0.2 added to
// coordinate k-1 of row k, each vertex evaluated before the search.
std::vector<std::vector<double>> starting_vertices(int dimension, double start) {
  std::vector<std::vector<double>> vertices(
      static_cast<std::size_t>(dimension + 1),
      std::vector<double>(static_cast<std::size_t>(dimension), start));
  for (int k = 2; k <= dimension + 1; ++k) {
    vertices[static_cast<std::size_t>(k - 1)][static_cast<std::size_t>(k - 2)] += 0.2;
  }
  return vertices;
}

std::vector<double> evaluate(const std::vector<std::vector<double>>& vertices,
                             ObjectiveFunction f) {
  std::vector<double> values;
  for (const auto& vertex : vertices) {
    DoubleVector point = dvector(1, static_cast<int>(vertex.size()));
    for (int j = 1; j <= point.last; ++j) point[j] = vertex[static_cast<std::size_t>(j - 1)];
    values.push_back(f(point));
    release_dvector(point, 1, point.last);
  }
  return values;
}

class AmoebaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    objective_calls = 0;
    probed_points.clear();
  }
};

TEST(RankVertices, PicksTheLastOfEqualLowestAndKeepsTheFirstOfEqualHighest) {
  Simplex four({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, {3, 1, 2, 1});
  VertexRanking ranking = rank_vertices(four.values, 3);
  EXPECT_EQ(ranking.lowest, 4);
  EXPECT_EQ(ranking.highest, 1);
  EXPECT_EQ(ranking.next_highest, 3);

  Simplex three({{0, 0}, {0, 0}, {0, 0}}, {7, 7, 1});
  ranking = rank_vertices(three.values, 2);
  EXPECT_EQ(ranking.lowest, 3);
  EXPECT_EQ(ranking.highest, 2);
  EXPECT_EQ(ranking.next_highest, 1);
}

TEST_F(AmoebaTest, FindsTheMinimumOfBowlsInOneTwoAndFiveDimensions) {
  for (const int dimension : {1, 2, 5}) {
    SCOPED_TRACE("dimension " + std::to_string(dimension));
    bowl_centre.clear();
    // Centres off the lattice of the starting steps: in one dimension two
    // vertices placed symmetrically about the centre tie and end the search.
    for (int j = 1; j <= dimension; ++j) bowl_centre.push_back(1.5 + 0.3183 * j);
    const auto vertices = starting_vertices(dimension, 1.0);
    Simplex simplex(vertices, evaluate(vertices, counted_bowl));
    objective_calls = 0;
    int evaluations = -1;

    amoeba(simplex.rows, simplex.values, dimension, search_tolerance, counted_bowl, &evaluations);

    EXPECT_LT(evaluations, evaluation_limit);
    EXPECT_EQ(evaluations, objective_calls);
    for (int j = 1; j <= dimension; ++j) {
      EXPECT_NEAR(simplex.rows[1][j], bowl_centre[static_cast<std::size_t>(j - 1)],
                  bowl_coordinate_tolerance);
    }
    // The lowest vertex is handed back in row 1, each row with its own value.
    for (int i = 1; i <= dimension + 1; ++i) {
      EXPECT_LE(simplex.values[1], simplex.values[i]);
      EXPECT_EQ(simplex.values[i], evaluate({simplex.row(i)}, counted_bowl)[0]);
    }
  }
}

TEST_F(AmoebaTest, ProbeReflectsThenExpandsFromTheReflectedRow) {
  Simplex simplex({{1, 1}, {1.2, 1}, {1, 1.2}}, {1, 2, 3});
  DoubleVector column_sums = dvector(1, 2);
  column_sums[1] = (1.0 + 1.2) + 1.0;
  column_sums[2] = (1.0 + 1.0) + 1.2;

  EXPECT_EQ(
      amoeba_probe(simplex.rows, simplex.values, column_sums, 2, records_and_returns_0_5, 3, -1.0),
      0.5);
  ASSERT_EQ(probed_points.size(), 1u);
  EXPECT_NEAR(probed_points[0][0], 1.2, rounding_tolerance);
  EXPECT_NEAR(probed_points[0][1], 0.8, rounding_tolerance);
  // Accepted: the row, its value and the sums follow the trial point.
  EXPECT_EQ(simplex.row(3), probed_points[0]);
  EXPECT_EQ(simplex.values[3], 0.5);
  EXPECT_NEAR(column_sums[1], 3.4, rounding_tolerance);
  EXPECT_NEAR(column_sums[2], 2.8, rounding_tolerance);

  amoeba_probe(simplex.rows, simplex.values, column_sums, 2, records_and_returns_0_5, 3, 2.0);
  ASSERT_EQ(probed_points.size(), 2u);
  EXPECT_NEAR(probed_points[1][0], 1.3, rounding_tolerance);
  EXPECT_NEAR(probed_points[1][1], 0.6, rounding_tolerance);
  release_dvector(column_sums, 1, 2);
}

TEST_F(AmoebaTest, ProbeContractsHalfwayAndRejectsAValueEqualToTheRowsOwn) {
  Simplex simplex({{1, 1}, {1.2, 1}, {1, 1.2}}, {1, 2, 5});
  DoubleVector column_sums = dvector(1, 2);
  column_sums[1] = 3.2;
  column_sums[2] = 3.2;

  EXPECT_EQ(
      amoeba_probe(simplex.rows, simplex.values, column_sums, 2, records_and_returns_5, 3, 0.5),
      5.0);
  ASSERT_EQ(probed_points.size(), 1u);
  EXPECT_NEAR(probed_points[0][0], 1.05, rounding_tolerance);
  EXPECT_NEAR(probed_points[0][1], 1.1, rounding_tolerance);
  EXPECT_EQ(simplex.row(3), (std::vector<double>{1, 1.2}));
  EXPECT_EQ(column_sums[1], 3.2);
  EXPECT_EQ(column_sums[2], 3.2);
  release_dvector(column_sums, 1, 2);
}

TEST_F(AmoebaTest, ProbeRaisesTrialCoordinatesThatAreNotPositiveToTheFloor) {
  // Reflecting 1.0 through 0.5 gives exactly 0.0; through 0.25, -0.5.
  for (const double other : {0.5, 0.25}) {
    probed_points.clear();
    Simplex simplex({{other}, {1.0}}, {1, 2});
    DoubleVector column_sums = dvector(1, 1);
    column_sums[1] = other + 1.0;

    amoeba_probe(simplex.rows, simplex.values, column_sums, 1, records_and_returns_0_5, 2, -1.0);

    ASSERT_EQ(probed_points.size(), 1u);
    EXPECT_EQ(probed_points[0][0], 0.001);
    EXPECT_EQ(simplex.rows[2][1], 0.001);
    EXPECT_EQ(column_sums[1], (0.001 - 1.0) + (other + 1.0));
    release_dvector(column_sums, 1, 1);
  }
}

TEST_F(AmoebaTest, EqualStartingValuesConvergeWithoutEvaluationAndSwapFirstAndLastRows) {
  Simplex simplex({{1, 2}, {3, 4}, {5, 6}}, {4, 4, 4});
  int evaluations = -1;

  amoeba(simplex.rows, simplex.values, 2, search_tolerance, always_ten, &evaluations);

  EXPECT_EQ(evaluations, 0);
  EXPECT_EQ(objective_calls, 0);
  EXPECT_EQ(simplex.row(1), (std::vector<double>{5, 6}));
  EXPECT_EQ(simplex.row(2), (std::vector<double>{3, 4}));
  EXPECT_EQ(simplex.row(3), (std::vector<double>{1, 2}));
}

TEST_F(AmoebaTest, ShrinkMovesVerticesWithoutTheFloorAndCountsEveryEvaluation) {
  // Reflection and contraction are floored to 0.001 and rejected (value 9);
  // the shrink moves row 2 to (0.5 + -1)/2 = -0.25 unfloored, where the
  // objective returns 0, equal to row 1: converged, the last equal row
  // (row 2) is swapped into row 1.
  Simplex simplex({{-1.0}, {0.5}}, {0, 5});
  int evaluations = -1;
  static constexpr auto zero_at_shrunk_vertex = [](DoubleVector point) {
    const double value = point[1] == -0.25 ? 0.0 : 9.0;
    return recorded_constant(point, value);
  };

  amoeba(simplex.rows, simplex.values, 1, search_tolerance, zero_at_shrunk_vertex, &evaluations);

  ASSERT_EQ(probed_points.size(), 3u);
  EXPECT_EQ(probed_points[0][0], 0.001);
  EXPECT_EQ(probed_points[1][0], 0.001);
  EXPECT_EQ(probed_points[2][0], -0.25);
  EXPECT_EQ(evaluations, 3);
  EXPECT_EQ(simplex.rows[1][1], -0.25);
  EXPECT_EQ(simplex.rows[2][1], -1.0);
}

TEST_F(AmoebaTest, TiesWithTheSecondHighestContractAndTiesWithTheReflectionShrink) {
  // Values 1, 4, 9.  The reflection of row 3 scores 4: accepted (below 9)
  // but not below the second highest, so the pass contracts, against the
  // reflected value 4 rather than the 9 the pass began with.  The
  // contraction also scores 4, no better, so the simplex shrinks; the two
  // shrunk vertices score 1 and the next pass converges.
  Simplex simplex({{1, 1}, {1.2, 1}, {1, 1.2}}, {1, 4, 9});
  int evaluations = -1;
  static constexpr auto four_then_one = [](DoubleVector point) {
    return recorded_constant(point, objective_calls < 2 ? 4.0 : 1.0);
  };

  amoeba(simplex.rows, simplex.values, 2, search_tolerance, four_then_one, &evaluations);

  EXPECT_EQ(evaluations, 4);
  EXPECT_EQ(objective_calls, 4);
  ASSERT_EQ(probed_points.size(), 4u);
  // The shrink moves row 2 halfway toward row 1 and is evaluated there.
  EXPECT_NEAR(probed_points[2][0], 1.1, rounding_tolerance);
  EXPECT_EQ(probed_points[2][1], 1.0);
}

TEST_F(AmoebaTest, ProbesAfterAShrinkWorkFromTheRecomputedColumnSums) {
  // Reflection and contraction of row 2 fail (10), the shrink moves it to
  // 1.5 (value 5); the next reflection must pass 1.5 through 1.0 to 0.5,
  // which the column sums give only once they are rebuilt from the rows.
  Simplex simplex({{1.0}, {2.0}}, {1, 10});
  int evaluations = -1;
  static constexpr auto fail_twice_then_descend = [](DoubleVector point) {
    const double values[] = {10.0, 10.0, 5.0};
    const double value = objective_calls < 3 ? values[objective_calls] : 1.0;
    return recorded_constant(point, value);
  };

  amoeba(simplex.rows, simplex.values, 1, search_tolerance, fail_twice_then_descend, &evaluations);

  ASSERT_GE(probed_points.size(), 4u);
  EXPECT_EQ(probed_points[2][0], 1.5);
  EXPECT_EQ(probed_points[3][0], 0.5);
  EXPECT_EQ(evaluations, objective_calls);
}

TEST_F(AmoebaTest, LimitEndsTheSearchOnceWithoutMovingTheLowestRow) {
  // Every pass reflects (10, not below 5), contracts (10 >= the highest)
  // and shrinks: 4 evaluations a pass in two dimensions, exactly 5000 at the end.
  Simplex simplex({{1, 1}, {1.2, 1}, {1, 1.2}}, {5, 1, 7});
  int evaluations = -1;

  testing::internal::CaptureStdout();
  amoeba(simplex.rows, simplex.values, 2, search_tolerance, always_ten, &evaluations);
  const std::string output = testing::internal::GetCapturedStdout();

  EXPECT_EQ(output, limit_message);
  EXPECT_EQ(evaluations, evaluation_limit);
  EXPECT_EQ(objective_calls, evaluation_limit);
  EXPECT_EQ(simplex.values[2], 1.0);
  EXPECT_EQ(simplex.row(2), (std::vector<double>{1.2, 1}));
}

TEST_F(AmoebaTest, ZeroToleranceRunsToTheLimitAndOvershootsByLessThanOnePass) {
  for (const int dimension : {1, 2, 5}) {
    SCOPED_TRACE("dimension " + std::to_string(dimension));
    bowl_centre.assign(static_cast<std::size_t>(dimension), 2.0);
    const auto vertices = starting_vertices(dimension, 1.0);
    Simplex simplex(vertices, evaluate(vertices, counted_bowl));
    objective_calls = 0;
    int evaluations = -1;

    testing::internal::CaptureStdout();
    amoeba(simplex.rows, simplex.values, dimension, 0.0, counted_bowl, &evaluations);
    const std::string output = testing::internal::GetCapturedStdout();

    EXPECT_EQ(output, limit_message);
    EXPECT_GE(evaluations, evaluation_limit);
    EXPECT_LE(evaluations, evaluation_limit + dimension + 1);
    EXPECT_EQ(evaluations, objective_calls);
  }
}

TEST_F(AmoebaTest, ConvergenceIsTestedBeforeTheLimit) {
  // Each pass costs 3 evaluations (reflect, contract, shrink one row) until
  // the count reaches 4998; from then on every point scores 1, the value of
  // row 1: the reflection ties the lowest and is expanded, the count becomes
  // 5000, and the next pass finds the spread 0 and converges.
  Simplex simplex({{1.0}, {2.0}}, {1, 10});
  int evaluations = -1;
  static constexpr auto drops_after_4998_calls = [](DoubleVector) {
    ++objective_calls;
    return objective_calls > 4998 ? 1.0 : 10.0;
  };

  testing::internal::CaptureStdout();
  amoeba(simplex.rows, simplex.values, 1, search_tolerance, drops_after_4998_calls, &evaluations);
  const std::string output = testing::internal::GetCapturedStdout();

  EXPECT_EQ(output, "");
  EXPECT_EQ(evaluations, evaluation_limit);
  EXPECT_EQ(objective_calls, evaluation_limit);
  EXPECT_EQ(simplex.values[1], 1.0);
  EXPECT_EQ(simplex.values[2], 1.0);
}

}  // namespace
