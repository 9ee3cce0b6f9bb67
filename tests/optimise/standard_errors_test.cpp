#include "optimise/standard_errors.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "model/observations.hpp"
#include "optimise/gaussj.hpp"
#include "optimise/reference/literal_curvature.hpp"

namespace {

constexpr double difference_step = 0.001;
const std::string block_end = "==================================\n\n";

int objective_calls = 0;

// Cross terms, unequal weights and transcendental pieces, so that every
// entry and both triangles carry their own roundings.
double tangled(DoubleVector point) {
  ++objective_calls;
  const int n = point.last;
  double value = std::log(1.0 + point[1]) * std::exp(-point[n]);
  for (int j = 1; j <= n; ++j) {
    value += 0.37 * j * point[j] * point[j];
    for (int k = j + 1; k <= n; ++k) value += point[j] * point[k] / (j + k);
  }
  return value;
}

// Not smooth, with a large constant that the differences cancel against.
double kinked(DoubleVector point) {
  ++objective_calls;
  double value = 1234.5;
  for (int j = 1; j <= point.last; ++j) value += std::fabs(point[j] - 0.5 * j) * (1.0 + 0.1 * j);
  return value;
}

// 0.25 + 3e-6 (x1 - 1.2)^2 (+ weaker terms in further coordinates): a
// small curvature, so the standard errors print with many digits.
double shallow_bowl(DoubleVector point) {
  double value = 0.25;
  for (int j = 1; j <= point.last; ++j) {
    const double offset = point[j] - (1.1 + 0.1 * j);
    value += 3e-6 / j * offset * offset;
  }
  return value;
}

// Values that jump about between neighbouring points, as rounding-wise
// unrelated as random numbers: the two orders of adding the same three
// values then often round differently, so C[i][j] and C[j][i] differ.
double scrambled(DoubleVector point) {
  ++objective_calls;
  double phase = 0.0;
  for (int j = 1; j <= point.last; ++j) phase += j * point[j] * point[j];
  return 2.0 * std::sin(1e4 * phase);
}

double zero_everywhere(DoubleVector /*point*/) { return 0.0; }

std::string format_value(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%f ", value);
  return text;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::string pattern = ::testing::TempDir() + "optimise_test_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TemporaryDirectory() { std::filesystem::remove_all(path_); }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Moves into `directory` and sends the console to console.txt there.  Only
// ever called in a child process, so the test runner keeps its own working
// directory and standard output.
void enter(const std::filesystem::path& directory) {
  if (chdir(directory.c_str()) != 0) std::_Exit(99);
  if (std::freopen("console.txt", "w", stdout) == nullptr) std::_Exit(98);
}

// Runs `body` in a forked child inside `directory`; returns its exit status.
int run_in_child(const std::filesystem::path& directory, const std::function<void()>& body) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    enter(directory);
    body();
    std::fflush(nullptr);
    std::_Exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The process-wide values that standard_errors reads, set from a point.
class StandardErrorsTest : public ::testing::Test {
 protected:
  void install(ObjectiveFunction objective, const std::vector<double>& point, int count,
               int order) {
    release_point();
    n_ = static_cast<int>(point.size());
    interval_count = n_;
    observation_count = count;
    model_order = order;
    objective_ = objective;
    best_point = dvector(0, n_);
    for (int j = 1; j <= n_; ++j) best_point[j] = point[static_cast<std::size_t>(j - 1)];
    best_value = objective(best_point);
  }
  void TearDown() override { release_point(); }
  void release_point() {
    if (n_ >= 0) release_dvector(best_point, 0, n_);
    n_ = -1;
  }

  // sqrt(C^-1[i][i] / count) / (2p) for the current values, with the
  // curvature built the long way.
  std::vector<double> expected_errors() const {
    DoubleMatrix curvature = dmatrix(1, n_, 1, n_);
    build_curvature_literally(objective_, best_point, best_value, n_, curvature);
    gaussj(curvature, n_);
    std::vector<double> errors;
    for (int i = 1; i <= n_; ++i) {
      errors.push_back(std::sqrt(curvature[i][i] / observation_count) / (2.0 * model_order));
    }
    release_dmatrix(curvature, 1, n_, 1, n_);
    return errors;
  }

  // The step under test, on the installed objective.
  void standard_errors_step() const { standard_errors_for(objective_); }

  ObjectiveFunction objective_ = nullptr;
  int n_ = -1;
  TemporaryDirectory directory_;
};

using StandardErrorsDeathTest = StandardErrorsTest;

void expect_same_bits(DoubleMatrix fast, DoubleMatrix literal, int n) {
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(fast[i][j]),
                std::bit_cast<std::uint64_t>(literal[i][j]))
          << "entry " << i << "," << j << ": " << fast[i][j] << " vs " << literal[i][j];
    }
  }
}

