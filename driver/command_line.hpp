// Command lines of the companion programs (interval-simulate,
// interval-scan), parsed with CLI11.  They share one convention: --help
// prints the help, --version the program's name and version, on standard
// output, and the program ends with status 0 (1 when standard output takes
// not all of it); an option that
// cannot be parsed, or a combination the program refuses, prints one line
// naming the program and the problem on standard error, points at --help,
// and ends with status 2 before anything is opened or written.
#pragma once

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

inline constexpr int status_bad_options = 2;

// Prints the refusal of an option (see above) and returns its status.
inline int refuse_options(const char* program, const std::string& problem) {
  std::fprintf(stderr, "%s: %s\nRun '%s --help' for the options.\n", program, problem.c_str(),
               program);
  return status_bad_options;
}

// Flushes standard output after `what` was printed there, errno having
// been cleared before the printing (a text longer than the buffer fails
// in the printing itself): 0 when all of it went out, else 1 with one line
// on standard error and the system's reason (the help printed to a full
// disk is lost, not shown).
inline int standard_output_status(const char* program, const char* what) {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return 0;
  const int error = errno != 0 ? errno : EIO;
  std::fprintf(stderr, "%s: can't write %s to standard output: %s\n", program, what,
               std::strerror(error));
  return 1;
}

// Parses the command line into the options bound to `app`.  Returns the
// status to end with when the program should not go on (help, or a refusal),
// and nothing when it should.
inline std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv,
                                             const char* program) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    const std::string help = app.help();
    errno = 0;
    std::fputs(help.c_str(), stdout);
    return standard_output_status(program, "the help");
  } catch (const CLI::CallForVersion& version) {
    errno = 0;
    std::printf("%s\n", version.what());
    return standard_output_status(program, "the version");
  } catch (const CLI::ParseError& error) {
    return refuse_options(program, error.what());
  }
  return std::nullopt;
}
