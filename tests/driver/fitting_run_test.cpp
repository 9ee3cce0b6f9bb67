// The whole program, run as a user runs it: a scratch directory, a data
// file, the three answers on standard input.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "foundation/index_ranged_arrays.hpp"
#include "model/observations.hpp"
#include "model/reference/straightforward_likelihood.hpp"
#include "tests/support/program_runner.hpp"
#include "tests/support/text_lines.hpp"

namespace {

// Ten observations of one interval: eight N, two R.  For p = 1 and one
// interval an N has likelihood (2 + u)/3 and an R (1 - u)/3 with
// u = exp(-1.5 lambda), up to a truncation far below double precision here.
// The log-likelihood 8 log((2+u)/3) + 2 log((1-u)/3) is largest where
// 8/(2+u) = 2/(1-u), at u = 0.4: lambda = -log(0.4)/1.5, length lambda/2.
const char* const eight_n_two_r = "10 1\nN\nN\nR\nN\nN\nN\nR\nN\nN\nN\n";
const double fitted_length = -std::log(0.4) / 1.5 / 2.0;                     // 0.3054302439...
const double fitted_log_likelihood = 8 * std::log(0.8) + 2 * std::log(0.2);  // -5.0040242...

// The search stops when the vertex values agree to a relative 1e-10; near
// the minimum that leaves the reported length within about 1e-5 of it.
constexpr double length_tolerance = 2e-5;

// "%f" prints six decimals, so a printed value is within 5e-7 of the one
// computed; a sum of two printed values, or the objective at a printed point
// near the optimum, where it is flat, stays within this.
constexpr double six_decimals = 2e-6;

double eight_n_two_r_objective(double lambda) {
  const double u = std::exp(-1.5 * lambda);
  return -(8 * std::log((2 + u) / 3) + 2 * std::log((1 - u) / 3));
}

struct FitRun {
  ScratchDirectory directory;
  ProgramRun run;
};

void fit(FitRun& fit_run, const std::string& data, const std::string& answers_after_name) {
  fit_run.directory.write("data.txt", data);
  fit_run.run = run_program(fit_run.directory, built_program("interval-fit"),
                            "data.txt\n" + answers_after_name);
}

}  // namespace

TEST(FittingRun, OneIntervalTranscriptHasEveryPromptAndReportLineInOrder) {
  FitRun f;
  fit(f, eight_n_two_r, "1\n0.5\n");
  ASSERT_EQ(f.run.status, 0) << f.run.out << f.run.err;
  EXPECT_EQ(f.run.err, "");

  const std::string number = "-?[0-9]+\\.[0-9]+";
  const std::string expected =
      "Please type in the filename of your data: \n"
      "total = 10 \n"
      "number of interval = 1 \n"
      "N\nN\nR\nN\nN\nN\nR\nN\nN\nN\n"
      "Please type in the order of your model: \n"
      "Please type the initial estimate: \n"
      "Now-------- Amoeba...\n"
      "p = 1  and Likelihood:  -5\\.00402[0-9]"
      "\n0\\.31\t"  // two rows of one length each
      "\n0\\.31\t"
      "\nTotal Length = 0\\.3054[0-9]{2}\n"
      "\n\n"
      "Now Computing Standard Error...\n"
      "Standard Error: \n" +
      number + " ";
  EXPECT_TRUE(std::regex_match(f.run.out, std::regex(expected))) << f.run.out;
}

