// interval-scan run as a user runs it: options, data files refused with the
// line and the fix, the three outputs, and the files a user keeps, which no
// refused, failed or interrupted run may damage.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/program_runner.hpp"
#include "tests/support/small_disk.hpp"

namespace fs = std::filesystem;

namespace {

ProgramRun scan(const ScratchDirectory& directory, const std::string& arguments,
                const std::string& standard_input = "") {
  return run_program(directory, built_program("interval-scan"), standard_input, arguments);
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

// Whether the build draws plots: without PLplot, --plot is refused.
bool plots_available() {
  ScratchDirectory directory;
  return scan(directory, "--help").out.find("built without PLplot") == std::string::npos;
}

// The visible text of an SVG file, one line per text element: PLplot
// writes every character as &#x..;.
std::string svg_text(const std::string& svg) {
  std::string text;
  for (std::size_t at = svg.find("<text"); at != std::string::npos; at = svg.find("<text", at)) {
    const std::size_t end = svg.find("</text>", at);
    if (end == std::string::npos) break;
    const std::string element = svg.substr(at, end - at);
    const std::regex character("&#x([0-9a-fA-F]+);");
    for (std::sregex_iterator c(element.begin(), element.end(), character), none; c != none; ++c) {
      const unsigned long code = std::stoul((*c)[1], nullptr, 16);
      text += code < 128 ? static_cast<char>(code) : '?';
    }
    text += '\n';
    at = end;
  }
  return text;
}

// The entries of the directory, as a sorted list of names.
std::vector<std::string> entries(const ScratchDirectory& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

const std::string small_data = "6 2\nNR\nRN\nNN\nRR\nNR\nNN\n";

// Runs a shell command line in the directory, $SCAN standing for the built
// program: for the redirections a test needs.
ProgramRun shell(const ScratchDirectory& directory, const std::string& command) {
  directory.write("run.sh", "SCAN='" + built_program("interval-scan") + "'\n" + command + "\n");
  ProgramRun run = run_program(directory, "/bin/sh", "", "run.sh");
  fs::remove(directory.path() / "run.sh");
  return run;
}

}  // namespace

TEST(ScanProgram, HelpExplainsEveryOptionAndVersionNamesTheProgram) {
  ScratchDirectory directory;
  const ProgramRun run = scan(directory, "--help");
  EXPECT_EQ(run.status, 0);
  for (const char* option :
       {"DATAFILE", "--orders", "--estimate", "--csv", "--plot", "--quiet", "--version"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
  // The usage line first, every line within 80 columns, and -h as --help.
  EXPECT_EQ(run.out.rfind("Usage: interval-scan [OPTIONS] DATAFILE...\n", 0), 0u) << run.out;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
  EXPECT_EQ(scan(directory, "-h").out, run.out);
  // The version, then the optional parts this build has.
  const ProgramRun version = scan(directory, "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("interval-scan [0-9]+\\.[0-9.]+\n"
                                                       "plot: [^\n]+\ninstruction sets: [^\n]+\n")))
      << version.out;
}

TEST(ScanProgram, OneOrderComesAsSimulateTakesItAndBadOrdersAreNamed) {
  ScratchDirectory directory;
  directory.write("data.txt", small_data);
  const ProgramRun one = scan(directory, "data.txt --order 2 --ci wald");
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out, scan(directory, "data.txt --orders 2 --intervals wald").out);
  // One order is no choice of order.
  EXPECT_EQ(one.out.find("Best order"), std::string::npos) << one.out;
  EXPECT_EQ(one.out.find("Support set"), std::string::npos) << one.out;
  const std::pair<const char*, const char*> refused[] = {
      {"--order 2-3", "--order takes one order; did you mean --orders 2-3?"},
      {"--order 2 --orders 1-3", "--order and --orders both give the orders"},
      {"--orders 4-2", "the range 4-2 runs downwards; write it 2-4"},
      {"--orders 1,101", "101 is above 100"},
      {"--orders 1-x", "'x' is not a whole number"},
  };
  for (const auto& [arguments, message] : refused) {
    const ProgramRun run = scan(directory, std::string("data.txt ") + arguments);
    EXPECT_EQ(run.status, 2) << arguments;
    EXPECT_NE(run.err.find(message), std::string::npos) << arguments << "\n" << run.err;
  }
  const ProgramRun threads = shell(directory, "INTERVAL_THREADS=abc \"$SCAN\" data.txt");
  EXPECT_EQ(threads.status, 2);
  EXPECT_NE(threads.err.find("interval-scan: INTERVAL_THREADS must be a whole number"),
            std::string::npos)
      << threads.err;
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
      "data.txt data.txt",
      "data.txt ./data.txt",
      "- -",
      "''",
      "data.txt --plot -",
      "data.txt --plot fits.txt",
      "data.txt --plot .svg",
      "data.txt --plot ''",
  };
  for (const std::string& arguments : refused) {
    const ProgramRun run = scan(directory, arguments + " --csv out.csv");
    EXPECT_EQ(run.status, 2) << arguments << "\n" << run.err;
    EXPECT_NE(run.err.find("--help"), std::string::npos) << arguments;
    EXPECT_EQ(run.out, "") << arguments;
    EXPECT_EQ(entries(directory), std::vector<std::string>{"data.txt"}) << arguments;
  }
  const ProgramRun empty_csv = scan(directory, "data.txt --csv ''");
  EXPECT_EQ(empty_csv.status, 2);
  EXPECT_NE(empty_csv.err.find("--csv: the file name is empty"), std::string::npos);
}

