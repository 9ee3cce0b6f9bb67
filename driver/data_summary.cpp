#include "driver/data_summary.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>

#include "model/emission.hpp"

namespace {

// Up to this many intervals the paragraph gives every interval's shares;
// past it, the lowest and highest share of each code over the intervals.
constexpr int intervals_listed = 12;
// The width the paragraph is folded to.
constexpr std::size_t line_width = 80;
// The refusal names at most this many distinct codes.
constexpr std::size_t codes_named = 10;

// Counts per interval of R, N, X and uninformative codes, in the rows of
// emission.hpp's code_row.
using CodeCounts = std::array<long long, code_row_count>;

std::string percent(long long count, long long total) {
  char text[16];
  std::snprintf(text, sizeof text, "%.0f",
                total > 0 ? 100.0 * static_cast<double>(count) / static_cast<double>(total) : 0.0);
  return text;
}

// The words, folded to lines of line_width, each line ended.
std::string folded(const std::vector<std::string>& words, const std::string& indent) {
  std::string text;
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty() && line.size() + 1 + word.size() > line_width) {
      text += line + "\n";
      line = indent;
    }
    if (!line.empty() && line != indent) line += ' ';
    line += word;
  }
  if (!line.empty() && line != indent) text += line + "\n";
  return text;
}

// "3", "3 and 5", "2-4, 7 and 9": the intervals as ranges.
std::string interval_list(const std::vector<int>& intervals) {
  std::vector<std::string> items;
  for (std::size_t k = 0; k < intervals.size();) {
    std::size_t last = k;
    while (last + 1 < intervals.size() && intervals[last + 1] == intervals[last] + 1) ++last;
    items.push_back(last == k
                        ? std::to_string(intervals[k])
                        : std::to_string(intervals[k]) + "-" + std::to_string(intervals[last]));
    k = last + 1;
  }
  std::string text;
  for (std::size_t k = 0; k < items.size(); ++k) {
    if (k > 0) text += k + 1 == items.size() ? " and " : ", ";
    text += items[k];
  }
  return text;
}

// A code as the user would type it: 'n', or its number when it is not a
// printable character.
std::string code_name(unsigned char code) {
  char text[16];
  if (code >= 0x21 && code < 0x7f) {
    std::snprintf(text, sizeof text, "'%c'", static_cast<char>(code));
  } else if (code == ' ') {
    std::snprintf(text, sizeof text, "blank");
  } else {
    std::snprintf(text, sizeof text, "byte 0x%02x", code);
  }
  return text;
}

std::string refusal_text(const std::array<long long, 256>& by_byte, long long total) {
  std::vector<unsigned char> found;
  for (int code = 0; code < 256; ++code) {
    if (by_byte[static_cast<std::size_t>(code)] > 0)
      found.push_back(static_cast<unsigned char>(code));
  }
  // The most frequent codes first.
  std::stable_sort(found.begin(), found.end(), [&by_byte](unsigned char a, unsigned char b) {
    return by_byte[a] > by_byte[b];
  });
  std::string named;
  for (std::size_t k = 0; k < found.size() && k < codes_named; ++k) {
    if (k > 0) named += ", ";
    named += code_name(found[k]) + " (" + percent(by_byte[found[k]], total) + "%)";
  }
  if (found.size() > codes_named)
    named += " and " + std::to_string(found.size() - codes_named) + " more";
  return "no interval has an R or an N code, so the data say nothing about the lengths; the "
         "codes found are " +
         named +
         ". The model reads upper-case R, N and X; every other code carries no information "
         "(write the codes in upper case, or translate them, for example with "
         "tr 'nrx' 'NRX')";
}

}  // namespace

DataSummary summarise_observations(const std::string& name, const ObservationTable& table, int rows,
                                   int intervals) {
  const auto n = static_cast<std::size_t>(intervals);
  std::vector<CodeCounts> counts(n, CodeCounts{});
  std::array<long long, 256> by_byte{};
  for (int i = 0; i < rows; ++i) {
    for (std::size_t t = 0; t < n; ++t) {
      const unsigned char code = table[static_cast<int>(static_cast<std::size_t>(i) * n + t)];
      ++counts[t][static_cast<std::size_t>(code_row(code))];
      ++by_byte[code];
    }
  }
  const char* code_letters[code_row_count] = {"R", "N", "X", "other"};

  std::vector<std::string> words = {name + ":", std::to_string(rows), rows == 1 ? "row," : "rows,",
                                    std::to_string(intervals),
                                    intervals == 1 ? "interval;" : "intervals;"};
  std::string indent = "  ";
  if (intervals <= intervals_listed) {
    for (const char* word : {"codes", "R/N/X/other", "in", "%", "per", "interval:"}) {
      words.emplace_back(word);
    }
    for (std::size_t t = 0; t < n; ++t) {
      std::string shares = std::to_string(t + 1) + ":";
      for (std::size_t c = 0; c < counts[t].size(); ++c) {
        shares += (c == 0 ? "" : "/") + percent(counts[t][c], rows);
      }
      words.push_back(shares + (t + 1 < n ? "," : ""));
    }
  } else {
    for (const char* word : {"codes", "in", "%", "per", "interval,", "lowest", "to", "highest:"}) {
      words.emplace_back(word);
    }
    for (std::size_t c = 0; c < static_cast<std::size_t>(code_row_count); ++c) {
      long long low = rows;
      long long high = 0;
      for (const CodeCounts& interval : counts) {
        low = std::min(low, interval[c]);
        high = std::max(high, interval[c]);
      }
      words.push_back(std::string(code_letters[c]) + " " + percent(low, rows) + "-" +
                      percent(high, rows) +
                      (c + 1 < static_cast<std::size_t>(code_row_count) ? "," : ""));
    }
  }
  DataSummary summary;
  summary.paragraph = folded(words, indent);

  std::vector<int> silent;
  for (std::size_t t = 0; t < n; ++t) {
    if (counts[t][0] == 0 && counts[t][1] == 0) silent.push_back(static_cast<int>(t + 1));
  }
  if (silent.size() == n) {
    summary.refusal =
        refusal_text(by_byte, static_cast<long long>(rows) * static_cast<long long>(n));
  } else if (!silent.empty()) {
    summary.warnings.push_back(std::string(silent.size() == 1 ? "interval " : "intervals ") +
                               interval_list(silent) + (silent.size() == 1 ? " has" : " have") +
                               " no R and no N code in any row: the data say little about " +
                               (silent.size() == 1 ? "its length" : "their lengths") +
                               ", which rest on the neighbouring intervals alone");
  }
  return summary;
}