TEST(FittingRun, ResultsFileHoldsTheSummaryThenTheStandardErrorBlock) {
  FitRun f;
  fit(f, eight_n_two_r, "1\n0.5\n");
  ASSERT_EQ(f.run.status, 0) << f.run.out;
  const std::vector<std::string> lines = lines_of(f.directory.read("etest.txt"));
  ASSERT_EQ(lines.size(), 13U) << f.directory.read("etest.txt");
  EXPECT_EQ(lines[0], "The total number of observation is 10.");
  EXPECT_EQ(lines[1], "The number of intervals is 1. ");
  EXPECT_EQ(lines[2], "The initial estimate is 0.500000");
  EXPECT_TRUE(
      std::regex_match(lines[3], std::regex("p = 1  and Log-Likelihood:  -5\\.00402[0-9]")));
  EXPECT_EQ(lines[4], "");
  const std::vector<double> lengths = numbers_in(lines[5]);
  ASSERT_EQ(lengths.size(), 1U);
  EXPECT_NEAR(lengths[0], fitted_length, length_tolerance);
  EXPECT_EQ(lines[5].back(), ' ');
  EXPECT_EQ(lines[6], "Total Length = " + lines[5].substr(0, lines[5].size() - 1));
  EXPECT_EQ(lines[7], "");
  EXPECT_EQ(lines[8], "");
  EXPECT_EQ(lines[9], "Standard Error:");
  EXPECT_EQ(lines[11], "==================================");
  EXPECT_EQ(lines[12], "");
  EXPECT_TRUE(f.directory.read("etest.txt").ends_with("==\n\n"));

  // The standard error from the finite-difference curvature at the fitted
  // point, computed here from the closed form: with one parameter the
  // matrix is (f(x + h) - f(x)) / h^2, its inverse the reciprocal, and the
  // error sqrt(inverse / count) / 2p.
  const double lambda = 2 * fitted_length;
  const double h = 0.001;
  const double curvature =
      (eight_n_two_r_objective(lambda + h) - eight_n_two_r_objective(lambda)) / (h * h);
  const double expected_error = std::sqrt(1 / curvature / 10) / 2;
  const std::vector<double> errors = numbers_in(lines[10]);
  ASSERT_EQ(errors.size(), 1U);
  // The reported point sits within ~1e-5 of the optimum, which moves the
  // forward difference by a few per cent.
  EXPECT_NEAR(errors[0], expected_error, 0.05 * expected_error);
  // The appended log-likelihood is the maximum's, to the six printed decimals:
  // 1e-5 from the optimum the objective moves by about 1e-10.
  const double appended_log_likelihood =
      numbers_in(lines[3].substr(lines[3].find(":  ") + 3)).at(0);
  EXPECT_NEAR(appended_log_likelihood, fitted_log_likelihood, six_decimals);
}

TEST(FittingRun, ReportedLikelihoodIsMinusTheObjectiveAtTwiceTheOrderTimesTheReportedLengths) {
  // p = 3: every length printed or appended is the parameter divided by 6.
  // Evaluating the objective independently at 6 x the appended length must
  // give back minus the appended log-likelihood; a wrong divisor would not.
  FitRun f;
  fit(f, eight_n_two_r, "3\n0.5\n");
  ASSERT_EQ(f.run.status, 0) << f.run.out;
  const std::vector<std::string> lines = lines_of(f.directory.read("etest.txt"));
  ASSERT_GE(lines.size(), 7U);
  ASSERT_EQ(lines[3].rfind("p = 3  and Log-Likelihood:  ", 0), 0U) << lines[3];
  const double log_likelihood = numbers_in(lines[3].substr(lines[3].find(":  ") + 3)).at(0);
  const std::vector<double> lengths = numbers_in(lines[5]);
  ASSERT_EQ(lengths.size(), 1U);

  const std::string codes = "NNRNNNRNNN";
  ObservationTable table = cvector(0, 2 * 10 - 1);
  for (int i = 0; i < 20; ++i)
    table[i] = i < 10 ? static_cast<unsigned char>(codes[static_cast<std::size_t>(i)]) : ' ';
  set_observations(table, 10, 1);
  model_order = 3;
  DoubleVector point = dvector(1, 1);
  point[1] = 6 * lengths[0];
  // The appended length carries six decimals; near the optimum that moves
  // the objective by far less than the tolerance.
  EXPECT_NEAR(straightforward_negative_log_likelihood(point), -log_likelihood, six_decimals);
  release_dvector(point, 1, 1);
  release_cvector(table, 0, 19);
}

