// The check of fit's bootstrap: the p-value counts the replicates that reach
// the data's statistic, each replicate's draws depend on --seed and its
// index alone, and interval-scan prints the same check from 1, 2 and 4
// threads.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/check_of_fit.hpp"
#include "driver/scan_files.hpp"
#include "driver/scan_run.hpp"
#include "tests/support/program_runner.hpp"

namespace {

constexpr int replicates = 9;

TEST(CheckOfFit, PValueCountsReplicatesReachingTheDataAndTheSeedFixesEveryReplicate) {
  ScratchDirectory directory;
  const ProgramRun simulated =
      run_program(directory, built_program("interval-simulate"), "",
                  "--lengths 0.2,0.35,0.15,0.3,0.25 --observations 300 --order 2 --x-rate 0.1 "
                  "--missing-rate 0.1 --seed 11 --output data.txt");
  ASSERT_EQ(simulated.status, 0) << simulated.err;

  ScannedData data;
  DataSummary summary;
  ASSERT_EQ(load_scan_data((directory.path() / "data.txt").string(), data, summary), "");
  ScanSettings settings;
  settings.orders = {2};
  settings.profiles = false;
  ScanObserver observer;
  const OrderResult result = scan_order(2, settings, observer);
  const CheckOfFit check = check_fit(result, {replicates, 7}, observer);
  ASSERT_EQ(check.replicate_statistics.size(), static_cast<std::size_t>(replicates));
  int reached = 0;
  for (const double statistic : check.replicate_statistics) {
    if (statistic >= check.observed.value) ++reached;
  }
  EXPECT_EQ(check.reached, reached);
  EXPECT_DOUBLE_EQ(check.p_value, (1.0 + reached) / (replicates + 1.0));
  EXPECT_DOUBLE_EQ(bootstrap_p_value(0, 199), 0.005);

  // The same seed repeats every replicate to the bit; another seed draws
  // other tables.
  const CheckOfFit again = check_fit(result, {replicates, 7}, observer);
  EXPECT_EQ(again.observed.value, check.observed.value);
  EXPECT_EQ(again.replicate_statistics, check.replicate_statistics);
  const CheckOfFit other = check_fit(result, {replicates, 8}, observer);
  EXPECT_NE(other.replicate_statistics, check.replicate_statistics);

  // The program's line from 1, 2 and 4 threads, the replicates on them.
  std::vector<std::string> lines;
  for (const char* threads : {"1", "2", "4"}) {
    directory.write("run.sh", std::string("INTERVAL_THREADS=") + threads + " '" +
                                  built_program("interval-scan") +
                                  "' data.txt --orders 2 --intervals wald --quiet --check-fit 9 "
                                  "--seed 7\n");
    const ProgramRun run = run_program(directory, "/bin/sh", "", "run.sh");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::size_t at = run.out.find("check of fit, order 2: ");
    ASSERT_NE(at, std::string::npos) << run.out;
    lines.push_back(run.out.substr(at));
  }
  EXPECT_EQ(lines[0], lines[1]);
  EXPECT_EQ(lines[0], lines[2]);
}

}  // namespace