TEST(ScanProgram, DataFilesAreRefusedNamingTheFileAndTheReason) {
  ScratchDirectory directory;
  directory.write("letters.txt", "x 3\nNRX\n");
  directory.write("zero.txt", "0 3\n");
  directory.write("no_intervals.txt", "2\n");
  directory.write("huge.txt", "99999999999 3\n");
  for (const std::string name : {"letters.txt", "zero.txt", "no_intervals.txt", "huge.txt"}) {
    const std::string expected = fitting_program_refusal(directory, name);
    ASSERT_FALSE(expected.empty()) << name;
    const ProgramRun run = scan(directory, name);
    EXPECT_EQ(run.status, 1) << name;
    EXPECT_EQ(run.err, "interval-scan: " + name + ": " + expected + "\n") << name;
    EXPECT_EQ(run.out, "") << name;
  }
  fs::create_directory(directory.path() / "folder");
  const std::pair<const char*, const char*> unreadable[] = {
      {"nosuch.dat",
       "interval-scan: can't open the data file nosuch.dat: No such file or "
       "directory\n"},
      {"folder", "interval-scan: can't read the data file folder: Is a directory\n"},
  };
  for (const auto& [name, message] : unreadable) {
    const ProgramRun run = scan(directory, name);
    EXPECT_EQ(run.status, 1) << name;
    EXPECT_EQ(run.err, message);
  }
}

