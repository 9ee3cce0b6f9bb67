// White space as the C library's formatted input skips it ("%s", "%d"):
// blank, tab, line feed, vertical tab, form feed, carriage return.  The
// answers at the prompts and the counts of the data file are read with it.
#pragma once

constexpr bool is_white_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
