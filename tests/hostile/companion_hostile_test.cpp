// The companions' files under hostile command lines: outputs named after
// the data file or after each other (directly, through links), names the
// plotting library would interpret, outputs that cannot be written, runs
// that cannot finish, closed standard streams, and list options with empty
// items.  Each case runs a shell command line in a scratch directory and
// states the exit status, how standard error begins, and every file the
// directory holds afterwards: no result file may be destroyed, no failed
// write may be reported as success, and no temporary may be left behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/program_runner.hpp"

namespace fs = std::filesystem;

namespace {

const std::string data = "6 2\nNR\nRN\nNN\nRR\nNR\nNN\n";
const std::string earlier_csv = "earlier table\n";
const std::string earlier_svg = "earlier plot\n";
// Stands for a file the case expects, whatever it holds.
const std::string any_content = "\x1a";

using Setup = std::function<void(const ScratchDirectory&)>;

struct CompanionCase {
  std::string name;
  Setup setup;          // beyond data.txt, out.csv and out.svg
  std::string command;  // $SCAN and $SIMULATE stand for the programs
  int status;
  std::string err_start;  // how standard error begins
  // Every regular file afterwards, with its content (links are listed by
  // what reading them gives).
  std::map<std::string, std::string> files;
  bool needs_plot = false;
  bool needs_superuser = false;  // to run the command as another user
};

std::map<std::string, std::string> untouched(std::map<std::string, std::string> more = {}) {
  more.emplace("data.txt", data);
  more.emplace("out.csv", earlier_csv);
  more.emplace("out.svg", earlier_svg);
  return more;
}

Setup links() {
  return [](const ScratchDirectory& where) {
    fs::create_symlink("data.txt", where.path() / "soft.txt");
    fs::create_hard_link(where.path() / "data.txt", where.path() / "hard.txt");
    fs::create_symlink("out.csv", where.path() / "csv-link.svg");
  };
}

Setup none() {
  return [](const ScratchDirectory&) {};
}

std::vector<CompanionCase> all_cases() {
  const std::string refused = "Run '";
  return {
      // An output landing on the data file or on the other output.
      {"ScanCsvOverTheDataFile", none(), "$SCAN data.txt --orders 1 --csv data.txt", 2,
       "interval-scan: the CSV file data.txt is the same file as the data file data.txt;",
       untouched()},
      {"ScanCsvOverTheDataFileThroughASymbolicLink", links(),
       "$SCAN data.txt --orders 1 --csv soft.txt", 2,
       "interval-scan: the CSV file soft.txt is the same file as the data file data.txt;",
       untouched({{"soft.txt", data}, {"hard.txt", data}, {"csv-link.svg", earlier_csv}})},
      {"ScanCsvOverTheDataFileThroughAHardLink", links(),
       "$SCAN soft.txt --orders 1 --csv hard.txt", 2,
       "interval-scan: the CSV file hard.txt is the same file as the data file soft.txt;",
       untouched({{"soft.txt", data}, {"hard.txt", data}, {"csv-link.svg", earlier_csv}})},
      {"ScanCsvOverTheDataFileReadFromStandardInput", none(),
       "$SCAN - --orders 1 --csv ./data.txt < data.txt", 2,
       "interval-scan: the CSV file ./data.txt is the same file as the data file standard input;",
       untouched()},
      {"ScanPlotOverTheDataFileThroughALink", links(),
       "$SCAN data.txt --orders 1 --plot soft.txt.svg --csv soft.txt", 2,
       "interval-scan: the CSV file soft.txt is the same file as the data file data.txt;",
       untouched({{"soft.txt", data}, {"hard.txt", data}, {"csv-link.svg", earlier_csv}})},
      {"ScanCsvAndPlotTheSameNewFile", none(),
       "$SCAN data.txt --orders 1 --csv new.svg --plot ./new.svg", 2,
       "interval-scan: the plot file ./new.svg is the same file as the CSV file new.svg;",
       untouched()},
      {"ScanCsvAndPlotTheSameFileThroughALink", links(),
       "$SCAN data.txt --orders 1 --csv out.csv --plot csv-link.svg", 2,
       "interval-scan: the plot file csv-link.svg is the same file as the CSV file out.csv;",
       untouched({{"soft.txt", data}, {"hard.txt", data}, {"csv-link.svg", earlier_csv}})},
      // Names the plotting library would read as orders of its own.
      {"ScanPlotToStandardOutput", none(), "$SCAN data.txt --orders 1 --plot -", 2,
       "interval-scan: --plot: a plot goes to a file, not to standard output;", untouched()},
      {"ScanPlotNameWithAPercentSign", none(),
       "$SCAN data.txt --orders 1 --plot 'out%n.svg' --quiet", 0, "",
       untouched({{"out%n.svg", any_content}}), true},
      {"ScanPlotInAFolderWithAPercentSign",
       [](const ScratchDirectory& where) { fs::create_directory(where.path() / "q%n"); },
       "$SCAN data.txt --orders 1 --plot q%n/fits.svg --quiet", 0, "",
       untouched({{"q%n/fits.svg", any_content}}), true},
      {"ScanPlotNotEndingInSvg", none(), "$SCAN data.txt --orders 1 --plot out.csv", 2,
       "interval-scan: --plot: 'out.csv' does not end in .svg, .pdf or .png", untouched()},
      // Outputs that cannot be written, found before or after the fits.
      {"ScanPlotIntoAMissingFolderKeepsTheEarlierCsv", none(),
       "$SCAN data.txt --orders 1 --csv out.csv --plot no/such/x.svg", 1,
       "interval-scan: can't write the plot file no/such/x.svg: No such file or directory\n",
       untouched(), true},
      // Every observation is impossible at the start; the search finds
      // where they are possible, and fits.
      {"ScanFromAnImpossiblyHighStartStillFitsAndPlots", none(),
       "$SCAN data.txt --orders 1 --estimate 1e308 --quiet --csv new.csv --plot out.svg", 0, "",
       untouched({{"new.csv", any_content}, {"out.svg", any_content}}), true},
      {"ScanTableToAFullDevice", none(), "$SCAN data.txt --orders 1 --quiet > /dev/full", 1,
       "interval-scan: writing the table to standard output failed: No space left on device\n",
       untouched()},
      {"ScanCsvToAFullDevice", none(), "$SCAN data.txt --orders 1 --quiet --csv /dev/full", 1,
       "interval-scan: can't write the CSV file /dev/full: No space left on device\n", untouched()},
      {"ScanCsvOverAFolder", none(), "$SCAN data.txt --orders 1 --csv .", 1,
       "interval-scan: can't write the CSV file .: Is a directory\n", untouched()},
      // Standard error closed: descriptor 2 must not become the CSV.
      {"ScanWithStandardErrorClosed", none(), "$SCAN data.txt --orders 1-2 --csv new.csv 2>&-", 0,
       "",
       untouched({{"new.csv", "order,interval,length,standard_error,log_likelihood,converged"}})},
      // Standard output closed: /dev/null takes its place, and the lost
      // table or file is reported.
      {"ScanWithStandardOutputClosed", none(), "$SCAN data.txt --orders 1 --quiet >&-", 1,
       "interval-scan: writing the table to standard output failed: Bad file descriptor\n",
       untouched()},
      {"SimulateWithStandardOutputClosed", none(), "$SIMULATE --lengths 0.2 >&-", 1,
       "interval-simulate: can't write to standard output: Bad file descriptor\n", untouched()},
      // The simulator's list, and what the fit would refuse.
      {"SimulateEmptyLengths", none(), "$SIMULATE --lengths '' --output out.csv", 2,
       "interval-simulate: --lengths is empty;", untouched()},
      {"SimulateTwoCommasInARow", none(), "$SIMULATE --lengths 0.2,,0.3 --output out.csv", 2,
       "interval-simulate: --lengths '0.2,,0.3' has an empty item", untouched()},
      {"SimulateTrailingComma", none(), "$SIMULATE --lengths 0.2, --output out.csv", 2,
       "interval-simulate: --lengths '0.2,' has an empty item", untouched()},
      {"SimulateLeadingComma", none(), "$SIMULATE --lengths ,0.2 --output out.csv", 2,
       "interval-simulate: --lengths ',0.2' has an empty item", untouched()},
      {"SimulateRepeatedLengths", none(), "$SIMULATE --lengths 0.2 --lengths 0.3 --output out.csv",
       2, "interval-simulate: --lengths is given more than once", untouched()},
      {"SimulateOrderAboveTheFits", none(), "$SIMULATE --lengths 0.2 --order 101 --output out.csv",
       2, "interval-simulate: --order must be at most 100", untouched()},
      {"SimulateMoreIntervalsThanTheFitTakes", none(),
       "$SIMULATE --lengths 0.2 --intervals 1001 --output out.csv", 2,
       "interval-simulate: --intervals must be at most 1000", untouched()},
      {"SimulateToAFullDevice", none(), "$SIMULATE --lengths 0.2 --output /dev/full", 1,
       "interval-simulate: can't write the output file /dev/full: No space left on device\n",
       untouched()},
      {"SimulateIntoAMissingFolder", none(), "$SIMULATE --lengths 0.2 --output no/such.dat", 1,
       "interval-simulate: can't write the output file no/such.dat: No such file or directory\n",
       untouched()},
      // Names of open descriptors are written through the descriptor: what
      // the shell's redirection holds is kept, and a pipe is a pipe.
      {"ScanCsvAppendedToStandardOutput", none(),
       "printf 'earlier line\\n' > log.txt; $SCAN data.txt --orders 1 --quiet --csv /dev/stdout "
       ">> log.txt",
       0, "", untouched({{"log.txt", "earlier line\norder,interval,"}})},
      {"ScanCsvOnStandardOutputSendsTheTableToStandardError", none(),
       "$SCAN data.txt --orders 1 --quiet --csv /dev/fd/1 > got.csv 2> table.txt", 0, "",
       untouched({{"got.csv", "order,interval,"}, {"table.txt", "order    log-likelihood"}})},
      {"ScanCsvAppendedToStandardError", none(),
       "printf 'earlier line\\n' > err.txt; $SCAN data.txt --orders 1 --quiet --csv /dev/stderr "
       "2>> err.txt",
       0, "", untouched({{"err.txt", "earlier line\norder,interval,"}})},
      {"ScanCsvNamedAfterTheFileStandardOutputAppendsTo", none(),
       "printf 'earlier line\\n' > log.txt; $SCAN data.txt --orders 1 --quiet --csv log.txt "
       ">> log.txt 2> table.txt",
       0, "",
       untouched({{"log.txt", "earlier line\norder,interval,"},
                  {"table.txt", "order    log-likelihood"}})},
      {"ScanCsvThroughAPipe", none(),
       "{ $SCAN data.txt --orders 1 --quiet --csv /proc/self/fd/3 3>&1 > /dev/null; } | cat > "
       "got.csv",
       0, "", untouched({{"got.csv", "order,interval,"}})},
      {"SimulateOutputAppendedToStandardOutput", none(),
       "printf 'earlier line\\n' > log.txt; $SIMULATE --lengths 0.2 --intervals 2 --output "
       "/dev/stdout >> log.txt",
       0, "", untouched({{"log.txt", "earlier line\n100 2\n"}})},
      {"SimulateOutputThroughAPipe", none(),
       "$SIMULATE --lengths 0.2 --intervals 2 --output /dev/stdout | cat > got.dat", 0, "",
       untouched({{"got.dat", "100 2\n"}})},
      // Help and version that standard output does not take, and a
      // file-size limit, are failed writes like any other.
      {"ScanHelpToAFullDevice", none(), "$SCAN --help > /dev/full", 1,
       "interval-scan: can't write the help to standard output: No space left on device\n",
       untouched()},
      {"SimulateVersionToAFullDevice", none(), "$SIMULATE --version > /dev/full", 1,
       "interval-simulate: can't write the version to standard output: No space left on device\n",
       untouched()},
      {"ScanCsvBeyondTheFileSizeLimit", none(),
       "ulimit -f 1; $SCAN data.txt --orders 1-4 --quiet --csv big.csv > /dev/null", 1,
       "interval-scan: can't write the CSV file big.csv: File too large\n", untouched()},
      {"SimulateBeyondTheFileSizeLimit", none(),
       "ulimit -f 2; $SIMULATE --lengths 0.2 --observations 5000 --output big.dat", 1,
       "interval-simulate: can't write the output file big.dat: File too large\n", untouched()},
      // A refused environment ends the run before an output is opened.
      {"ScanWithARefusedThreadCountLeavesNoTemporary", none(),
       "INTERVAL_THREADS=0 $SCAN data.txt --orders 1 --csv new.csv", 2,
       "interval-scan: INTERVAL_THREADS must be a whole number from 1 to 256", untouched()},
      // Names and links: the longest name a folder takes, links that name
      // no file, and a target the rename may not replace.
      {"ScanCsvWithTheLongestNameTheFolderTakes", none(),
       "$SCAN data.txt --orders 1 --quiet --csv " + std::string(251, 'c') + ".csv", 0, "",
       untouched({{std::string(251, 'c') + ".csv", "order,interval,"}})},
      {"SimulateOutputOnALinkLoop", none(),
       "ln -s loop.dat loop.dat; $SIMULATE --lengths 0.2 --output loop.dat", 1,
       "interval-simulate: can't write the output file loop.dat: Too many levels of symbolic "
       "links\n",
       untouched()},
      {"ScanCsvAtTheEndOfTooLongAChainOfLinks", none(),
       "k=1; while [ $k -le 41 ]; do ln -s link$((k + 1)) link$k; k=$((k + 1)); done; "
       "$SCAN data.txt --orders 1 --csv link1",
       1, "interval-scan: can't write the CSV file link1: Too many levels of symbolic links\n",
       untouched()},
      // Before any fit: no progress line may come before the refusal.
      {"ScanCsvOverSomeoneElsesFileInAStickyFolder",
       [](const ScratchDirectory& where) {
         fs::permissions(where.path(),
                         fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
         fs::create_directory(where.path() / "shared");
         fs::permissions(where.path() / "shared", fs::perms::all | fs::perms::sticky_bit);
         where.write("shared/theirs.csv", earlier_csv);
         fs::permissions(where.path() / "shared/theirs.csv",
                         fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                             fs::perms::group_write | fs::perms::others_read |
                             fs::perms::others_write);
       },
       "setpriv --reuid=65534 --regid=65534 --clear-groups $SCAN data.txt --orders 1 --csv "
       "shared/theirs.csv",
       1, "interval-scan: can't write the CSV file shared/theirs.csv: Operation not permitted\n",
       untouched({{"shared/theirs.csv", earlier_csv}}), false, true},
  };
}

std::string shell_quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool plots_available() {
  ScratchDirectory where;
  return run_program(where, built_program("interval-scan"), "", "--help")
             .out.find("built without PLplot") == std::string::npos;
}

// Every regular file under the directory (links followed), by relative path.
std::map<std::string, std::string> files_in(const ScratchDirectory& where) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(where.path())) {
    std::error_code no_file;  // a link that leads nowhere, or round in a loop
    if (!fs::is_regular_file(entry.path(), no_file)) continue;
    const std::string name = entry.path().lexically_relative(where.path()).string();
    files[name] = where.read(name);
  }
  return files;
}