TEST(ScanProgram, RowsThatTheClassicReadingWouldShiftAreRefusedWithTheLineAndTheFix) {
  struct Case {
    std::string bytes;
    const char* message;  // after "interval-scan: data.txt, "
  };
  const Case cases[] = {
      {"3 2\nNR\nN\nRN\n",
       "line 3: row 2 holds 1 code, but line 1 announces 2 intervals; give "
       "every row exactly 2 codes"},
      {"2 2\nNRX\nNN\n", "line 2: row 1 holds 3 codes, but line 1 announces 2 intervals"},
      {"3 2\nNR\n\nRN\nNN\n", "line 3: a blank line among the observation rows; remove it"},
      {"4 2\nNR\nRN\n",
       "line 4: the file ends after 2 rows of the 4 observations announced on "
       "line 1; add the missing rows, or announce 2"},
      {"1 2", "line 1: the file ends after 0 rows of the 1 observation announced"},
      {"2 2 \nNR\nRN\n", "line 1: more follows the number of intervals on this line"},
      {"2\r\n2\r\nNR\r\nR\r\n", "line 4: row 2 holds 1 code"},
      // Reading stops once the table is covered: a row longer than what was
      // read is not given the length of the part that was.
      {"1 3\n" + std::string(70'000, 'N') + "\n", "line 2: row 1 holds at least "},
      {"2 2\nNR\nRN\nNN\n\nRR\n",
       "line 4: the file holds 4 rows but line 1 announces 2; announce 4, or remove the rows"},
  };
  ScratchDirectory directory;
  for (const Case& c : cases) {
    directory.write("data.txt", c.bytes);
    const ProgramRun run = scan(directory, "data.txt --orders 1");
    const std::string shown = c.bytes.substr(0, 40);
    EXPECT_EQ(run.status, 1) << shown;
    EXPECT_EQ(run.err.rfind(std::string("interval-scan: data.txt, ") + c.message, 0), 0u)
        << shown << "\n"
        << run.err;
    EXPECT_EQ(run.out, "") << shown;
  }
  // Line ends of either kind, no line end after the last row, and blank
  // lines at the end are all as the classic reading takes them.
  for (const char* accepted : {"2 2\r\nNR\r\nRN\r\n", "2 2\nNR\nRN", "2 2\nNR\nRN\n\n \n"}) {
    directory.write("data.txt", accepted);
    EXPECT_EQ(scan(directory, "data.txt --orders 1").status, 0) << accepted;
  }
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

  // After the data summary, one progress line per order, the costliest
  // (the highest) first as it was scheduled, then one for the best order's
  // profiles, each with its time.
  const std::string progress = run.err.substr(std::min(run.err.find("order 2: "), run.err.size()));
  EXPECT_EQ(count_of(progress, "\n"), 3u) << run.err;
  EXPECT_EQ(progress.rfind("order 2: log-likelihood ", 0), 0u) << run.err;
  EXPECT_NE(progress.find("\norder 1: log-likelihood "), std::string::npos) << run.err;
  EXPECT_EQ(count_of(run.err, " s\n"), 3u) << run.err;

  // Three intervals and the total per order; the total row carries the
  // table's total length and standard error.
  const std::string csv = directory.read("fits.csv");
  EXPECT_EQ(csv.rfind("order,interval,length,standard_error,log_likelihood,converged,"
                      "wald_lower,wald_upper,profile_lower,profile_upper,parameter,file\n",
                      0),
            0u);
  EXPECT_EQ(count_of(csv, "\n"), 1u + 2u * 4u) << csv;
  EXPECT_EQ(count_of(csv, "\n1,"), 4u) << csv;
  EXPECT_EQ(count_of(csv, "\n2,total,"), 1u) << csv;
  std::smatch total;
  ASSERT_TRUE(std::regex_search(csv, total, std::regex("\n1,total,([^,]+),([^,]+),")));
  std::smatch table_total;
  ASSERT_TRUE(std::regex_search(run.out, table_total,
                                std::regex("\n    1 .* yes +([0-9.]+)  ([0-9.]+)\n")));
  EXPECT_NEAR(std::stod(total[1]), std::stod(table_total[1]), 1e-6);
  EXPECT_NEAR(std::stod(total[2]), std::stod(table_total[2]), 1e-6);
  EXPECT_FALSE(directory.exists("etest.txt"));

  // --quiet: the same table and file, nothing on standard error.
  const ProgramRun quiet = scan(directory, "data.txt --orders 1,2 --csv quiet.csv --quiet");
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, run.out);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(directory.read("quiet.csv"), csv);
}

// The example's maxima at orders 2 and 99, reached from the default start
// and by an independent fit from estimates near them.
TEST(ScanProgram, EveryStartReachesTheMaximumThatTheDefaultStartReaches) {
  ScratchDirectory directory;
  std::ifstream example(std::string(INTERVAL_EXAMPLES_DIR) + "/example.dat", std::ios::binary);
  directory.write("data.txt", std::string(std::istreambuf_iterator<char>(example), {}));
  // From far too high a start every observation without an event is
  // impossible; from 20 the search once ended at a local maximum (-812.7);
  // at order 99 the start 0.5 made a class change all but impossible.
  for (const char* options : {"--orders 2 --estimate 1000", "--orders 2 --estimate 20",
                              "--orders 2 --estimate 1e300", "--orders 2"}) {
    const ProgramRun run = scan(directory, std::string("data.txt --intervals wald ") + options);
    ASSERT_EQ(run.status, 0) << options << run.err;
    EXPECT_NE(run.out.find("\n    2       -672.970083      0.000000  yes "), std::string::npos)
        << options << "\n"
        << run.out;
  }
  const ProgramRun high = scan(directory, "data.txt --intervals wald --orders 99");
  ASSERT_EQ(high.status, 0) << high.err;
  EXPECT_NE(high.out.find("\n   99       -802.011098      0.000000  yes "), std::string::npos)
      << high.out;
}

TEST(ScanProgram, TheJsonSummaryNamesTheDataByDigestAndAgreesWithTheTable) {
  ScratchDirectory directory;
  directory.write("a \"quoted\" name.txt", "4 2\nNR\nRN\nNN\nRR\n");
  const ProgramRun run =
      shell(directory, "\"$SCAN\" 'a \"quoted\" name.txt' --orders 1,2 --intervals wald --json -");
  ASSERT_EQ(run.status, 0) << run.err;
  // The table makes way for the summary on standard output.
  EXPECT_NE(run.err.find("\norder  "), std::string::npos) << run.err;
  const std::string& json = run.out;
  EXPECT_NE(json.find("\"name\": \"a \\\"quoted\\\" name.txt\", \"bytes\": 16, \"sha256\": "
                      "\"af4a21cc3b66d270227b9c89b9ac1028ba5bf37e8e62eb7f9feb0cbfb5117cad\""),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"partial\": false"), std::string::npos) << json;
  EXPECT_NE(json.find("\"best_order\": 2,\n  \"support_set\": [1, 2]"), std::string::npos) << json;
  EXPECT_NE(json.find("{\"order\": 2, \"log_likelihood\": -"), std::string::npos) << json;
}

