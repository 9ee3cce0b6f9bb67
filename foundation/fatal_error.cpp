#include "foundation/fatal_error.hpp"

#include <cstdio>
#include <cstdlib>

void fatal_numeric_error(const char* message) {
  std::fprintf(stderr, "Calvaro run-time error...\n");
  std::fprintf(stderr, "%s\n", message);
  std::fprintf(stderr, "...now exiting to system...\n");
  std::exit(1);
}
