// interval-fit: fits the interval lengths of a latent-state model of event
// counts to a table of coded observations, by maximum likelihood.
#include <new>

#include "driver/console_output.hpp"
#include "driver/fit_command_line.hpp"
#include "driver/fitting_run.hpp"
#include "foundation/fatal_error.hpp"

int main(int argc, char** argv) {
  keep_standard_descriptors_open();
  report_file_size_limit_as_write_failure();
  const FitCommand command = read_fit_command_line(argc, argv);
  if (command != FitCommand::run_dialogue) return answer_fit_command_line(command);
  // Working storage beyond the index-ranged arrays (the likelihood's prefix
  // tree, the answers) comes from operator new; a refusal ends the run the
  // same way as any other refused memory request.
  std::set_new_handler([] { fatal_numeric_error("allocation failure in operator new"); });
  return fitting_run();
}
