// The strict reading of an observation data file, for the programs that are
// free to refuse what the classic reading would take.
//
// The classic reading takes characters, not lines: a row one code short
// takes its line end as a code and shifts every later row; a blank line is
// read as codes; a file that ends early leaves the missing codes without
// information.  None of that is reported.  The strict reading asks that the
// first line hold only the two counts, and that the next M lines each hold
// exactly n codes, and that no further row follow them (the classic reading
// ignores them; blank lines at the end are allowed).  A file that passes
// gives the classic table exactly.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "driver/observation_file.hpp"

struct RowsProblem {
  int line = 0;         // 1-based line of the folded text
  std::string message;  // what is wrong and how to mend it
};

// The first departure of the folded text from the strict layout, or
// nothing.  The header must have been read without a problem.
std::optional<RowsProblem> strict_rows_problem(std::string_view text,
                                               const ObservationFileHeader& header);
