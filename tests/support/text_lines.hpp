// Reading what a program wrote: its lines, and the numbers on a line.
#pragma once

#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// Every number on the line, in order, up to the first word that is not one.
inline std::vector<double> numbers_in(const std::string& line) {
  std::vector<double> values;
  std::istringstream in(line);
  double value = 0;
  while (in >> value) values.push_back(value);
  return values;
}
