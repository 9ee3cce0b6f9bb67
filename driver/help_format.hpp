// The companions' --help layout: the usage line first, a line or two on
// what the program does, the options in their groups with descriptions
// folded to fit 80 columns, then the footer (examples, environment, exit
// status).  Manual pages are made from this text by help2man, which reads
// a line ending in '-' as a word broken by hyphenation: descriptions are
// folded at blanks only, so a hyphenated word never ends a line.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <string_view>

inline constexpr std::size_t help_width = 80;
// Where an option's description starts.
inline constexpr std::size_t help_option_column = 26;

// `text` folded at blanks to lines of at most `width` characters; a line
// end in `text` is kept.
inline std::string folded_text(std::string_view text, std::size_t width) {
  std::string result;
  std::string line;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find_first_of(" \n", at), text.size());
    const std::string_view word = text.substr(at, end - at);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      result += line + "\n";
      line.clear();
    }
    if (!word.empty()) line += (line.empty() ? "" : " ") + std::string(word);
    if (end < text.size() && text[end] == '\n') {
      result += line + "\n";
      line.clear();
    }
    at = end + 1;
  }
  return result + line;
}

// An option's description, folded to the columns beside the option names.
inline std::string option_help(std::string_view text) {
  return folded_text(text, help_width - help_option_column);
}

class CompanionHelp : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode /*mode*/) const override {
    std::string text = make_usage(app, name) + make_description(app) + make_positionals(app) +
                       make_groups(app, CLI::AppFormatMode::Normal) + "\n" + make_footer(app);
    // One blank line between groups, where the library leaves two.
    for (std::size_t at = text.find("\n\n\n"); at != std::string::npos;
         at = text.find("\n\n\n", at)) {
      text.erase(at, 1);
    }
    return text;
  }
};

// Gives `app` the layout above.
inline void use_companion_help(CLI::App& app) {
  auto format = std::make_shared<CompanionHelp>();
  format->column_width(help_option_column);
  format->label("Positionals", "Input");
  app.formatter(format);
}
