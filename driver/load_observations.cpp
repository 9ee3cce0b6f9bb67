#include "driver/load_observations.hpp"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "driver/answers.hpp"
#include "driver/observation_file.hpp"
#include "foundation/fatal_error.hpp"

namespace {

[[noreturn]] void cannot_open_data_file() {
  std::printf("can't open the data file");
  std::exit(1);
}

void echo_table(ObservationTable table, int count, int n) {
  for (int i = 0; i < count; ++i) {
    for (int j = 0; j < n; ++j) std::putchar(table[i * n + j]);
    std::putchar('\n');
  }
}

}  // namespace

void refuse_input(const char* message) {
  std::printf("%s\n", message);
  std::exit(1);
}

void load_observations() {
  std::printf("Please type in the filename of your data: \n");
  const std::optional<std::string> name = read_answer_word();
  if (!name) refuse_input("no data file name was given");
  if (name->size() > longest_file_name) {
    refuse_input("the data file name is longer than 39 characters");
  }

  const std::optional<std::string> read = read_observation_text(*name);
  if (!read) cannot_open_data_file();
  const std::string& text = *read;
  const ObservationFileHeader header = read_observation_header(text);
  if (!header.problem.empty()) refuse_input(header.problem.c_str());

  std::printf("total = %d \n", header.observation_count);
  std::printf("number of interval = %d \n", header.interval_count);

  // (n+1)*M slots, counted in int like every array size; a table that does
  // not fit is a refused request.
  if (!install_observation_table(text, header)) {
    fatal_numeric_error("allocation failure in cvector()");
  }
  echo_table(observations, header.observation_count, header.interval_count);
}