TEST(BuildCurvature, MatchesTheThreeCallsPerPairVersionBitForBit) {
  struct Case {
    ObjectiveFunction objective;
    std::vector<double> point;
  };
  const std::vector<Case> cases = {
      {tangled, {0.7}},
      {tangled, {0.001, 2.5}},
      {tangled, {1.3, 0.001, 7.25, 0.4}},
      {kinked, {0.5, 1.0005, 1.5}},
      {kinked, {3.0, 0.2, 1.7, 2.0, 0.001, 9.0, 4.4}},
      {tangled, {0.11, 0.22, 0.33, 0.44, 0.55, 0.66, 0.77, 0.88, 0.99, 1.1}},
      {scrambled, {0.3, 0.6, 0.9, 1.2, 1.5, 1.8, 2.1}},
  };
  int asymmetric_entries = 0;
  for (const Case& c : cases) {
    const int n = static_cast<int>(c.point.size());
    SCOPED_TRACE("order " + std::to_string(n));
    DoubleVector x = dvector(0, n);
    for (int j = 1; j <= n; ++j) x[j] = c.point[static_cast<std::size_t>(j - 1)];
    // f0 off the objective's value, as after a search that stopped early.
    const double f0 = c.objective(x) + 0.01;
    DoubleMatrix fast = dmatrix(1, n, 1, n);
    DoubleMatrix literal = dmatrix(1, n, 1, n);

    objective_calls = 0;
    build_curvature(c.objective, x, f0, n, fast);
    EXPECT_EQ(objective_calls, n * (n + 1) / 2);
    objective_calls = 0;
    build_curvature_literally(c.objective, x, f0, n, literal);
    EXPECT_EQ(objective_calls, 3 * n * n);
    expect_same_bits(fast, literal, n);
    for (int i = 1; i <= n; ++i) {
      for (int j = 1; j <= n; ++j) asymmetric_entries += literal[i][j] != literal[j][i];
    }

    release_dmatrix(literal, 1, n, 1, n);
    release_dmatrix(fast, 1, n, 1, n);
    release_dvector(x, 0, n);
  }
  // Without such entries the comparison could not tell the orders apart.
  EXPECT_GT(asymmetric_entries, 0);
}

TEST_F(StandardErrorsTest, SingleIntervalMatchesTheClosedForm) {
  install(shallow_bowl, {1.25}, 3, 1);
  // Computed here from the objective alone: one difference, one reciprocal.
  DoubleVector moved = dvector(1, 1);
  moved[1] = 1.25 + difference_step;
  const double curvature = (shallow_bowl(moved) - best_value) / difference_step / difference_step;
  const double expected = std::sqrt((1.0 / curvature) / 3) / 2.0;
  release_dvector(moved, 1, 1);

  const int status = run_in_child(directory_.path(), [this] { standard_errors_step(); });

  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_file(directory_.path() / "console.txt"),
            "Standard Error: \n" + format_value(expected));
  EXPECT_EQ(read_file(directory_.path() / "etest.txt"),
            "Standard Error:\n" + format_value(expected) + "\n" + block_end);
}

TEST_F(StandardErrorsTest, AppendsItsBlockAfterWhatTheResultsFileHeld) {
  install(shallow_bowl, {1.3, 1.35, 1.5}, 11, 2);
  const std::string earlier = "The total number of observation is 11.\n\n";
  std::ofstream(directory_.path() / "etest.txt") << earlier;
  std::string values;
  for (const double error : expected_errors()) values += format_value(error);

  const int status = run_in_child(directory_.path(), [this] { standard_errors_step(); });

  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_file(directory_.path() / "console.txt"), "Standard Error: \n" + values);
  EXPECT_EQ(read_file(directory_.path() / "etest.txt"),
            earlier + "Standard Error:\n" + values + "\n" + block_end);
}

TEST_F(StandardErrorsTest, NegativeCurvaturePrintsNotANumberAndTheRunGoesOn) {
  // f0 above f(x + h): the one curvature and its inverse are negative.
  install(shallow_bowl, {1.25}, 3, 1);
  best_value += 1.0;
  const std::string value = format_value(std::sqrt(-1.0) / 2.0);

  const int status = run_in_child(directory_.path(), [this] { standard_errors_step(); });

  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_file(directory_.path() / "console.txt"), "Standard Error: \n" + value);
  EXPECT_EQ(read_file(directory_.path() / "etest.txt"),
            "Standard Error:\n" + value + "\n" + block_end);
}

TEST_F(StandardErrorsDeathTest, NoObservationsEndInASingularMatrixBeforeAnyOutput) {
  install(zero_everywhere, {0.5, 0.75}, 0, 1);
  const std::filesystem::path directory = directory_.path();
  EXPECT_EXIT(
      {
        enter(directory);
        standard_errors_step();
      },
      ::testing::ExitedWithCode(1), "gaussj: Singular Matrix-2");
  EXPECT_EQ(read_file(directory / "console.txt"), "");
  EXPECT_FALSE(std::filesystem::exists(directory / "etest.txt"));
}

TEST_F(StandardErrorsDeathTest, UnopenableResultsFileEndsTheRunAfterTheConsoleBlock) {
  install(shallow_bowl, {1.3, 1.35}, 5, 1);
  std::string values;
  for (const double error : expected_errors()) values += format_value(error);
  // A directory cannot be opened for appending, whoever runs the test.
  std::filesystem::create_directory(directory_.path() / "etest.txt");
  const std::filesystem::path directory = directory_.path();

  EXPECT_EXIT(
      {
        enter(directory);
        standard_errors_step();
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(read_file(directory / "console.txt"),
            "Standard Error: \n" + values + "can't open the data file");
}

}  // namespace
