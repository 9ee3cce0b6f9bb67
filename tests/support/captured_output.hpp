// What a routine writes to a FILE*, captured through a temporary file.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

template <typename Writer>
std::string captured_output(Writer write) {
  std::FILE* file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return {};
  write(file);
  std::rewind(file);
  std::string text;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
    text.push_back(static_cast<char>(c));
  std::fclose(file);
  return text;
}