TEST(FittingRun, TwoIntervalsReportThreeRowsAndTheTotalOfTheLastRow) {
  FitRun f;
  fit(f, "6 2\nNR\nRN\nNN\nNR\nRR\nNN\n", "1\n0.4\n");
  ASSERT_EQ(f.run.status, 0) << f.run.out;
  const std::vector<std::string> out = lines_of(f.run.out);
  // Find the likelihood line; the three simplex rows follow it.
  std::size_t at = 0;
  while (at < out.size() && out[at].rfind("p = 1  and Likelihood:  ", 0) != 0) ++at;
  ASSERT_LT(at + 5, out.size());
  for (std::size_t row = 1; row <= 3; ++row) {
    EXPECT_TRUE(std::regex_match(out[at + row], std::regex("[0-9]\\.[0-9]{2}\t[0-9]\\.[0-9]{2}\t")))
        << out[at + row];
  }
  const std::vector<std::string> file = lines_of(f.directory.read("etest.txt"));
  const std::vector<double> last_row = numbers_in(file[5]);
  ASSERT_EQ(last_row.size(), 2U);
  const std::vector<double> total = numbers_in(file[6].substr(file[6].find('=') + 1));
  ASSERT_EQ(total.size(), 1U);
  EXPECT_NEAR(total[0], last_row[0] + last_row[1], six_decimals);
  // The console's last simplex row is the reported row, rounded.
  char rounded[64];
  std::snprintf(rounded, sizeof rounded, "%3.2f\t%3.2f\t", last_row[0], last_row[1]);
  EXPECT_EQ(out[at + 3], rounded);
  // The likelihood on the console and in the file are the same value.
  EXPECT_EQ(out[at].substr(out[at].find(":  ") + 3), file[3].substr(file[3].find(":  ") + 3));
}

TEST(FittingRun, TwoRunsAppendTwoSummaryAndStandardErrorBlocksAfterWhatWasThere) {
  FitRun f;
  f.directory.write("etest.txt", "kept from before\n");
  fit(f, eight_n_two_r, "1\n0.5\n");
  ASSERT_EQ(f.run.status, 0);
  const std::string once = f.directory.read("etest.txt");
  f.run = run_program(f.directory, built_program("interval-fit"), "data.txt\n1\n0.5\n");
  ASSERT_EQ(f.run.status, 0);
  const std::string twice = f.directory.read("etest.txt");
  const std::string block = once.substr(std::string("kept from before\n").size());
  EXPECT_EQ(twice, "kept from before\n" + block + block);
}

TEST(FittingRun, AMissingDataFileEndsWithTheMessageAndNoResults) {
  ScratchDirectory directory;
  const ProgramRun run =
      run_program(directory, built_program("interval-fit"), "absent.txt\n1\n0.5\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Please type in the filename of your data: \ncan't open the data file");
  EXPECT_FALSE(directory.exists("etest.txt"));
}

TEST(FittingRun, AResultsFileThatCannotBeOpenedEndsAfterTheReportBeforeTheStandardErrors) {
  FitRun f;
  std::filesystem::create_directory(f.directory.path() / "etest.txt");
  fit(f, eight_n_two_r, "1\n0.5\n");
  EXPECT_EQ(f.run.status, 1);
  const std::string ending = "Total Length = ";
  const std::size_t at = f.run.out.find(ending);
  ASSERT_NE(at, std::string::npos) << f.run.out;
  EXPECT_TRUE(std::regex_match(f.run.out.substr(at),
                               std::regex("Total Length = [0-9.]+\n\n\ncan't open the data file")))
      << f.run.out.substr(at);
  EXPECT_EQ(f.run.out.find("Now Computing Standard Error"), std::string::npos);
}

TEST(FittingRun, AReadOnlyResultsFileIsLeftUntouched) {
  FitRun f;
  f.directory.write("data.txt", eight_n_two_r);
  f.directory.write("etest.txt", "earlier results\n");
  std::filesystem::permissions(f.directory.path() / "etest.txt",
                               std::filesystem::perms::owner_read);
  f.run =
      run_program_unprivileged(f.directory, built_program("interval-fit"), "data.txt\n1\n0.5\n");
  EXPECT_EQ(f.run.status, 1);
  EXPECT_TRUE(f.run.out.ends_with("\n\n\ncan't open the data file"));
  EXPECT_EQ(f.directory.read("etest.txt"), "earlier results\n");
}

