// interval-fit: fits the interval lengths of a latent-state model of event
// counts to a table of coded observations, by maximum likelihood.
#include <new>

#include "driver/fitting_run.hpp"
#include "driver/standard_descriptors.hpp"
#include "foundation/fatal_error.hpp"

int main() {
  // A closed descriptor 0-2 would be taken by etest.txt, which would then
  // receive the report; /dev/null takes its place.
  if (open_closed_standard_descriptors().not_reopened) return 1;
  // Working storage beyond the index-ranged arrays (the likelihood's prefix
  // tree, the answers) comes from operator new; a refusal ends the run the
  // same way as any other refused memory request.
  std::set_new_handler([] { fatal_numeric_error("allocation failure in operator new"); });
  return fitting_run();
}
