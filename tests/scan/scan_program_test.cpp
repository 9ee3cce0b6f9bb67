// interval-scan run as a user runs it: options, data files refused as the
// fitting program refuses them, and the three outputs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/program_runner.hpp"

namespace {

ProgramRun scan(const ScratchDirectory& directory, const std::string& arguments) {
  return run_program(directory, built_program("interval-scan"), "", arguments);
}

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// Writes a simulated data file `name` into the directory.
void simulate(const ScratchDirectory& directory, const std::string& name,
              const std::string& arguments) {
  const ProgramRun run = run_program(directory, built_program("interval-simulate"), "",
                                     arguments + " --output " + name);
  ASSERT_EQ(run.status, 0) << run.err;
}

// The fitting program's message for a data file it refuses: the last line
// of what it prints.
std::string fitting_program_refusal(const ScratchDirectory& directory, const std::string& name) {
  const ProgramRun run = run_program(directory, built_program("interval-fit"), name + "\n1\n0.5\n");
  EXPECT_EQ(run.status, 1);
  const std::string prompt = "Please type in the filename of your data: \n";
  EXPECT_EQ(run.out.rfind(prompt, 0), 0u) << run.out;
  std::string message = run.out.substr(prompt.size());
  if (!message.empty() && message.back() == '\n') message.pop_back();
  return message;
}

}  // namespace

TEST(ScanProgram, HelpExplainsEveryOption) {
  ScratchDirectory directory;
  const ProgramRun run = scan(directory, "--help");
  EXPECT_EQ(run.status, 0);
  for (const char* option : {"DATAFILE", "--orders", "--estimate", "--csv", "--plot"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
}

TEST(ScanProgram, BadOptionsEndWithStatusTwoAndWriteNothing) {
  ScratchDirectory directory;
  directory.write("data.txt", "2 1\nN\nR\n");
  const std::vector<std::string> refused = {
      "",  // no data file
      "data.txt --orders 0",
      "data.txt --orders 3-1",
      "data.txt --orders 1-",
      "data.txt --orders 1,,2",
      "data.txt --orders two",
      "data.txt --orders 101",
      "data.txt --estimate -1",
      "data.txt --estimate nan",
      "data.txt --estimate 0.5x",
      "data.txt --no-such-option",
      "data.txt other.txt",
  };
  for (const std::string& arguments : refused) {
    const ProgramRun run = scan(directory, arguments + " --csv out.csv");
    EXPECT_EQ(run.status, 2) << arguments << "\n" << run.err;
    EXPECT_NE(run.err.find("--help"), std::string::npos) << arguments;
    EXPECT_EQ(run.out, "") << arguments;
    EXPECT_FALSE(directory.exists("out.csv")) << arguments;
  }
}

TEST(ScanProgram, DataFilesAreRefusedWithTheFittingProgramsMessages) {
  ScratchDirectory directory;
  directory.write("letters.txt", "x 3\nNRX\n");
  directory.write("zero.txt", "0 3\n");
  directory.write("no_intervals.txt", "2\n");
  directory.write("huge.txt", "99999999999 3\n");
  for (const std::string name :
       {"missing.txt", "letters.txt", "zero.txt", "no_intervals.txt", "huge.txt"}) {
    const std::string expected = fitting_program_refusal(directory, name);
    ASSERT_FALSE(expected.empty()) << name;
    const ProgramRun run = scan(directory, name);
    EXPECT_EQ(run.status, 1) << name;
    EXPECT_EQ(run.err, expected + "\n") << name;
    EXPECT_EQ(run.out, "") << name;
  }
}

TEST(ScanProgram, ADeviceThatNeverEndsIsJudgedOnWhatItBeginsWith) {
  ScratchDirectory directory;
  directory.write("nul.txt", std::string(4, '\0'));
  const std::string expected = fitting_program_refusal(directory, "nul.txt");
  const ProgramRun run = scan(directory, "/dev/zero");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, expected + "\n");
}

TEST(ScanProgram, ScanWritesTheTableAndTheCsvButNoResultsFile) {
  ScratchDirectory directory;
  simulate(directory, "data.txt", "--lengths 0.2,0.35,0.15 --observations 600 --order 1 --seed 7");
  const ProgramRun run = scan(directory, "data.txt --orders 1,2 --csv fits.csv");
  ASSERT_EQ(run.status, 0) << run.err;

  EXPECT_EQ(run.out.rfind("order    log-likelihood    difference  converged", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("\n    1  "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\n    2  "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Best order: p = "), std::string::npos) << run.out;
  // Three lengths and the total, each with a Wald and a profile interval.
  EXPECT_EQ(count_of(run.out, "  ["), 8u) << run.out;

  // One progress line per order, then one for the best order's profiles.
  EXPECT_EQ(count_of(run.err, "\n"), 3u) << run.err;
  EXPECT_EQ(run.err.rfind("order 1: log-likelihood ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find("\norder 2: log-likelihood "), std::string::npos) << run.err;
  EXPECT_EQ(count_of(run.err, " s\n"), 2u) << run.err;

  const std::string csv = directory.read("fits.csv");
  EXPECT_EQ(csv.rfind("order,interval,length,standard_error,log_likelihood,converged,"
                      "wald_lower,wald_upper,profile_lower,profile_upper\n",
                      0),
            0u);
  EXPECT_EQ(count_of(csv, "\n"), 1u + 2u * 3u) << csv;
  EXPECT_EQ(count_of(csv, "\n1,"), 3u) << csv;
  EXPECT_EQ(count_of(csv, "\n2,"), 3u) << csv;
  EXPECT_FALSE(directory.exists("etest.txt"));
}

TEST(ScanProgram, PlotIsAnSvgFileOrAClearRefusalWithoutPlplot) {
  ScratchDirectory directory;
  directory.write("data.txt", "6 2\nNR\nRN\nNN\nRR\nNR\nNN\n");
  const ProgramRun run = scan(directory, "data.txt --orders 1-2 --plot fits.svg");
  if (run.status == 2) {
    EXPECT_NE(run.err.find("built without PLplot"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    GTEST_SKIP() << "built without PLplot";
  }
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string svg = directory.read("fits.svg");
  EXPECT_NE(svg.find("<svg"), std::string::npos);
  EXPECT_NE(svg.find("</svg>"), std::string::npos);
}

TEST(ScanProgram, OutputsThatCannotBeWrittenEndWithStatusOne) {
  ScratchDirectory directory;
  directory.write("data.txt", "3 1\nN\nR\nN\n");
  for (const std::string option : {"--csv", "--plot"}) {
    const ProgramRun run = scan(directory, "data.txt --orders 1 " + option + " no/such/dir/out");
    if (option == "--plot" && run.status == 2) continue;  // built without PLplot
    EXPECT_EQ(run.status, 1) << option << "\n" << run.err;
    EXPECT_NE(run.err.find("can't open the"), std::string::npos) << run.err;
  }
}
