#include "driver/load_observations.hpp"

#include <cstdio>
#include <optional>
#include <string>

#include "driver/answers.hpp"
#include "driver/observation_file.hpp"
#include "driver/refusal.hpp"
#include "foundation/fatal_error.hpp"

namespace {

// Each row's codes and a line feed, a block of rows at a time.
void echo_table(ObservationTable table, int count, int n) {
  constexpr std::size_t block_bytes = std::size_t{1} << 16;
  std::string block;
  block.reserve(block_bytes + static_cast<std::size_t>(n) + 1);
  for (int i = 0; i < count; ++i) {
    for (int j = 0; j < n; ++j) block.push_back(static_cast<char>(table[i * n + j]));
    block.push_back('\n');
    if (block.size() >= block_bytes || i + 1 == count) {
      std::fwrite(block.data(), 1, block.size(), stdout);
      block.clear();
    }
  }
}

}  // namespace

void load_observations() {
  std::printf("Please type in the filename of your data: \n");
  const std::optional<std::string> name = read_answer_word();
  if (!name) refuse_input("no data file name was given");
  if (name->size() > longest_file_name) {
    refuse_input("the data file name is longer than 39 bytes");
  }

  const std::optional<std::string> read = read_observation_text(*name);
  if (!read) refuse_unopenable_file();
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
