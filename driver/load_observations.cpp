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

// A header that announces more rows than the file holds is read as the
// classic program reads it (the missing rows carry no information), but
// the table, the echo and every evaluation still take the announced size:
// a mistyped count costs minutes and gigabytes, so it is pointed out before
// the table is made.  Standard error only: the transcript stays as it is.
void warn_if_rows_are_missing(const std::string& text, const ObservationFileHeader& header) {
  const std::size_t row_bytes = static_cast<std::size_t>(header.interval_count) + 1;
  const std::size_t code_bytes = text.size() - header.codes_begin;
  const std::size_t rows_present = (code_bytes + row_bytes - 1) / row_bytes;
  if (rows_present >= static_cast<std::size_t>(header.observation_count)) return;
  std::fprintf(stderr,
               "interval-fit: warning: the data file announces %d observations but holds at "
               "most %zu; the other rows are read as codes without information\n",
               header.observation_count, rows_present);
}

}  // namespace

void load_observations() {
  std::printf("Please type in the filename of your data: \n");
  const std::optional<std::string> name = read_answer_word();
  if (!name) refuse_input("no data file name was given");
  if (name->size() > longest_file_name) {
    refuse_input("the data file name is longer than 39 bytes");
  }
  // The system would read the name only up to the NUL and open another file.
  if (name->find('\0') != std::string::npos) {
    refuse_input("the data file name holds a NUL byte; type the name without it");
  }

  const std::optional<std::string> read = read_observation_text(*name);
  if (!read) refuse_unopenable_file();
  const std::string& text = *read;
  const ObservationFileHeader header = read_observation_header(text);
  if (!header.problem.empty()) refuse_input(header.problem.c_str());

  std::printf("total = %d \n", header.observation_count);
  std::printf("number of interval = %d \n", header.interval_count);
  warn_if_rows_are_missing(text, header);

  // (n+1)*M slots, counted in int like every array size; a table that does
  // not fit is a refused request.
  if (!install_observation_table(text, header)) {
    fatal_numeric_error("allocation failure in cvector()");
  }
  echo_table(observations, header.observation_count, header.interval_count);
}
