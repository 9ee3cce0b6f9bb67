#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>

#include "model/simulation.hpp"
#include "tests/support/program_runner.hpp"
#include "tests/support/small_disk.hpp"

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
  // An escape fraction of 0 draws nothing from the escape process, so the
  // random stream, and with it the file of a given seed, is unchanged.
  EXPECT_EQ(simulate(where, common + "--seed 9 --escape-fraction 0").out, where.read("a.txt"));
  EXPECT_NE(simulate(where, common + "--seed 9 --escape-fraction 0.5").out, where.read("a.txt"));
}

TEST(SimulateProgram, CrlfChangesOnlyTheLineEnds) {
  ScratchDirectory where;
  const std::string common =
      "--observations 30 --lengths 0.2,1,0.4 --x-rate 0.2 --missing-rate 0.1 --seed 4 ";
  ASSERT_EQ(simulate(where, common + "--output lf.txt").status, 0);
  ASSERT_EQ(simulate(where, common + "--crlf --output crlf.txt").status, 0);
  EXPECT_EQ(where.read("lf.txt").substr(0, 5), "30 3\n");
  EXPECT_EQ(with_crlf(where.read("lf.txt")), where.read("crlf.txt"));
}

TEST(SimulateProgram, WritesTheModelDrawsWithTwiceTheOrderTimesEachLengthAsTheMean) {
  ScratchDirectory where;
  ASSERT_EQ(simulate(where,
                     "--order 3 --lengths 0.25,1.5 --observations 200 --seed 77 "
                     "--x-rate 0.4 --missing-rate 0.05 --error-rate 0.1 --output run.txt")
                .status,
            0);
  SimulationSettings settings;
  settings.order = 3;
  settings.rates = {1.5, 9.0};
  settings.x_rate = 0.4;
  settings.missing_rate = 0.05;
  settings.error_rate = 0.1;
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
      {"--lengths 1 --order two", "--order must be a whole number, such as 10 (got 'two')"},
      {"--lengths 1 --intervals 3.5", "--intervals must be a whole number"},
      {"--lengths -0.5", "finite number of at least 0"},
      {"--lengths nan", "finite number of at least 0"},
      {"--lengths 1,inf", "finite number of at least 0"},
      {"--lengths 0.2,abc", "--lengths: 'abc' is not a number"},
      {"--lengths 1e300", "expected events"},
      {"--lengths 1,2 --intervals 3", "2 values for 3 intervals"},
      {"--lengths 1 --x-rate 1.5", "--x-rate must be a number from 0 to 1"},
      {"--lengths 1 --missing-rate nan", "--missing-rate must be a number from 0 to 1"},
      {"--lengths 1 --escape-fraction 1.5", "--escape-fraction must be a number from 0 to 1"},
      {"--lengths 1 --escape-fraction -0.1", "--escape-fraction must be a number from 0 to 1"},
      {"--lengths 1 --error-rate 0.5", "--error-rate must be a number from 0 to below 0.5"},
      {"--lengths 1 --error-rate -0.01", "--error-rate must be a number from 0 to below 0.5"},
      {"--lengths 1 --seed -1", "a seed is a whole number"},
      {"--lengths 1 --seed 18446744073709551616", "a seed is a whole number"},
      {"--lengths 1 --intervals 1000 --observations 10000000", "more than interval-fit can load"},
      {"--lengths 0.2 --output a.txt --output b.txt", "--output is given more than once"},
      {"--lengths 1 --output ''", "--output: the file name is empty"},
  };
  ScratchDirectory where;
  where.write("kept.txt", "old contents\n");
  for (const Case& c : cases) {
    const std::string arguments = c.arguments;
    const bool names_output = arguments.find("--output") != std::string::npos;
    const ProgramRun run = simulate(where, arguments + (names_output ? "" : " --output kept.txt"));
    EXPECT_EQ(run.status, 2) << c.arguments;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.arguments << ": " << run.err;
    EXPECT_EQ(run.err.find("Could not convert"), std::string::npos) << run.err;
    EXPECT_EQ(where.read("kept.txt"), "old contents\n") << c.arguments;
  }
  // One length per interval, more of them than the fit takes.
  std::string many = "0.1";
  for (int k = 1; k <= 1000; ++k) many += ",0.1";
  const ProgramRun run = simulate(where, "--lengths " + many + " --output kept.txt");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--lengths gives 1001 lengths"), std::string::npos) << run.err;
  EXPECT_EQ(where.read("kept.txt"), "old contents\n");
}