TEST(ScanProgram, EscapeAddsItsLinesAndRowsAndNeverLowersTheLikelihood) {
  ScratchDirectory directory;
  simulate(directory, "data.txt",
           "--lengths 0.2,0.35,0.15 --observations 600 --order 2 --escape-fraction 0.3 --seed 5");
  const ProgramRun plain = scan(directory, "data.txt --orders 1,2 --csv plain.csv");
  const ProgramRun run = scan(directory, "data.txt --orders 1,2 --escape --csv fits.csv");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\n  escape  "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nEscape fraction q by order"), std::string::npos) << run.out;
  // The lengths' rows as before, then one escape row per order.
  const std::string csv = directory.read("fits.csv");
  EXPECT_EQ(count_of(csv, "\n"), 1u + 2u * 5u) << csv;
  // At order 1 every event moves the class, so q cannot be told.
  EXPECT_NE(csv.find("\n1,escape,NA,NA,"), std::string::npos) << csv;
  std::smatch escape;
  for (const char* order : {"2"}) {
    ASSERT_TRUE(std::regex_search(
        csv, escape,
        std::regex(std::string("\n") + order + ",escape,([^,]+),([^,\n]*,){7}escape,data.txt\n")))
        << csv;
    const double q = std::stod(escape[1]);
    EXPECT_TRUE(q >= 0.0 && q <= 1.0) << q;
    // q = 0 is a point of the fit with escape: its likelihood is never lower.
    std::smatch with, without;
    const std::regex total(std::string("\n") + order + ",total,[^,]+,[^,]+,([^,]+),");
    ASSERT_TRUE(std::regex_search(csv, with, total));
    const std::string plain_csv = directory.read("plain.csv");
    ASSERT_TRUE(std::regex_search(plain_csv, without, total));
    EXPECT_GE(std::stod(with[1]), std::stod(without[1]) - 1e-9) << order;
  }
}

// Data with misreads: the fit with e restores the true order and its
// intervals of e hold the true rate; with q as well, each fraction's test
// compares the fit with both against a fit below it, so no LR is negative.
TEST(ScanProgram, ErrorRecoversTheMisreadRateAndTheOrderWithNoNegativeTest) {
  ScratchDirectory directory;
  simulate(directory, "data.txt",
           "--lengths 0.15 --intervals 8 --observations 1500 --order 3 --error-rate 0.03 "
           "--seed 8");
  const ProgramRun run = scan(directory, "data.txt --orders 2-4 --error --csv fits.csv");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\nBest order: p = 3 "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nMisread rate e by order"), std::string::npos) << run.out;
  std::smatch error;
  const std::string csv = directory.read("fits.csv");
  ASSERT_TRUE(std::regex_search(
      csv, error,
      std::regex(
          "\n3,error,[^,]+,[^,]+,[^,]+,yes,([^,]+),([^,]+),([^,]+),([^,]+),error,data.txt\n")))
      << csv;
  for (const std::size_t end : {1U, 3U}) {
    EXPECT_LT(std::stod(error[end]), 0.03) << csv;
    EXPECT_GT(std::stod(error[end + 1]), 0.03) << csv;
  }
  const ProgramRun both =
      scan(directory, "data.txt --orders 3,4 --error --escape --ci wald --json fits.json");
  ASSERT_EQ(both.status, 0) << both.err;
  const std::string json = directory.read("fits.json");
  const std::regex test("\"likelihood_ratio\": ([^,]+),");
  int tests = 0;
  for (std::sregex_iterator it(json.begin(), json.end(), test), end; it != end; ++it, ++tests) {
    EXPECT_GE(std::stod((*it)[1]), 0.0) << json;
  }
  EXPECT_EQ(tests, 4) << json;  // q and e at each order
}

