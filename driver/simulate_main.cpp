// interval-simulate: writes observation data files drawn from the
// latent-state model that interval-fit assumes, for planning experiments,
// checking the method on data with known lengths, and for tests and
// benchmarks.
//
// Exit status: 0 when the file is written, 2 for options that are not
// understood or not valid (nothing is opened or written then), 1 when the
// output cannot be opened or a write fails (an earlier file of that name is
// then left as it was).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>
#include <random>
#include <string>

#include "driver/command_line.hpp"
#include "driver/console_output.hpp"
#include "driver/output_file.hpp"
#include "driver/simulate_options.hpp"
#include "model/simulation.hpp"

namespace {

constexpr int status_output_failure = 1;

constexpr const char* program_name = "interval-simulate";

int report_failure(const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", program_name, what.c_str());
  return status_output_failure;
}

int write_output(const SimulateOptions& options, const SimulationSettings& settings) {
  OutputFile output(options.output, "the output file", true);
  const std::string problem = output.open();
  if (!problem.empty()) return report_failure(problem);
  errno = 0;
  if (!write_observation_file(output.stream(), settings, options.observations, options.seed,
                              options.crlf)) {
    // Not committed: the temporary goes, an earlier file stays.
    return report_failure(output.failure(errno != 0 ? errno : EIO));
  }
  const std::string failure = output.commit();
  if (!failure.empty()) return report_failure(failure);
  return 0;
}

}  // namespace

// Only a refused operator new can escape, before the output is begun (the
// option texts are a few bytes); parse_command_line turns CLI11's errors
// into a status.
int main(int argc, char** argv) {  // NOLINT(bugprone-exception-escape)
  // A closed standard output stands on a descriptor that refuses writes,
  // so data meant for it are reported lost, not silently dropped.
  keep_standard_descriptors_open();
  report_file_size_limit_as_write_failure();
  CLI::App app{"", program_name};
  SimulateOptions options;
  add_simulate_options(app, options);
  if (const std::optional<int> status = parse_command_line(app, argc, argv, program_name)) {
    return *status;
  }
  const std::string problem = simulate_options_problem(app, options);
  if (!problem.empty()) return refuse_options(program_name, problem);
  if (!options.seed_given) options.seed = fresh_seed();
  try {
    const int status = write_output(options, simulation_settings(options));
    // The drawn seed is named once the file it wrote is there.
    if (status == 0 && !options.seed_given && !options.quiet) {
      std::fprintf(stderr, "%s: seed %llu (give --seed %llu to write this file again)\n",
                   program_name, static_cast<unsigned long long>(options.seed),
                   static_cast<unsigned long long>(options.seed));
    }
    return status;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: not enough memory for %d intervals\n", program_name,
                 options.intervals);
    return status_output_failure;
  }
}
