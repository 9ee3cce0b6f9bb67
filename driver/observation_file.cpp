#include "driver/observation_file.hpp"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "driver/white_space.hpp"

namespace {

// Bytes read from the data file at a time.
constexpr std::size_t read_piece_size = std::size_t{1} << 16;
// The most the text is given room for before it is read.
constexpr std::size_t largest_reservation = std::size_t{64} << 20;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

enum class CountReading { read, missing, too_large, too_negative };

// What a file saved by some Windows editors begins with.  Formatted input
// stops at it as at any other byte that cannot begin a number.
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

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
  if (too_large && negative) return CountReading::too_negative;
  if (too_large || signed_value > INT_MAX) return CountReading::too_large;
  value = static_cast<int>(signed_value);
  return CountReading::read;
}

std::string count_problem(CountReading reading, int value, const char* what, int largest) {
  switch (reading) {
    case CountReading::missing:
      return std::string("the data file gives no number of ") + what +
             " where a whole number should stand";
    case CountReading::too_large:
      return std::string("the number of ") + what + " in the data file is too large";
    case CountReading::too_negative:
      return std::string("the data file gives a negative number of ") + what +
             "; it must be at least 1";
    case CountReading::read:
      if (value < 1) {
        return "the data file gives " + std::to_string(value) + " as the number of " + what +
               "; it must be at least 1";
      }
      if (value > largest) {
        return "the data file gives " + std::to_string(value) + " as the number of " + what +
               "; it must be at most " + std::to_string(largest);
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
  if (text.starts_with(byte_order_mark)) {
    header.problem =
        "the data file begins with a UTF-8 byte-order mark (bytes EF BB BF) where the number of "
        "observations should stand; save it as plain text without one";
    return header;
  }
  std::size_t position = 0;
  const CountReading first = read_count(text, position, header.observation_count);
  header.problem = count_problem(first, header.observation_count, "observations", INT_MAX);
  header.end = position;
  // The first bytes of a mark might still be followed by the rest of it.
  if (!text.empty() && byte_order_mark.starts_with(text)) header.end = text.size();
  if (!header.problem.empty()) return header;
  const CountReading second = read_count(text, position, header.interval_count);
  header.problem =
      count_problem(second, header.interval_count, "intervals", largest_fitted_interval_count);
  header.end = position;
  if (!header.problem.empty()) return header;
  // The one character after the second count is thrown away.
  header.codes_begin = position < text.size() ? position + 1 : position;
  header.end = header.codes_begin;
  return header;
}

// Reading stops at a character it has seen: a digit run or white space that
// reaches the end of the text might go on in a longer one.  A header that
// was read needs one character beyond the thrown-away one, since a carriage
// return there would fold with a line feed after it.
bool header_is_settled(const ObservationFileHeader& header, std::size_t text_size) {
  return header.end < text_size;
}

void fold_more_line_ends(LineEndFolding& folding, std::string_view raw_piece) {
  // The stretches between carriage returns are copied whole.
  std::size_t at = 0;
  while (at < raw_piece.size()) {
    if (folding.carriage_return_pending) {
      folding.carriage_return_pending = false;
      if (raw_piece[at] == '\n') {
        folding.text.push_back('\n');
        ++at;
        continue;
      }
      folding.text.push_back('\r');
    }
    const std::size_t carriage_return = raw_piece.find('\r', at);
    if (carriage_return == std::string_view::npos) {
      folding.text.append(raw_piece.substr(at));
      return;
    }
    folding.text.append(raw_piece.substr(at, carriage_return - at));
    folding.carriage_return_pending = true;
    at = carriage_return + 1;
  }
}

void finish_line_end_folding(LineEndFolding& folding) {
  if (folding.carriage_return_pending) folding.text.push_back('\r');
  folding.carriage_return_pending = false;
}

long long observation_table_slots(const ObservationFileHeader& header) {
  const long long slots =
      (static_cast<long long>(header.interval_count) + 1) * header.observation_count;
  return slots > INT_MAX ? -1 : slots;
}

std::size_t observation_text_needed(const ObservationFileHeader& header) {
  const long long slots = observation_table_slots(header);
  return header.codes_begin + static_cast<std::size_t>(slots < 0 ? 0 : slots);
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

// The header is read again only when the text has doubled since the last
// try, so a file that opens with a long run of white space is still read in
// linear time.
std::optional<std::string> read_observation_text(const std::string& name) {
  std::FILE* file = std::fopen(name.c_str(), "r");
  if (file == nullptr) return std::nullopt;
  std::optional<std::string> text = read_observation_stream(file);
  std::fclose(file);
  return text;
}

std::optional<std::string> read_observation_stream(std::FILE* file) {
  LineEndFolding folding;
  ObservationFileHeader header;
  bool settled = false;
  std::size_t size_at_last_try = 0;
  std::string piece(read_piece_size, '\0');
  std::size_t got = 0;
  while ((got = std::fread(piece.data(), 1, piece.size(), file)) > 0) {
    fold_more_line_ends(folding, std::string_view(piece).substr(0, got));
    const std::string& text = folding.text;
    if (!settled && text.size() >= 2 * size_at_last_try) {
      header = read_observation_header(text);
      settled = header_is_settled(header, text.size());
      size_at_last_try = text.size();
      // The text then grows to the table's end and no further: room for
      // all of it at once, rather than copy after copy as it doubles.  Only
      // up to a bound, since the header's claim may be far beyond the file.
      if (settled && header.problem.empty()) {
        folding.text.reserve(
            std::min(observation_text_needed(header) + read_piece_size, largest_reservation));
      }
    }
    if (settled && (!header.problem.empty() || text.size() >= observation_text_needed(header))) {
      break;
    }
  }
  if (std::ferror(file) != 0) return std::nullopt;
  // When reading stopped early, a carriage return still waiting stands past
  // everything the header and the table look at.
  finish_line_end_folding(folding);
  return std::move(folding.text);
}

bool install_observation_table(std::string_view text, const ObservationFileHeader& header) {
  const long long slots = observation_table_slots(header);
  if (slots < 0) return false;
  const ObservationTable table = cvector(0, static_cast<int>(slots) - 1);
  fill_observation_table(text, header, table);
  set_observations(table, header.observation_count, header.interval_count);
  return true;
}
