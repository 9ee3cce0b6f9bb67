// Whatever a user hands the program -- a wrong data file, a mistyped
// answer, a results file that cannot take the block -- it must end with a
// clear message and a meaningful status, never with a crash, a hang or a
// half-written results block reported as success.  Each case runs the
// program as a user does (a scratch directory, the answers on standard
// input) and states the exact status, the console text, the errors and what
// etest.txt holds afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/program_runner.hpp"

namespace fs = std::filesystem;

namespace {

// Stands, in an expected text, for any run of characters: the numbers of a
// fit, which other tests check.
const std::string anything = "\x1a";

const std::string name_prompt = "Please type in the filename of your data: \n";
const std::string order_prompt = "Please type in the order of your model: \n";
const std::string estimate_prompt = "Please type the initial estimate: \n";
const std::string fit_report = "Now-------- Amoeba...\n" + anything + "Total Length = " + anything;
const std::string standard_errors =
    "Now Computing Standard Error...\nStandard Error: \n" + anything;
const std::string both_prompts = order_prompt + estimate_prompt;
const std::string fatal_allocation =
    "Calvaro run-time error...\nallocation failure in cvector()\n...now exiting to system...\n";
const std::string cannot_open = "can't open the data file";
const std::string incomplete_block =
    "\ncould not write the results to etest.txt: the block there is incomplete\n";
// What a header that announces more rows than the file holds gets, before
// the table is made.
std::string missing_rows(const std::string& announced, const std::string& present) {
  return "interval-fit: warning: the data file announces " + announced +
         " observations but holds at most " + present +
         "; the other rows are read as codes without information\n";
}
const std::string order_refused = "the model order must be a whole number from 1 to 100\n";
const std::string estimate_refused =
    "the initial estimate must be a finite number of at least 0, such as 0.5\n";

// A complete run's results: the summary block, then the standard-error block.
const std::string complete_results = "The total number of observation is " + anything +
                                     "Total Length = " + anything + "Standard Error:\n" + anything +
                                     " \n==================================\n\n";

// Ten observations of one interval; a fit of it takes milliseconds.
const std::string small_file = "10 1\nN\nN\nR\nN\nN\nN\nR\nN\nN\nN\n";
const std::string small_echo =
    "total = 10 \nnumber of interval = 1 \nN\nN\nR\nN\nN\nN\nR\nN\nN\nN\n";

// The text `expected` with each `anything` standing for any run of
// characters.
bool matches(std::string_view text, std::string_view expected) {
  std::vector<std::string_view> pieces;
  for (std::size_t at = 0;;) {
    const std::size_t next = expected.find(anything, at);
    pieces.push_back(expected.substr(at, next == std::string_view::npos ? next : next - at));
    if (next == std::string_view::npos) break;
    at = next + anything.size();
  }
  if (pieces.size() == 1) return text == expected;
  if (!text.starts_with(pieces.front()) || !text.ends_with(pieces.back())) return false;
  std::size_t at = pieces.front().size();
  const std::size_t last = text.size() - pieces.back().size();
  if (at > last) return false;
  for (std::size_t k = 1; k + 1 < pieces.size(); ++k) {
    const std::size_t found = text.find(pieces[k], at);
    if (found == std::string_view::npos || found + pieces[k].size() > last) return false;
    at = found + pieces[k].size();
  }
  return true;
}

using Setup = std::function<void(const ScratchDirectory&)>;

struct HostileCase {
  std::string name;     // the test's name
  Setup setup;          // the files the user has made
  std::string answers;  // standard input
  int status;           // exit status
  std::string out;      // standard output
  std::string err;      // standard error
  // etest.txt afterwards; nothing when it must not exist.
  std::optional<std::string> results;
  // Writes are allowed to reach at most this size of etest.txt; 0: no limit.
  long long file_size_limit = 0;
  bool needs_permissions_to_bind = false;  // run as an unprivileged user
  bool results_is_link = false;            // etest.txt is a link that must stay one
  const char* arguments = "";              // the command line, quoted for the shell
  const char* standard_output_to = "";     // a shell redirection of standard output
  bool may_hang = false;                   // run with a time limit
  bool file_size_signal_as_is = false;     // the limit's signal not ignored by the shell
};

// Earlier results far longer than the console text of a run, so that a
// file-size limit that cuts the block leaves standard output whole.
const std::string long_earlier_results = std::string(100'000, '-') + "\n";

Setup data_file(const std::string& bytes, const std::string& name = "data.txt") {
  return [bytes, name](const ScratchDirectory& where) { where.write(name, bytes); };
}

Setup both(const Setup& first, const Setup& second) {
  return [first, second](const ScratchDirectory& where) {
    first(where);
    second(where);
  };
}

Setup results_directory() {
  return [](const ScratchDirectory& where) { fs::create_directory(where.path() / "etest.txt"); };
}

// A refusal of the file after the name prompt.
HostileCase refused_file(const std::string& name, const std::string& bytes,
                         const std::string& message) {
  return {name, data_file(bytes), "data.txt\n1\n0.5\n", 1, name_prompt + message + "\n",
          "",   std::nullopt};
}

// A file of `count` rows of `intervals` codes that the program loads and
// fits to the end; the echoed rows are given exactly.
HostileCase fitted_file(const std::string& name, const std::string& bytes, int count, int intervals,
                        const std::string& rows) {
  const std::string echo = "total = " + std::to_string(count) +
                           " \nnumber of interval = " + std::to_string(intervals) + " \n" + rows;
  return {name,
          data_file(bytes),
          "data.txt\n1\n0.5\n",
          0,
          name_prompt + echo + both_prompts + fit_report + standard_errors,
          "",
          complete_results};
}

// An answer refused at its prompt, after the small file was echoed.
HostileCase refused_answer(const std::string& name, const std::string& answers,
                           const std::string& after_echo) {
  return {name, data_file(small_file), answers, 1, name_prompt + small_echo + after_echo,
          "",   std::nullopt};
}

std::vector<HostileCase> data_file_cases() {
  const std::string blank(1, ' ');
  std::string twenty_letters_of_two_bytes;
  for (int letter = 0; letter < 20; ++letter) twenty_letters_of_two_bytes += "\xC3\xA9";  // e acute
  return {
      refused_file(
          "EmptyFile", "",
          "the data file gives no number of observations where a whole number should stand"),
      refused_file("OneCountOnly", "5\n",
                   "the data file gives no number of intervals where a whole number should stand"),
      refused_file(
          "LettersWhereTheFirstCountStands", "abc 2\nNR\n",
          "the data file gives no number of observations where a whole number should stand"),
      refused_file("LettersWhereTheSecondCountStands", "2 xy\nNR\nRN\n",
                   "the data file gives no number of intervals where a whole number should stand"),
      refused_file("NoObservations", "0 2\nNR\n",
                   "the data file gives 0 as the number of observations; it must be at least 1"),
      refused_file("NoIntervals", "2 0\n\n\n",
                   "the data file gives 0 as the number of intervals; it must be at least 1"),
      refused_file("NegativeObservations", "-3 2\nNR\n",
                   "the data file gives -3 as the number of observations; it must be at least 1"),
      refused_file("NegativeIntervals", "2 -1\nNR\n",
                   "the data file gives -1 as the number of intervals; it must be at least 1"),
      refused_file("ObservationsBeyondInt", "99999999999 2\nNR\n",
                   "the number of observations in the data file is too large"),
      refused_file("ObservationsFarBelowInt", "-99999999999 2\nNR\n",
                   "the data file gives a negative number of observations; it must be at least 1"),
      refused_file("ByteOrderMarkBeforeTheCounts",
                   "\xEF\xBB\xBF"
                   "2 2\nNR\nRN\n",
                   "the data file begins with a UTF-8 byte-order mark (bytes EF BB BF) where the "
                   "number of observations should stand; save it as plain text without one"),
      // (n+1) x M = 2000000002 slots fit an int; the interval count alone is
      // refused before anything is allocated.
      refused_file("IntervalsBeyondWhatARunCanHold", "2 1000000000\nNR\n",
                   "the data file gives 1000000000 as the number of intervals; it must be at most "
                   "1000"),
      refused_file("OneIntervalMoreThanTheLargest", "1 1001\nNR\n",
                   "the data file gives 1001 as the number of intervals; it must be at most 1000"),
      // A table of 3 x 2147483647 or 3 x 1000000000 slots does not fit an
      // int: refused as a memory request, without touching memory.
      {"LargestIntObservationsOverflowTheTable", data_file("2147483647 2\nNR\n"),
       "data.txt\n1\n0.5\n", 1, name_prompt + "total = 2147483647 \nnumber of interval = 2 \n",
       missing_rows("2147483647", "1") + fatal_allocation, std::nullopt},
      {"ObservationsTimesIntervalsOverflowTheTable", data_file("1000000000 2\nNR\n"),
       "data.txt\n1\n0.5\n", 1, name_prompt + "total = 1000000000 \nnumber of interval = 2 \n",
       missing_rows("1000000000", "1") + fatal_allocation, std::nullopt},
      // Far fewer rows than announced is a legal file: the missing rows are
      // blanks, which carry no information, and the run goes on, with a
      // warning that the announced size is what the run takes.
      {"FarFewerRowsThanAnnounced", data_file("100000 1\nN\nR\n"), "data.txt\n1\n0.5\n", 0,
       name_prompt + "total = 100000 \nnumber of interval = 1 \nN\nR\n" + anything + " \n \n" +
           both_prompts + fit_report + standard_errors,
       missing_rows("100000", "2"), complete_results},
      // A short row takes its line end as a code and the next line's first
      // character as its terminator; a long row gives its last character
      // away as the terminator and its line end to the next row.
      fitted_file("RowShorterThanTheIntervals", "3 2\nN\nRX\nNN\n", 3, 2, "N\n\nX\n\nN\n\n"),
      fitted_file("RowLongerThanTheIntervals", "2 2\nNRX\nNN\n", 2, 2, "NR\n\nN\n"),
      {"FileEndsInTheMiddleOfARow", data_file("3 2\nNR\nX"), "data.txt\n1\n0.5\n", 0,
       name_prompt + "total = 3 \nnumber of interval = 2 \nNR\nX" + blank + "\n" + blank + blank +
           "\n" + both_prompts + fit_report + standard_errors,
       missing_rows("3", "2"), complete_results},
      fitted_file("NoLineEndAfterTheLastRow", "2 2\nNR\nRN", 2, 2, "NR\nRN\n"),
      fitted_file("BinaryBytesAmongTheCodes", std::string("2 3\nN\0\xff\n\x01R\x80\n", 12), 2, 3,
                  std::string("N\0\xff\n\x01R\x80\n", 8)),
      fitted_file("CarriageReturnLineEnds", "2 2\r\nNR\r\nRN\r\n", 2, 2, "NR\nRN\n"),
      fitted_file("VeryLongLineAfterTheCodes", "1 2\nNR" + std::string(5'000'000, 'X') + "\n", 1, 2,
                  "NR\n"),
      fitted_file("VeryLongRunOfWhiteSpaceBeforeTheCounts",
                  std::string(3'000'000, ' ') + "1 2\nNR\n", 1, 2, "NR\n"),
      {"DirectoryAsTheDataFile",
       [](const ScratchDirectory& where) { fs::create_directory(where.path() / "folder"); },
       "folder\n1\n0.5\n", 1, name_prompt + cannot_open, "", std::nullopt},
      // An endless device: reading stops at the first byte that cannot
      // begin a count.
      {"EndlessDeviceAsTheDataFile", Setup([](const ScratchDirectory&) {}), "/dev/zero\n1\n0.5\n",
       1,
       name_prompt +
           "the data file gives no number of observations where a whole number should stand\n",
       "", std::nullopt},
      {"NameOfThirtyNineCharacters", data_file(small_file, std::string(35, 'n') + ".txt"),
       std::string(35, 'n') + ".txt\n1\n0.5\n", 0,
       name_prompt + small_echo + both_prompts + fit_report + standard_errors, "",
       complete_results},
      // 20 letters of two bytes each: the limit is in bytes.
      {"NameOfTwentyTwoByteLetters", data_file(small_file, twenty_letters_of_two_bytes),
       twenty_letters_of_two_bytes + "\n1\n0.5\n", 1,
       name_prompt + "the data file name is longer than 39 bytes\n", "", std::nullopt},
      // The system would open "exam" for a name that goes on after a NUL.
      {"NameWithANulByte", data_file(small_file, "exam"),
       std::string("exam\0ple.dat\n1\n0.5\n", 19), 1,
       name_prompt + "the data file name holds a NUL byte; type the name without it\n", "",
       std::nullopt},
      {"NameOfFortyCharacters", data_file(small_file, std::string(36, 'n') + ".txt"),
       std::string(36, 'n') + ".txt\n1\n0.5\n", 1,
       name_prompt + "the data file name is longer than 39 bytes\n", "", std::nullopt},
  };
}

std::vector<HostileCase> answer_cases() {
  std::vector<HostileCase> cases = {
      {"EndOfInputAtTheNamePrompt", data_file(small_file), "", 1,
       name_prompt + "no data file name was given\n", "", std::nullopt},
      {"OnlyWhiteSpaceAtTheNamePrompt", data_file(small_file), " \n\t\n", 1,
       name_prompt + "no data file name was given\n", "", std::nullopt},
      refused_answer("EndOfInputAtTheOrderPrompt", "data.txt\n",
                     order_prompt + "no model order was given\n"),
      refused_answer("EndOfInputAtTheEstimatePrompt", "data.txt\n1\n",
                     both_prompts + "no initial estimate was given\n"),
      refused_answer("OrderZero", "data.txt\n0\n0.5\n", order_prompt + order_refused),
      refused_answer("OrderMinusOne", "data.txt\n-1\n0.5\n", order_prompt + order_refused),
      refused_answer("OrderInLetters", "data.txt\nabc\n0.5\n", order_prompt + order_refused),
      refused_answer("OrderWithTrailingLetter", "data.txt\n2x\n0.5\n",
                     order_prompt + order_refused),
      // An order this large would ask for 6p latent states per interval,
      // memory no machine has.
      refused_answer("OrderOfTheLargestInt", "data.txt\n2147483647\n0.5\n",
                     order_prompt + order_refused),
      refused_answer("EstimateNotANumber", "data.txt\n1\nnan\n", both_prompts + estimate_refused),
      refused_answer("EstimateInfinite", "data.txt\n1\ninf\n", both_prompts + estimate_refused),
      refused_answer("EstimateNegative", "data.txt\n1\n-1\n", both_prompts + estimate_refused),
      refused_answer("EstimateInLetters", "data.txt\n1\nabc\n", both_prompts + estimate_refused),
      // Five thousand digits are a valid number, but more than an answer
      // may hold.
      refused_answer(
          "EstimateOfFiveThousandDigits", "data.txt\n1\n0." + std::string(4998, '0') + "5\n",
          both_prompts + "the initial estimate is longer than 4096 characters; write it with "
                         "fewer digits, such as 0.5\n"),
      // Zero typed with a sign is the start 0.
      {"EstimateMinusZero", data_file(small_file), "data.txt\n1\n-0\n", 0,
       name_prompt + small_echo + both_prompts + fit_report + standard_errors, "",
       "The total number of observation is 10.\nThe number of intervals is 1. \n"
       "The initial estimate is 0.000000\n" +
           anything + "==================================\n\n"},
      // Zero is a legal start: the minimiser keeps its trial points above
      // its floor and the fit ends normally.
      {"EstimateZero", data_file(small_file), "data.txt\n1\n0\n", 0,
       name_prompt + small_echo + both_prompts + fit_report + standard_errors, "",
       "The total number of observation is 10.\nThe number of intervals is 1. \n"
       "The initial estimate is 0.000000\n" +
           anything + "==================================\n\n"},
      // A start of 1e308: every Poisson term there is 0 in logarithms (the
      // written formula would give inf * 0), so the likelihood is finite and
      // the search walks down to small lengths; the run ends normally, its
      // one-sided standard error not a number.
      {"EstimateOfTheLargestMagnitude", data_file(small_file), "data.txt\n1\n1e308\n", 0,
       name_prompt + small_echo + both_prompts + "Now-------- Amoeba...\n" + anything +
           standard_errors,
       "", complete_results},
      // The rest of a line after the name is what the next prompts read.
      {"AllAnswersOnTheNameLine", data_file(small_file), "data.txt 1 0.5\n", 0,
       name_prompt + small_echo + both_prompts + fit_report + standard_errors, "",
       complete_results},
  };
  return cases;
}

std::vector<HostileCase> results_file_cases() {
  const std::string report = name_prompt + small_echo + both_prompts + fit_report;
  return {
      {"ReadOnlyResultsFile",
       both(data_file(small_file),
            [](const ScratchDirectory& where) {
              where.write("etest.txt", "earlier results\n");
              fs::permissions(where.path() / "etest.txt", fs::perms::owner_read);
            }),
       "data.txt\n1\n0.5\n", 1, report + "\n\n\n" + cannot_open, "", "earlier results\n", 0, true},
      {"DirectoryNamedLikeTheResultsFile", both(data_file(small_file), results_directory()),
       "data.txt\n1\n0.5\n", 1, report + "\n\n\n" + cannot_open, "", std::nullopt},
      {"ResultsFileLinkedIntoAMissingFolder",
       both(data_file(small_file),
            [](const ScratchDirectory& where) {
              fs::create_symlink("missing/etest.txt", where.path() / "etest.txt");
            }),
       "data.txt\n1\n0.5\n", 1, report + "\n\n\n" + cannot_open, "", std::nullopt},
      // A named pipe would hold the run at the open for ever; it is refused
      // at once, after the report was shown.
      {"ResultsFileIsANamedPipe",
       both(data_file(small_file),
            [](const ScratchDirectory& where) {
              ASSERT_EQ(mkfifo((where.path() / "etest.txt").c_str(), 0644), 0);
            }),
       "data.txt\n1\n0.5\n", 1, report + "\n\n\n" + cannot_open, "", std::nullopt, 0, false, false,
       "", "", true},
      // Beyond the file-size limit, with its signal as the shell leaves it:
      // a failed write like a full disk's, and the earlier results kept.
      {"ResultsFileBeyondTheFileSizeLimit",
       both(data_file(small_file),
            [](const ScratchDirectory& where) { where.write("etest.txt", long_earlier_results); }),
       "data.txt\n1\n0.5\n", 1, report + "\n\n" + incomplete_block, "",
       long_earlier_results + anything, static_cast<long long>(long_earlier_results.size()) + 10,
       false, false, "", "", false, true},
      // Opening succeeds; the disk takes nothing.  The run stops before the
      // standard errors instead of carrying on as if the block were saved.
      {"ResultsFileOnAFullDisk",
       both(data_file(small_file),
            [](const ScratchDirectory& where) {
              fs::create_symlink("/dev/full", where.path() / "etest.txt");
            }),
       "data.txt\n1\n0.5\n", 1, report + "\n\n" + incomplete_block, "", std::nullopt, 0, false,
       true},
  };
}

// Standard output that takes nothing: the report is lost, and the run must
// say so rather than end with status 0.  The check comes before the
// standard errors, so the summary block is appended and theirs is not.
HostileCase lost_report(const std::string& name, const char* redirection,
                        const std::string& reason) {
  HostileCase c{
      name,
      data_file(small_file),
      "data.txt\n1\n0.5\n",
      1,
      "",
      "interval-fit: the report could not be written to standard output: " + reason + "\n",
      "The total number of observation is 10.\n" + anything + "Total Length = " + anything +
          "\n\n\n"};
  c.standard_output_to = redirection;
  return c;
}

HostileCase command_line(const std::string& name, const char* arguments, int status,
                         const std::string& out, const std::string& err) {
  HostileCase c{name, data_file(small_file), "data.txt\n1\n0.5\n", status, out, err, std::nullopt};
  c.arguments = arguments;
  return c;
}

std::vector<HostileCase> output_and_argument_cases() {
  const std::string usage =
      "usage: interval-fit [--help | --version]  (no other arguments: run it bare and answer its "
      "three prompts)\n";
  return {
      lost_report("StandardOutputOnAFullDisk", ">/dev/full", "No space left on device"),
      lost_report("StandardOutputClosed", ">&-", "Bad file descriptor"),
      command_line("HelpOption", "--help", 0, "Usage: interval-fit\n" + anything, ""),
      command_line("ShortHelpOption", "-h", 0, "Usage: interval-fit\n" + anything, ""),
      command_line("VersionOption", "--version", 0, "interval-fit " + anything + "\n", ""),
      command_line("DataFileNamedOnTheCommandLine", "data.txt", 2, "", usage),
      command_line("UnknownOption", "--verbose", 2, "", usage),
      command_line("HelpWithMoreArguments", "--help data.txt", 2, "", usage),
  };
}

std::vector<HostileCase> all_cases() {
  std::vector<HostileCase> cases = data_file_cases();
  for (auto* more : {answer_cases, results_file_cases, output_and_argument_cases}) {
    for (HostileCase& c : more()) cases.push_back(std::move(c));
  }
  return cases;
}

void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

class HostileRun : public ::testing::TestWithParam<HostileCase> {};

// Runs the program with writes to etest.txt cut off at `limit` bytes, as on
// a disk that fills up.  A write past the limit fails with an error instead
// of stopping the process, since the limit's signal is ignored.
ProgramRun run_with_file_size_limit(const ScratchDirectory& where, const std::string& answers,
                                    long long limit, bool ignore_signal = true) {
  return run_program(where, "/bin/sh", answers,
                     std::string("-c '") + (ignore_signal ? "trap \"\" XFSZ; " : "") +
                         "exec prlimit --fsize=" + std::to_string(limit) + " \"$0\"' '" +
                         built_program("interval-fit") + "'");
}

}  // namespace

TEST_P(HostileRun, EndsWithTheStatedStatusMessagesAndResults) {
  const HostileCase& c = GetParam();
  ScratchDirectory where;
  c.setup(where);
  const std::string program = built_program("interval-fit");
  const ProgramRun run =
      c.file_size_limit > 0
          ? run_with_file_size_limit(where, c.answers, c.file_size_limit, !c.file_size_signal_as_is)
      : c.may_hang                  ? run_program(where, "/bin/sh", c.answers,
                                                  "-c 'exec timeout 20 \"$0\"' '" + program + "'")
      : c.needs_permissions_to_bind ? run_program_unprivileged(where, program, c.answers)
      : *c.standard_output_to != '\0'
          ? run_program(
                where, "/bin/sh", c.answers,
                std::string("-c 'exec \"$0\" ") + c.standard_output_to + "' '" + program + "'")
          : run_program(where, program, c.answers, c.arguments);
  EXPECT_EQ(run.status, c.status);
  EXPECT_TRUE(matches(run.out, c.out)) << "standard output:\n" << run.out.substr(0, 4000);
  EXPECT_TRUE(matches(run.err, c.err)) << "standard error:\n" << run.err;
  if (c.results_is_link) {
    EXPECT_TRUE(fs::is_symlink(where.path() / "etest.txt"));
  } else if (c.results) {
    EXPECT_TRUE(matches(where.read("etest.txt"), *c.results)) << where.read("etest.txt");
  } else {
    EXPECT_FALSE(fs::is_regular_file(where.path() / "etest.txt"));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileRun, ::testing::ValuesIn(all_cases()),
                         [](const ::testing::TestParamInfo<HostileCase>& param_info) {
                           return param_info.param.name;
                         });

// The disk fills between the two blocks of a run: the summary is whole,
// the standard-error block is cut off, and the run says so with status 1.
TEST(HostileResults, ADiskThatFillsDuringTheStandardErrorBlockIsReportedAsIncomplete) {
  // The block a complete run appends, to know where the second one starts.
  ScratchDirectory complete;
  complete.write("data.txt", small_file);
  ASSERT_EQ(run_program(complete, built_program("interval-fit"), "data.txt\n1\n0.5\n").status, 0);
  const std::string blocks = complete.read("etest.txt");
  const std::size_t summary_size = blocks.find("Standard Error:");
  ASSERT_NE(summary_size, std::string::npos);

  // The limit holds for every file the run writes, standard output
  // included, so the earlier results are made far longer than the console
  // text of a run.
  const std::string earlier = std::string(100'000, '-') + "\n";
  const std::size_t room_in_second_block = 10;
  ScratchDirectory where;
  where.write("data.txt", small_file);
  where.write("etest.txt", earlier);
  const auto limit = static_cast<long long>(earlier.size()) + static_cast<long long>(summary_size) +
                     static_cast<long long>(room_in_second_block);
  const ProgramRun run = run_with_file_size_limit(where, "data.txt\n1\n0.5\n", limit);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(matches(run.out, name_prompt + small_echo + both_prompts + fit_report +
                                   "Now Computing Standard Error...\nStandard Error: \n" +
                                   anything + " " + incomplete_block))
      << run.out;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(where.read("etest.txt"),
            earlier + blocks.substr(0, summary_size + room_in_second_block));
}
