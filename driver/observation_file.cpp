#include "driver/observation_file.hpp"

#include <climits>
#include <cstdint>

namespace {

// White space as the C library's formatted input skips it.
bool is_white_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

enum class CountReading { read, missing, too_large };

// A whole number as "%d" reads it: white space, an optional sign, digits.
CountReading read_count(std::string_view text, std::size_t& position, int& value) {
  while (position < text.size() && is_white_space(text[position])) ++position;
  bool negative = false;
  if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
    negative = text[position] == '-';
    ++position;
  }
  if (position >= text.size() || !is_digit(text[position])) return CountReading::missing;
  long long magnitude = 0;
  bool too_large = false;
  while (position < text.size() && is_digit(text[position])) {
    magnitude = magnitude * 10 + (text[position] - '0');
    if (magnitude > static_cast<long long>(INT_MAX) + 1) {
      too_large = true;
      magnitude = static_cast<long long>(INT_MAX) + 1;  // keep consuming digits
    }
    ++position;
  }
  const long long signed_value = negative ? -magnitude : magnitude;
  if (too_large || signed_value > INT_MAX) return CountReading::too_large;
  value = static_cast<int>(signed_value);
  return CountReading::read;
}

std::string count_problem(CountReading reading, int value, const char* what) {
  switch (reading) {
    case CountReading::missing:
      return std::string("the data file gives no number of ") + what +
             " where a whole number should stand";
    case CountReading::too_large:
      return std::string("the number of ") + what + " in the data file is too large";
    case CountReading::read:
      if (value < 1) {
        return "the data file gives " + std::to_string(value) + " as the number of " + what +
               "; it must be at least 1";
      }
      return {};
  }
  return {};
}

}  // namespace

std::string fold_line_ends(std::string_view raw) {
  std::string text;
  text.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text.push_back(raw[i]);
  }
  return text;
}

ObservationFileHeader read_observation_header(std::string_view text) {
  ObservationFileHeader header;
  std::size_t position = 0;
  const CountReading first = read_count(text, position, header.observation_count);
  header.problem = count_problem(first, header.observation_count, "observations");
  if (!header.problem.empty()) return header;
  const CountReading second = read_count(text, position, header.interval_count);
  header.problem = count_problem(second, header.interval_count, "intervals");
  if (!header.problem.empty()) return header;
  // The one character after the second count is thrown away.
  header.codes_begin = position < text.size() ? position + 1 : position;
  return header;
}

long long observation_table_slots(const ObservationFileHeader& header) {
  const long long slots =
      (static_cast<long long>(header.interval_count) + 1) * header.observation_count;
  return slots > INT_MAX ? -1 : slots;
}

void fill_observation_table(std::string_view text, const ObservationFileHeader& header,
                            ObservationTable table) {
  const long long slots = observation_table_slots(header);
  for (long long s = 0; s < slots; ++s) table[static_cast<int>(s)] = unfilled_slot;

  const int n = header.interval_count;
  std::size_t position = header.codes_begin;
  for (int i = 0; i < header.observation_count && position < text.size(); ++i) {
    // Codes of row i, then its terminator into slot 0 of the next row.
    for (int j = 0; j <= n && position < text.size(); ++j) {
      table[i * n + j] = static_cast<unsigned char>(text[position++]);
    }
  }
}
