#include "driver/fit_command_line.hpp"

#include <cstdio>
#include <cstring>

#include "driver/console_output.hpp"

namespace {

constexpr int status_bad_arguments = 2;

constexpr const char* usage_line =
    "usage: interval-fit [--help | --version]  (no other arguments: run it bare and answer its "
    "three prompts)\n";

constexpr const char* help_text =
    "Usage: interval-fit\n"
    "  or:  interval-fit --help | --version\n"
    "\n"
    "Fits the lengths of a row of intervals to a table of coded observations by\n"
    "maximum likelihood (a latent-state model of order p, downhill simplex search).\n"
    "It asks three questions on standard input: the data file name (at most 39\n"
    "bytes, no blanks), the model order p (a whole number from 1 to 100) and the\n"
    "initial estimate, the expected number of events in every interval (lambda,\n"
    "not a length) where the search starts: at least 0, e.g. 0.5.\n"
    "It prints the final simplex with every parameter divided by 2p (the interval\n"
    "lengths), their sum (Total Length) and figures labelled \"Standard Error\", and\n"
    "appends the same to etest.txt in the working directory.  Those figures come\n"
    "from a one-sided curvature divided by the number of observations: they are\n"
    "far smaller than sampling errors.  For sampling errors and the choice of\n"
    "order, use interval-scan.\n"
    "\n"
    "Example:\n"
    "  printf 'examples/example.dat\\n1\\n0.5\\n' | interval-fit\n"
    "\n"
    "Options:\n"
    "  -h, --help  print this help and exit\n"
    "  --version   print the version and exit\n"
    "\n"
    "Environment:\n"
    "  INTERVAL_THREADS  threads to use, 1 to 256 (default: the machine's cores);\n"
    "                    the results are the same for any number; another value\n"
    "                    ends the run with status 2\n"
    "\n"
    "Exit status: 0 after a complete run; 1 when a file cannot be read, an answer\n"
    "is refused or a write fails (with a message); 2 for any other argument.\n";

}  // namespace

FitCommand read_fit_command_line(int argc, const char* const* argv) {
  if (argc <= 1) return FitCommand::run_dialogue;
  if (argc > 2) return FitCommand::refuse;
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    return FitCommand::show_help;
  }
  if (std::strcmp(argv[1], "--version") == 0) return FitCommand::show_version;
  return FitCommand::refuse;
}

int answer_fit_command_line(FitCommand command) {
  switch (command) {
    case FitCommand::show_help:
      std::fputs(help_text, stdout);
      break;
    case FitCommand::show_version:
      std::printf("interval-fit %s\n", INTERVAL_VERSION);
      break;
    case FitCommand::refuse:
    case FitCommand::run_dialogue:
      std::fputs(usage_line, stderr);
      return status_bad_arguments;
  }
  require_console_written();
  return 0;
}