TEST(ScanProgram, SeveralFilesFitTogetherAsTheSumOfTheirOwnFitsAndShareQ) {
  // Without fractions the files share nothing but the order, so the joint
  // maximum at each order is the sum of the files' own maxima, and each
  // file's lengths are those of its own scan.
  ScratchDirectory directory;
  simulate(directory, "a.txt",
           "--lengths 0.15 --intervals 6 --observations 500 --order 3 --escape-fraction 0.3 "
           "--seed 21");
  simulate(directory, "b.txt",
           "--lengths 0.1,0.25,0.1,0.2 --observations 400 --order 3 --escape-fraction 0.3 "
           "--seed 22");
  auto rows = [](const std::string& csv) {
    std::map<std::string, std::pair<double, double>> values;  // length, log-likelihood
    const std::regex row("\n([0-9]+),([0-9a-z]+),([^,]+),[^,]+,([^,]+),.*,([^,\n]*)");
    for (std::sregex_iterator it(csv.begin(), csv.end(), row), end; it != end; ++it) {
      const std::smatch& m = *it;
      values[m[1].str() + " " + m[2].str() + " " + m[5].str()] = {std::stod(m[3]), std::stod(m[4])};
    }
    return values;
  };
  std::map<std::string, std::pair<double, double>> alone;
  for (const std::string file : {"a.txt", "b.txt"}) {
    const ProgramRun run = scan(directory, file + " --orders 1-4 --ci wald --csv fits.csv");
    ASSERT_EQ(run.status, 0) << run.err;
    alone.merge(rows(directory.read("fits.csv")));
  }
  const ProgramRun joint = scan(directory, "a.txt b.txt --orders 1-4 --ci wald --csv fits.csv");
  ASSERT_EQ(joint.status, 0) << joint.err;
  EXPECT_NE(joint.out.find("\nData file a.txt:\n"), std::string::npos) << joint.out;
  EXPECT_NE(joint.out.find("\nData file b.txt:\n"), std::string::npos) << joint.out;
  const auto together = rows(directory.read("fits.csv"));
  // Each order: every length and the total of each file.
  ASSERT_EQ(together.size(), 4u * ((6 + 1) + (4 + 1)));
  EXPECT_EQ(together.size(), alone.size());
  for (const auto& [key, value] : together) {
    ASSERT_EQ(alone.count(key), 1u) << key;
    EXPECT_NEAR(value.first, alone[key].first, 1e-6) << key;
    const std::string order = key.substr(0, key.find(' '));
    const double sum = alone[order + " total a.txt"].second + alone[order + " total b.txt"].second;
    EXPECT_NEAR(value.second, sum, 1e-9 * std::fabs(sum)) << key;
  }

  // With the escape fraction in common, its profile interval holds the
  // truth, and one file named twice is refused.
  const ProgramRun escape = scan(directory, "a.txt b.txt --order 3 --escape --csv fits.csv");
  ASSERT_EQ(escape.status, 0) << escape.err;
  std::smatch q;
  const std::string csv = directory.read("fits.csv");
  ASSERT_TRUE(std::regex_search(
      csv, q, std::regex("\n3,escape,([^,]+),(?:[^,]*,){5}([^,]+),([^,]+),escape,b.txt\n")))
      << csv;
  EXPECT_LT(std::stod(q[2]), 0.3) << csv;
  EXPECT_GT(std::stod(q[3]), 0.3) << csv;
  const ProgramRun twice = scan(directory, "a.txt ./a.txt");
  EXPECT_EQ(twice.status, 2);
  EXPECT_NE(twice.err.find("name each file once"), std::string::npos) << twice.err;
}

