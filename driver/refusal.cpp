#include "driver/refusal.hpp"

#include <cstdio>
#include <cstdlib>

void refuse_input(const char* message) {
  std::printf("%s\n", message);
  std::exit(1);
}

void refuse_unopenable_file() {
  std::printf("can't open the data file");
  std::exit(1);
}
