#include "foundation/fatal_error.hpp"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

void fatal_numeric_error(const char* message) {
  // Evaluations run on several threads: should two fail at once, the
  // first ends the process and the second waits for it (exit() may not
  // run twice at once, and the lines would mix).
  static std::atomic<bool> ending{false};
  if (ending.exchange(true)) {
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  std::fprintf(stderr, "Calvaro run-time error...\n");
  std::fprintf(stderr, "%s\n", message);
  std::fprintf(stderr, "...now exiting to system...\n");
  std::exit(1);
}