TEST(ScanProgram, TheThreadCountChangesNoByteOfTheResults) {
  // The orders, the best order's profile intervals and the rows of the
  // information run on the worker threads and end in any order: the table,
  // the CSV and the progress lines (but for their times) must come out the
  // same from 1, 2 and 4 threads.
  ScratchDirectory directory;
  simulate(directory, "data.txt",
           "--lengths 0.2,0.35,0.15 --observations 600 --order 2 --escape-fraction 0.2 --seed 5");
  const std::regex times("[0-9]+\\.[0-9]+ s");
  struct Output {
    std::string out, csv, err;
  };
  simulate(directory, "other.txt",
           "--lengths 0.1,0.3 --observations 300 --order 2 --escape-fraction 0.2 --seed 6");
  // Orders at once; with the escape fit and every order's profiles (nested
  // runs); one order alone, whose information rows are shared out; two
  // files, evaluated on the threads and added in their order.
  const std::vector<std::string> variants = {" --orders 1-4",
                                             " --orders 1-4 --escape --profile-all", " --orders 3",
                                             " other.txt --orders 2-3 --escape"};
  std::vector<Output> one_thread;
  for (const char* threads : {"1", "2", "4"}) {
    for (std::size_t v = 0; v < variants.size(); ++v) {
      const ProgramRun run =
          shell(directory, std::string("INTERVAL_THREADS=") + threads +
                               " \"$SCAN\" data.txt --csv fits.csv" + variants[v]);
      ASSERT_EQ(run.status, 0) << run.err;
      const Output output{run.out, directory.read("fits.csv"),
                          std::regex_replace(run.err, times, "s")};
      if (one_thread.size() < variants.size()) {
        one_thread.push_back(output);
        continue;
      }
      EXPECT_EQ(output.out, one_thread[v].out) << threads << variants[v];
      EXPECT_EQ(output.csv, one_thread[v].csv) << threads << variants[v];
      EXPECT_EQ(output.err, one_thread[v].err) << threads << variants[v];
    }
  }
}

TEST(ScanProgram, DashReadsStandardInputAndWritesTheCsvToStandardOutput) {
  ScratchDirectory directory;
  directory.write("data.txt", small_data);
  const ProgramRun from_file = scan(directory, "data.txt --orders 1-2 --csv fits.csv");
  ASSERT_EQ(from_file.status, 0) << from_file.err;
  const ProgramRun piped = scan(directory, "- --orders 1-2 --csv -", small_data);
  ASSERT_EQ(piped.status, 0) << piped.err;
  // Standard output carries the CSV alone, each row naming the data file
  // as given; the table goes to standard error.
  EXPECT_EQ(std::regex_replace(piped.out, std::regex(",-\n"), ",data.txt\n"),
            directory.read("fits.csv"));
  EXPECT_NE(piped.err.find(from_file.out), std::string::npos) << piped.err;
  const ProgramRun bad = scan(directory, "- --orders 1", "2 2\nNR\n");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err.rfind("interval-scan: standard input, line 3: the file ends after 1 row", 0),
            0u)
      << bad.err;
}

