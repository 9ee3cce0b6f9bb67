// Turning the bytes of an observation data file into the table of codes.
//
// The file, as a user writes it:
//   the number of observations M and the number of intervals n, two whole
//   numbers with white space before each; exactly one character after n,
//   read and thrown away (normally the line end of the first line); then for
//   each observation n code characters and one more character that is
//   thrown away (normally its line end).  Whatever follows is not read.
// A carriage return followed by a line feed reads as one line end, so files
// written with either convention load the same table.
//
// The table is a cvector over 0 .. (n+1)*M - 1 filled as if the characters
// were read one by one: code j of observation i goes to slot i*n + j and the
// character that ends row i to slot i*n + n, which is slot 0 of row i+1 and
// is overwritten by the next row's first code.  A file that ends early leaves
// the remaining slots as they were: a blank, which carries no information.
//
// Nothing here prints or exits, so the whole of it can be tested and fuzzed
// directly; the loading step on the console wraps it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "model/observations.hpp"

// The byte that stands in every slot the file never fills.
inline constexpr unsigned char unfilled_slot = ' ';

struct ObservationFileHeader {
  int observation_count = 0;
  int interval_count = 0;
  std::size_t codes_begin = 0;  // where the first code stands in the folded text
  std::string problem;          // empty when the file can be used; else why not
};

// The text with every CR LF pair replaced by a single LF.
std::string fold_line_ends(std::string_view raw);

// Reads the two counts of the folded text and skips the character after the
// second.  Each count must be a whole number of at least 1.
ObservationFileHeader read_observation_header(std::string_view text);

// The number of slots of the table, (n+1)*M, or -1 when it does not fit int.
long long observation_table_slots(const ObservationFileHeader& header);

// Fills every slot of `table` (allocated over 0 .. slots - 1) from the folded
// text, as described above.
void fill_observation_table(std::string_view text, const ObservationFileHeader& header,
                            ObservationTable table);
