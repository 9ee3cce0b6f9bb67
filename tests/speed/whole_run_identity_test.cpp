// interval-fit against interval-fit-reference, the same driver built on the
// step-by-step objective: on each data set both programs run as a user runs
// them, in scratch directories of their own with the same data file and
// answers, and everything they leave behind must agree byte for byte: exit
// status, standard output, standard error and etest.txt.  The fast objective
// shares prefixes, skips zero weights and builds the transition matrices once
// per call; a difference in the last bit of a single evaluation can turn a
// comparison in the minimiser and with it the whole path of the search, so a
// whole run checks thousands of evaluations and the ties between them, not
// one value.
//
// The fast program runs with 1, 2 and 4 threads (INTERVAL_THREADS): the
// tree is cut into as many parts, and large evaluations run them in
// parallel; none of that may change a byte.
//
// The data sets are small so that the reference finishes in a few seconds
// even in the sanitizer build.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>

#include "tests/support/program_runner.hpp"

namespace {

struct DataSet {
  const char* name;             // the test's name: what the set exercises
  std::string table;            // the data file, or empty to simulate one
  std::string simulation;       // interval-simulate options, without --output
  std::string answers;          // model order and initial estimate
  std::string earlier_results;  // etest.txt before the run, if any
  std::string shown{};          // text the run must print, for the sets named after it
  int status = 0;               // the exit status both programs must give
};

// Test names and failure messages show the set by its name.
void PrintTo(const DataSet& set, std::ostream* out) { *out << set.name; }

struct Outcome {
  ProgramRun run;
  std::string results;
};

Outcome run_in_own_directory(const std::string& program, const std::string& table,
                             const DataSet& set) {
  ScratchDirectory where;
  where.write("data.txt", table);
  if (!set.earlier_results.empty()) where.write("etest.txt", set.earlier_results);
  Outcome outcome;
  outcome.run = run_program(where, built_program(program), "data.txt\n" + set.answers);
  outcome.results = where.read("etest.txt");
  return outcome;
}

std::string table_of(const DataSet& set) {
  if (!set.table.empty()) return set.table;
  ScratchDirectory where;
  const ProgramRun simulated = run_program(where, built_program("interval-simulate"), "",
                                           set.simulation + " --output data.txt");
  EXPECT_EQ(simulated.status, 0) << simulated.err;
  return where.read("data.txt");
}

// Every informative row reads R then N, which the model explains best with
// both parameters driven far out, where the objective is nearly flat: the
// inverse curvature has a negative diagonal entry and that standard error
// prints as not-a-number.  The lower-case rows carry no information.
const char* const far_out_table = "14 2\nRN\nRN\nRN\nRN\nRN\nRN\nRN\nRN\nRN\nRN\nRN\nRN\nnN\nxr\n";

const DataSet data_sets[] = {
    {"TwoIntervalsOrderOneOnlyNAndR", "",
     "--lengths 0.3,0.2 --observations 60 --order 1 --seed 101", "1\n0.5\n", ""},
    {"ThreeIntervalsOrderTwoWithXAndMissingCodes", "",
     "--lengths 0.25,0.35,0.2 --observations 150 --order 2 --x-rate 0.1 "
     "--missing-rate 0.05 --seed 102",
     "2\n1.0\n", ""},
    {"FourIntervalsOrderThreeAppendingToEarlierResults", "",
     "--lengths 0.2,0.3,0.15,0.35 --observations 60 --order 3 --x-rate 0.05 "
     "--missing-rate 0.03 --seed 103",
     "3\n1.5\n", "results of an earlier run\n"},
    {"CrlfFileOrderOne", "",
     "--lengths 0.3,0.25,0.2 --observations 200 --order 1 --x-rate 0.05 --crlf --seed 104",
     "1\n0.6\n", ""},
    // The starting vertices have zero parameters, where an interval holds no
    // events at all: rows that need one there have likelihood 0, the
    // objective is +infinity, and the minimiser ranks infinite values.
    {"ZeroInitialEstimateStartsAtInfiniteObjective", "",
     "--lengths 0.3,0.2 --observations 80 --order 2 --x-rate 0.1 --seed 105", "2\n0\n", ""},
    // Order 4 counts events beyond 32, whose factorials come from log-gamma.
    {"OrderFourFitToOrderOneDataUsesLogGammaFactorials", "",
     "--lengths 0.3,0.2,0.25 --observations 50 --order 1 --missing-rate 0.05 --seed 106",
     "4\n2.0\n", ""},
    {"ParametersFarOutGiveANotANumberStandardError", far_out_table, "", "1\n0.5\n", "", "nan"},
    // From a start of 1e308 the minimiser's first reflections overflow to
    // infinite parameters, where 0 x inf makes the objective NaN: both
    // objectives must return the same NaN, and the minimiser must rank it
    // alike.  The standard errors come out not-a-number as well.
    {"LargestEstimateMakesInfiniteProbesAndANotANumberObjective", "",
     "--lengths 0.3,0.2 --observations 40 --order 1 --seed 108", "1\n1e308\n", "", "-nan -nan"},
    // Enough rows and intervals that an evaluation is shared among the
    // threads.
    {"SixIntervalsOrderTwoLargeEnoughForThreads", "",
     "--lengths 0.3,0.2,0.25,0.35,0.2,0.3 --observations 1500 --order 2 --x-rate 0.05 "
     "--missing-rate 0.02 --seed 107",
     "2\n1.0\n", ""},
};

class WholeRunIdentity : public ::testing::TestWithParam<DataSet> {};

std::string data_set_name(const ::testing::TestParamInfo<DataSet>& param) {
  return param.param.name;
}

TEST_P(WholeRunIdentity, FastAndStepByStepProgramsLeaveTheSameBytes) {
  const DataSet& set = GetParam();
  const std::string table = table_of(set);
  ASSERT_FALSE(table.empty());

  const Outcome reference = run_in_own_directory("interval-fit-reference", table, set);

  // A complete run, so the comparison covers the report and the standard
  // errors rather than two identical refusals.
  ASSERT_EQ(reference.run.status, set.status) << reference.run.out << reference.run.err;
  if (set.status == 0) {
    ASSERT_NE(reference.run.out.find("Standard Error: \n"), std::string::npos);
    ASSERT_NE(reference.results.find("=================================="), std::string::npos);
  }
  ASSERT_NE(reference.run.out.find(set.shown), std::string::npos);

  for (const char* threads : {"1", "2", "4"}) {
    ASSERT_EQ(setenv("INTERVAL_THREADS", threads, 1), 0);
    const Outcome fast = run_in_own_directory("interval-fit", table, set);
    unsetenv("INTERVAL_THREADS");
    EXPECT_EQ(fast.run.status, reference.run.status) << threads << " threads";
    EXPECT_EQ(fast.run.out, reference.run.out) << threads << " threads";
    EXPECT_EQ(fast.run.err, reference.run.err) << threads << " threads";
    EXPECT_EQ(fast.results, reference.results) << threads << " threads";
  }
}

INSTANTIATE_TEST_SUITE_P(SimulatedAndWrittenDataSets, WholeRunIdentity,
                         ::testing::ValuesIn(data_sets), data_set_name);

}  // namespace
