#include "driver/observation_rows.hpp"

#include <algorithm>
#include <cstddef>

namespace {

int line_of(std::string_view text, std::size_t position) {
  const std::size_t end = std::min(position, text.size());
  return 1 +
         static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(end), '\n'));
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string count_text(long long count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::optional<RowsProblem> strict_rows_problem(std::string_view text,
                                               const ObservationFileHeader& header) {
  const int n = header.interval_count;
  const int rows = header.observation_count;
  std::size_t position = header.codes_begin;
  // The character thrown away after n must end the line of the counts.  (It
  // is never a digit, since the count takes every digit; a digit there means
  // the text ended with the count.)
  const bool ends_after_counts =
      position == text.size() && position > 0 && is_digit(text[position - 1]);
  const int counts_line = line_of(text, ends_after_counts ? position : position - 1);
  if (!ends_after_counts && text[position - 1] != '\n') {
    return RowsProblem{counts_line,
                       "more follows the number of intervals on this line (a blank counts too); "
                       "the line must hold only the numbers of observations and of intervals, "
                       "or every code would move one place along"};
  }
  for (int row = 0; row < rows; ++row) {
    if (position >= text.size()) {
      return RowsProblem{line_of(text, position),
                         "the file ends after " + count_text(row, "row", "rows") + " of the " +
                             count_text(rows, "observation", "observations") +
                             " announced on line " + std::to_string(counts_line) +
                             "; add the missing rows, or announce " + std::to_string(row) +
                             " (missing rows would be read as codes without information)"};
    }
    const std::size_t line_end = std::min(text.find('\n', position), text.size());
    const std::size_t length = line_end - position;
    const int line = line_of(text, position);
    if (length == 0) {
      return RowsProblem{line,
                         "a blank line among the observation rows; remove it (it would be read "
                         "as codes, and every later row would move)"};
    }
    if (length != static_cast<std::size_t>(n)) {
      // Reading stops once the text covers the table, so a long row that
      // runs to the end of the text may go on in the file.
      const bool may_go_on =
          line_end == text.size() && text.size() >= observation_text_needed(header);
      return RowsProblem{
          line, "row " + std::to_string(row + 1) + " holds " + (may_go_on ? "at least " : "") +
                    count_text(static_cast<long long>(length), "code", "codes") + ", but line " +
                    std::to_string(counts_line) + " announces " +
                    count_text(n, "interval", "intervals") + "; give every row exactly " +
                    std::to_string(n) + " codes (a row of another length moves every later row)"};
    }
    position = line_end + 1;
  }
  // Rows past the announced count would be left out of the fit without a
  // word; blank lines at the end are no rows.
  long long extra = 0;
  std::size_t first_extra = std::string_view::npos;
  while (position < text.size()) {
    const std::size_t line_end = std::min(text.find('\n', position), text.size());
    const std::string_view line = text.substr(position, line_end - position);
    if (line.find_first_not_of(" \t") != std::string_view::npos) {
      if (extra == 0) first_extra = position;
      ++extra;
    }
    position = line_end + 1;
  }
  if (extra > 0) {
    const long long held = rows + extra;
    return RowsProblem{line_of(text, first_extra),
                       "the file holds " + count_text(held, "row", "rows") + " but line " +
                           std::to_string(counts_line) + " announces " + std::to_string(rows) +
                           "; announce " + std::to_string(held) +
                           ", or remove the rows after row " + std::to_string(rows) +
                           " (they would not be fitted)"};
  }
  return std::nullopt;
}