TEST(SimulateProgram, AFileThatDoesNotFitTheDiskIsReportedAndLeavesTheEarlierFile) {
  ScratchDirectory where;
  // A disk too small for the new file: the earlier one stays whole, and no
  // half file or temporary is left.
  SmallDisk disk(where.path() / "disk", 16);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  const std::string earlier = "3 1\nN\nR\nN\n";
  where.write("disk/sim.dat", earlier);
  const ProgramRun full =
      simulate(where, "--lengths 0.3 --intervals 10 --observations 100000 --output disk/sim.dat");
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("can't write the output file disk/sim.dat: No space left on device"),
            std::string::npos)
      << full.err;
  EXPECT_EQ(where.read("disk/sim.dat"), earlier);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(disk.folder()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(SimulateProgram, ReplacesAnEarlierFileThroughItsLinkKeepingItsPermissions) {
  ScratchDirectory where;
  where.write("data.txt", "earlier\n");
  std::filesystem::permissions(where.path() / "data.txt", std::filesystem::perms::owner_read |
                                                              std::filesystem::perms::owner_write |
                                                              std::filesystem::perms::group_read);
  std::filesystem::create_symlink("data.txt", where.path() / "link.txt");
  ASSERT_EQ(simulate(where, "--lengths 0.5 --observations 3 --output link.txt").status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(where.path() / "link.txt"));
  EXPECT_EQ(where.read("data.txt").substr(0, 4), "3 1\n");
  EXPECT_EQ(std::filesystem::status(where.path() / "data.txt").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
}

TEST(SimulateProgram, WithoutASeedEachRunDrawsAFreshOneAndNamesIt) {
  ScratchDirectory where;
  const std::string common = "--observations 40 --lengths 0.3 --intervals 8 ";
  const ProgramRun first = simulate(where, common + "-o first.txt");
  const ProgramRun second = simulate(where, common + "-o second.txt");
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_NE(where.read("first.txt"), where.read("second.txt"));
  std::smatch seed;
  ASSERT_TRUE(std::regex_search(first.err, seed,
                                std::regex("^interval-simulate: seed ([0-9]+) \\(give --seed "
                                           "([0-9]+) to write this file again\\)\n$")))
      << first.err;
  EXPECT_EQ(seed[1], seed[2]);
  // The named seed writes the same file again, and says nothing.
  const ProgramRun again = simulate(where, common + "--seed " + seed[1].str());
  EXPECT_EQ(again.out, where.read("first.txt"));
  EXPECT_EQ(again.err, "");
  EXPECT_EQ(simulate(where, common + "-q -o quiet.txt").err, "");
}

TEST(SimulateProgram, HelpExplainsEveryOptionAndVersionNamesTheProgram) {
  ScratchDirectory where;
  const ProgramRun run = simulate(where, "--help");
  EXPECT_EQ(run.status, 0);
  for (const char* option :
       {"--intervals", "--observations", "--order", "--lengths", "--seed", "--x-rate",
        "--missing-rate", "--error-rate", "--crlf", "--output", "--version"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(run.out.rfind("Usage: interval-simulate [OPTIONS]\n", 0), 0u) << run.out;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
  const ProgramRun version = simulate(where, "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("interval-simulate ", 0), 0u) << version.out;
}

}  // namespace