TEST(ScanProgram, PlotIsALandscapeSvgThatNamesTheDataAndMarksTheBestOrder) {
  ScratchDirectory directory;
  fs::create_directory(directory.path() / "folder");
  directory.write("folder/data.txt", small_data);
  const ProgramRun run = scan(directory, "folder/data.txt --orders 1-2 --plot fits.svg");
  if (!plots_available()) {
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("built without PLplot"), std::string::npos) << run.err;
    GTEST_SKIP() << "built without PLplot";
  }
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string svg = directory.read("fits.svg");
  std::smatch size;
  ASSERT_TRUE(
      std::regex_search(svg, size, std::regex("width=\"([0-9]+)pt\"\\s+height=\"([0-9]+)pt\"")));
  EXPECT_GT(std::stoi(size[1]), std::stoi(size[2]));
  const std::string text = svg_text(svg);
  EXPECT_NE(text.find("data.txt: M = 6 observations, n = 2 intervals"), std::string::npos) << text;
  EXPECT_NE(text.find("best: p = "), std::string::npos) << text;
  // The caption says which intervals the bars are.
  EXPECT_NE(text.find("bars: 95% profile-likelihood intervals"), std::string::npos) << text;
  // The title names the file without its folder.
  EXPECT_EQ(text.find("folder/"), std::string::npos) << text;
  EXPECT_NE(text.find("shaded: within 2 units of the best"), std::string::npos) << text;
  const ProgramRun wald =
      scan(directory, "folder/data.txt --order 2 --intervals wald --plot wald.svg");
  ASSERT_EQ(wald.status, 0) << wald.err;
  const std::string one_order = svg_text(directory.read("wald.svg"));
  EXPECT_NE(one_order.find("bars: 95% Wald intervals"), std::string::npos);
  // One order, 2: its axis runs from 1.5 to 2.5 and is numbered at 2 alone.
  for (const char* fraction : {"\n1.6\n", "\n1.8\n", "\n2.2\n", "\n2.4\n"}) {
    EXPECT_EQ(one_order.find(fraction), std::string::npos) << one_order;
  }
  // Every axis number is written out in full: no "(x10^k)" in a corner.
  EXPECT_EQ(text.find("x10"), std::string::npos) << text;
  EXPECT_NE(svg.find("</svg>"), std::string::npos);
}

TEST(ScanProgram, APlotThatDoesNotFitTheDiskIsReportedAndLeavesTheEarlierPlot) {
  ScratchDirectory directory;
  directory.write("data.txt", small_data);
  if (!plots_available()) GTEST_SKIP() << "built without PLplot";
  SmallDisk disk(directory.path() / "disk", 64);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  // The earlier plot takes half the disk; the new one cannot fit beside it.
  const std::string earlier_plot = "earlier plot\n" + std::string(30000, '.');
  directory.write("disk/out.svg", earlier_plot);
  directory.write("disk/out.csv", "earlier table\n");
  const ProgramRun run =
      scan(directory, "data.txt --orders 1-3 --csv disk/out.csv --plot disk/out.svg");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("can't write the plot file disk/out.svg: No space left on device"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(directory.read("disk/out.svg"), earlier_plot);
  EXPECT_EQ(directory.read("disk/out.csv").rfind("order,interval,", 0), 0u);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(disk.folder())) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"out.csv", "out.svg"}));
}

// Every signal that stops a run, Ctrl-\\ and the user and timer signals
// as well as SIGTERM.
TEST(ScanProgram, ASignalDuringTheFitsLeavesTheEarlierFileAndNoTemporary) {
  ScratchDirectory directory;
  simulate(directory, "data.txt", "--lengths 0.3 --intervals 40 --observations 30 --seed 3");
  directory.write("out.csv", "earlier table\n");
  const std::string program = built_program("interval-scan");
  const std::string data = (directory.path() / "data.txt").string();
  const std::string csv = (directory.path() / "out.csv").string();
  // Ctrl-C and Ctrl-\ ask the scan to stop: it ends with status 130 and
  // writes the orders it finished, if any, as a whole file; the other
  // signals end it as they would.
  for (const int signal_number : {SIGINT, SIGTERM, SIGQUIT, SIGUSR1, SIGALRM, SIGVTALRM}) {
    const bool stops = signal_number == SIGINT || signal_number == SIGQUIT;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      freopen("/dev/null", "w", stdout);
      freopen("/dev/null", "w", stderr);
      // SIGQUIT's default action dumps core: not into the build folder.
      const rlimit no_core{0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
      execl(program.c_str(), program.c_str(), data.c_str(), "--orders", "1-100", "--csv",
            csv.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // Computing: the outputs are open (a temporary beside out.csv, or
    // out.csv itself emptied, as a program that opens it directly would).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (entries(directory).size() < 3 && directory.read("out.csv") == "earlier table\n" &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(child, signal_number);
    int status = 0;
    waitpid(child, &status, 0);
    if (stops) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << signal_number;
      const std::string written = directory.read("out.csv");
      EXPECT_TRUE(written == "earlier table\n" || written.rfind("order,interval,", 0) == 0)
          << written;
      directory.write("out.csv", "earlier table\n");
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << signal_number;
      EXPECT_EQ(directory.read("out.csv"), "earlier table\n") << signal_number;
    }
    EXPECT_EQ(entries(directory), (std::vector<std::string>{"data.txt", "out.csv"}))
        << signal_number;
  }
}

// The plotting library needs scratch space in the temporary folder and
// ends the process without it; the scan finds that out first and says so.
TEST(ScanProgram, AFullTemporaryFolderIsReportedAndLeavesNoTemporary) {
  if (!plots_available()) GTEST_SKIP() << "built without PLplot";
  ScratchDirectory directory;
  directory.write("data.txt", small_data);
  directory.write("out.svg", "earlier plot\n");
  SmallDisk disk(directory.path() / "disk", 64);
  if (!disk.mounted()) GTEST_SKIP() << disk.why();
  directory.write("disk/fill", std::string(std::size_t{1} << 17, '.'));
  const ProgramRun run =
      shell(directory, "TMPDIR=\"$PWD/disk\" $SCAN data.txt --orders 1 --quiet --plot out.svg");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("can't draw the plot file out.svg: no room for the plotting library's "
                         "scratch files in "),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("(is the disk full?)"), std::string::npos) << run.err;
  EXPECT_EQ(directory.read("out.svg"), "earlier plot\n");
  EXPECT_EQ(entries(directory), (std::vector<std::string>{"data.txt", "disk", "out.svg"}));
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(disk.folder())) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{"fill"});
}

