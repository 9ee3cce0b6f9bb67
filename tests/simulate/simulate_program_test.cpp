#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "model/simulation.hpp"
#include "tests/support/program_runner.hpp"

namespace {

ProgramRun simulate(const ScratchDirectory& where, const std::string& arguments) {
  return run_program(where, built_program("interval-simulate"), "", arguments);
}

std::string with_crlf(const std::string& text) {
  std::string converted;
  for (const char c : text) converted += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return converted;
}

TEST(SimulateProgram, SameSeedGivesSameBytesAndAnotherSeedOtherBytes) {
  ScratchDirectory where;
  const std::string common = "--intervals 4 --observations 50 --order 2 --lengths 0.6 ";
  ASSERT_EQ(simulate(where, common + "--seed 9 --output a.txt").status, 0);
  ASSERT_EQ(simulate(where, common + "--seed 9 --output b.txt").status, 0);
  ASSERT_EQ(simulate(where, common + "--seed 10 --output c.txt").status, 0);
  EXPECT_EQ(where.read("a.txt"), where.read("b.txt"));
  EXPECT_NE(where.read("a.txt"), where.read("c.txt"));
  // Standard output carries the same bytes when no file is named.
  EXPECT_EQ(simulate(where, common + "--seed 9").out, where.read("a.txt"));
}

TEST(SimulateProgram, CrlfChangesOnlyTheLineEnds) {
  ScratchDirectory where;
  const std::string common =
      "--observations 30 --lengths 0.2,1,0.4 --x-rate 0.2 --missing-rate 0.1 ";
  ASSERT_EQ(simulate(where, common + "--output lf.txt").status, 0);
  ASSERT_EQ(simulate(where, common + "--crlf --output crlf.txt").status, 0);
  EXPECT_EQ(where.read("lf.txt").substr(0, 5), "30 3\n");
  EXPECT_EQ(with_crlf(where.read("lf.txt")), where.read("crlf.txt"));
}

TEST(SimulateProgram, WritesTheModelDrawsWithTwiceTheOrderTimesEachLengthAsTheMean) {
  ScratchDirectory where;
  ASSERT_EQ(simulate(where,
                     "--order 3 --lengths 0.25,1.5 --observations 200 --seed 77 "
                     "--x-rate 0.4 --missing-rate 0.05 --output run.txt")
                .status,
            0);
  SimulationSettings settings;
  settings.order = 3;
  settings.rates = {1.5, 9.0};
  settings.x_rate = 0.4;
  settings.missing_rate = 0.05;
  std::string expected = "200 2\n";
  const std::vector<char> codes = simulate_codes(settings, 200, 77);
  for (std::size_t i = 0; i < codes.size(); i += 2) expected += std::string(&codes[i], 2) + "\n";
  EXPECT_EQ(where.read("run.txt"), expected);
}

TEST(SimulateProgram, RefusesBadOptionsWithStatusTwoAMessageAndNoOutput) {
  struct Case {
    const char* arguments;
    const char* message;
  };
  const Case cases[] = {
      {"", "--lengths is required"},
      {"--lengths 1 --bogus", "--bogus"},
      {"--lengths 1 --intervals 0", "--intervals must be at least 1"},
      {"--lengths 1 --observations -3", "--observations must be at least 1"},
      {"--lengths 1 --order 0", "--order must be at least 1"},
      {"--lengths 1 --order two", "--order"},
      {"--lengths -0.5", "finite number of at least 0"},
      {"--lengths nan", "finite number of at least 0"},
      {"--lengths 1,inf", "finite number of at least 0"},
      {"--lengths 1e300", "expected events"},
      {"--lengths 1,2 --intervals 3", "2 values for 3 intervals"},
      {"--lengths 1 --x-rate 1.5", "--x-rate must be a number from 0 to 1"},
      {"--lengths 1 --missing-rate nan", "--missing-rate must be a number from 0 to 1"},
      {"--lengths 1 --seed -1", "a seed is a whole number"},
      {"--lengths 1 --seed 18446744073709551616", "a seed is a whole number"},
      {"--lengths 1 --intervals 100000 --observations 100000", "more than interval-fit can load"},
  };
  ScratchDirectory where;
  where.write("kept.txt", "old contents\n");
  for (const Case& c : cases) {
    const ProgramRun run = simulate(where, std::string(c.arguments) + " --output kept.txt");
    EXPECT_EQ(run.status, 2) << c.arguments;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.arguments << ": " << run.err;
    EXPECT_EQ(where.read("kept.txt"), "old contents\n") << c.arguments;
  }
}

TEST(SimulateProgram, ReportsAnOutputThatCannotBeWrittenWithStatusOne) {
  ScratchDirectory where;
  const ProgramRun missing_folder = simulate(where, "--lengths 1 --output no/such/folder.txt");
  EXPECT_EQ(missing_folder.status, 1);
  EXPECT_NE(missing_folder.err.find("can't open the output file no/such/folder.txt"),
            std::string::npos);
  if (std::FILE* full = std::fopen("/dev/full", "wb")) {
    std::fclose(full);
    const ProgramRun no_space = simulate(where, "--lengths 1 --output /dev/full");
    EXPECT_EQ(no_space.status, 1);
    EXPECT_NE(no_space.err.find("writing /dev/full failed"), std::string::npos) << no_space.err;
  }
}

TEST(SimulateProgram, HelpExplainsEveryOption) {
  ScratchDirectory where;
  const ProgramRun run = simulate(where, "--help");
  EXPECT_EQ(run.status, 0);
  for (const char* option : {"--intervals", "--observations", "--order", "--lengths", "--seed",
                             "--x-rate", "--missing-rate", "--crlf", "--output"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
}

}  // namespace