TEST(FittingRun, BadAnswersAreRefusedBeforeAnythingIsFittedOrAppended) {
  struct Case {
    const char* answers;
    const char* message;
  };
  const Case cases[] = {
      {"abc\n0.5\n", "the model order must be a whole number from 1 to 100\n"},
      {"0\n0.5\n", "the model order must be a whole number from 1 to 100\n"},
      {"2x\n0.5\n", "the model order must be a whole number from 1 to 100\n"},
      {"1\n-1\n", "the initial estimate must be a finite number of at least 0, such as 0.5\n"},
      {"1\nnan\n", "the initial estimate must be a finite number of at least 0, such as 0.5\n"},
      {"", "no model order was given\n"},
      {"1\n", "no initial estimate was given\n"},
  };
  for (const Case& c : cases) {
    FitRun f;
    fit(f, eight_n_two_r, c.answers);
    EXPECT_EQ(f.run.status, 1) << c.answers;
    EXPECT_TRUE(f.run.out.ends_with(c.message)) << c.answers << " gave " << f.run.out;
    EXPECT_EQ(f.run.out.find("Amoeba"), std::string::npos);
    EXPECT_FALSE(f.directory.exists("etest.txt"));
  }
}

namespace {

// How long a prompt may take to arrive through the pipe; a program that
// holds it in its buffer never sends it while it waits for the answer.
constexpr int prompt_wait_milliseconds = 10'000;

// Reads from `descriptor` until `expected` has arrived or the wait is over.
std::string read_until(int descriptor, const std::string& expected) {
  std::string got;
  while (got.find(expected) == std::string::npos) {
    pollfd ready{descriptor, POLLIN, 0};
    if (poll(&ready, 1, prompt_wait_milliseconds) <= 0) break;
    char piece[4096];
    const ssize_t count = read(descriptor, piece, sizeof piece);
    if (count <= 0) break;
    got.append(piece, static_cast<std::size_t>(count));
  }
  return got;
}

}  // namespace

// Through pipes, as when a script drives the program, each prompt must be
// out before the program waits for its answer.
TEST(FittingRun, EachPromptReachesAPipeBeforeItsAnswerIsRead) {
  ScratchDirectory directory;
  directory.write("data.txt", eight_n_two_r);
  int to_program[2];
  int from_program[2];
  ASSERT_EQ(pipe(to_program), 0);
  ASSERT_EQ(pipe(from_program), 0);
  const std::string program = built_program("interval-fit");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(to_program[0], 0);
    dup2(from_program[1], 1);
    for (const int end : {to_program[0], to_program[1], from_program[0], from_program[1]})
      close(end);
    if (chdir(directory.path().c_str()) == 0) execl(program.c_str(), program.c_str(), nullptr);
    _exit(127);
  }
  close(to_program[0]);
  close(from_program[1]);

  std::string seen;
  for (const auto& [prompt, answer] :
       {std::pair{"Please type in the filename of your data: \n", "data.txt\n"},
        std::pair{"Please type in the order of your model: \n", "1\n"},
        std::pair{"Please type the initial estimate: \n", "0.5\n"}}) {
    seen += read_until(from_program[0], prompt);
    EXPECT_TRUE(seen.ends_with(prompt)) << seen;
    if (!seen.ends_with(prompt)) break;
    ASSERT_EQ(write(to_program[1], answer, std::strlen(answer)),
              static_cast<ssize_t>(std::strlen(answer)));
  }
  close(to_program[1]);
  seen += read_until(from_program[0], "Standard Error: \n");
  close(from_program[0]);
  kill(child, SIGTERM);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  EXPECT_NE(seen.find("Now-------- Amoeba...\n"), std::string::npos) << seen;
}