// The library reads '#' as the start of an escape of its own; a name is
// shown as it is, and the SVG stays well-formed XML.
TEST(ScanProgram, ThePlotShowsEveryDataFileNameLiterally) {
  if (!plots_available()) GTEST_SKIP() << "built without PLplot";
  const bool can_parse = std::system("xmllint --version > /dev/null 2>&1") == 0;
  struct Name {
    std::string file;
    std::string shown;  // bytes beyond ASCII are '?' in svg_text
  };
  const Name names[] = {{"a#gb.dat", "a#gb.dat"},
                        {"big#[0xFFFFFFFF].dat", "big#[0xFFFFFFFF].dat"},
                        {"a#[0xD800].dat", "a#[0xD800].dat"},
                        {"x<&\xff#u.dat", "x<&?#u.dat"}};
  ScratchDirectory directory;
  for (const Name& name : names) {
    directory.write(name.file, small_data);
    const ProgramRun run =
        scan(directory, "'" + name.file + "' --orders 1 --intervals wald --quiet --plot out.svg");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "") << name.shown;
    const std::string text = svg_text(directory.read("out.svg"));
    EXPECT_NE(text.find(name.shown + ": M = 6 observations"), std::string::npos) << text;
    if (can_parse) {
      const ProgramRun parse =
          run_program(directory, "/bin/sh", "", "-c 'xmllint --noout out.svg'");
      EXPECT_EQ(parse.status, 0) << name.shown << "\n" << parse.err;
    }
  }
}

TEST(ScanProgram, ProgressShowsOnATerminalWhileAnOrderTakesLong) {
  // util-linux's script(1); the BSD one takes other options.
  if (std::system("script --version 2>&1 | grep -q util-linux") != 0) {
    GTEST_SKIP() << "no util-linux script(1) to give the program a terminal";
  }
  ScratchDirectory directory;
  // Enough rows that order 1 takes well over the second before the line
  // shows, however fast the objective.
  simulate(directory, "data.txt", "--lengths 0.3 --intervals 40 --observations 1600 --seed 3");
  // script(1) gives the program a terminal for its standard streams.
  const std::string command =
      "script -qec \"'$SCAN' data.txt --orders 15 --intervals wald --csv out.csv";
  const ProgramRun shown = shell(directory, command + "\" /dev/null");
  EXPECT_TRUE(std::regex_search(
      shown.out, std::regex("\rinterval-scan: 0 of 1 orders fitted; order 15, (fit|information), "
                            "[0-9]+ evaluations, [0-9]+ s")))
      << shown.out;
  const ProgramRun quiet = shell(directory, command + " --quiet\" /dev/null");
  EXPECT_EQ(quiet.out.find(" evaluations, "), std::string::npos) << quiet.out;
}