void PrintTo(const CompanionCase& c, std::ostream* out) { *out << c.name; }

class CompanionHostileRun : public ::testing::TestWithParam<CompanionCase> {};

}  // namespace

TEST_P(CompanionHostileRun, EndsWithTheStatedStatusAndLeavesEveryFileAsStated) {
  const CompanionCase& c = GetParam();
  if (c.needs_plot && !plots_available()) GTEST_SKIP() << "built without PLplot";
  if (c.needs_superuser && geteuid() != 0) {
    GTEST_SKIP() << "runs the program as the user nobody, which only the superuser can";
  }
  ScratchDirectory where;
  where.write("data.txt", data);
  where.write("out.csv", earlier_csv);
  where.write("out.svg", earlier_svg);
  c.setup(where);
  const std::string command = "SCAN=" + shell_quoted(built_program("interval-scan")) +
                              "; SIMULATE=" + shell_quoted(built_program("interval-simulate")) +
                              "; " + c.command;
  const ProgramRun run = run_program(where, "/bin/sh", "", "-c " + shell_quoted(command));
  EXPECT_EQ(run.status, c.status) << run.err;
  EXPECT_EQ(run.err.rfind(c.err_start, 0), 0u) << run.err;
  const std::map<std::string, std::string> files = files_in(where);
  std::vector<std::string> names;
  std::vector<std::string> expected_names;
  names.reserve(files.size());
  expected_names.reserve(c.files.size());
  for (const auto& [name, content] : files) names.push_back(name);
  for (const auto& [name, content] : c.files) expected_names.push_back(name);
  EXPECT_EQ(names, expected_names);
  for (const auto& [name, content] : c.files) {
    if (content == any_content || !files.contains(name)) continue;
    EXPECT_EQ(files.at(name).substr(0, content.size()), content) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CompanionHostileRun, ::testing::ValuesIn(all_cases()),
                         [](const ::testing::TestParamInfo<CompanionCase>& param_info) {
                           return param_info.param.name;
                         });
