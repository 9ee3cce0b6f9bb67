#include "driver/answers.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "driver/console_output.hpp"
#include "driver/white_space.hpp"

std::optional<std::string> read_answer_word() {
  // Everything printed so far, the prompt above all, is shown before the
  // program waits.
  flush_console();
  int c = std::getchar();
  while (c != EOF && is_white_space(c)) {
    c = std::getchar();
  }
  if (c == EOF) return std::nullopt;
  std::string word;
  while (c != EOF && !is_white_space(c)) {
    if (word.size() <= longest_word) word.push_back(static_cast<char>(c));
    c = std::getchar();
  }
  // The white space that ended the word is consumed, as a formatted read
  // would leave it for the next read to skip anyway.
  return word;
}

std::optional<int> parse_model_order(std::string_view word) {
  if (word.empty() || word.size() > longest_word) return std::nullopt;
  const std::string text(word);
  if (text.find('\0') != std::string::npos) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size()) return std::nullopt;
  if (value < 1 || value > largest_model_order) return std::nullopt;
  return static_cast<int>(value);
}

std::optional<double> parse_initial_estimate(std::string_view word) {
  if (word.empty() || word.size() > longest_word) return std::nullopt;
  const std::string text(word);
  if (text.find('\0') != std::string::npos) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return std::nullopt;
  if (!std::isfinite(value) || value < 0.0) return std::nullopt;
  // "-0" is a start of 0; stored with its sign it would be echoed to
  // etest.txt as -0.000000.
  return value == 0.0 ? 0.0 : value;
}
