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
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "model/observations.hpp"

// The byte that stands in every slot the file never fills.
inline constexpr unsigned char unfilled_slot = ' ';

// Files announcing more intervals are refused.  The run keeps an
// (n+1) x n simplex and an n x n curvature matrix and evaluates the
// likelihood at n(n+1)/2 points for the standard errors; beyond this many intervals
// that is hours of work at order 1 and, far beyond it, more memory than a
// machine has, so a mistyped count would otherwise end in an out-of-memory
// kill instead of a message.
inline constexpr int largest_fitted_interval_count = 1000;

struct ObservationFileHeader {
  int observation_count = 0;
  int interval_count = 0;
  std::size_t codes_begin = 0;  // where the first code stands in the folded text
  std::string problem;          // empty when the file can be used; else why not
  // Where reading the counts stopped: codes_begin when they were read, else
  // the character that showed the problem.  Text that goes on past this
  // place gives the same header whatever follows.
  std::size_t end = 0;
};

// The text with every CR LF pair replaced by a single LF.
std::string fold_line_ends(std::string_view raw);

// Reads the two counts of the folded text and skips the character after the
// second.  Each count must be a whole number of at least 1, and the number
// of intervals at most largest_fitted_interval_count.
ObservationFileHeader read_observation_header(std::string_view text);

// True when the header read from the first `text_size` characters of a file
// is the header of the whole file, however the file goes on.
bool header_is_settled(const ObservationFileHeader& header, std::size_t text_size);

// Folding the line ends of a file read piece by piece: `text` holds the
// folded characters so far; a carriage return at the end of a piece waits
// for the next piece to show whether a line feed follows it.
struct LineEndFolding {
  std::string text;
  bool carriage_return_pending = false;
};
void fold_more_line_ends(LineEndFolding& folding, std::string_view raw_piece);
void finish_line_end_folding(LineEndFolding& folding);

// The number of slots of the table, (n+1)*M, or -1 when it does not fit int.
long long observation_table_slots(const ObservationFileHeader& header);

// How many folded characters filling the table can read: the header and
// one character per slot.  Whatever a file holds beyond them is never read.
std::size_t observation_text_needed(const ObservationFileHeader& header);

// Fills every slot of `table` (allocated over 0 .. slots - 1) from the folded
// text, as described above.
void fill_observation_table(std::string_view text, const ObservationFileHeader& header,
                            ObservationTable table);

// The folded text of the data file `name` as far as loading can look: the
// counts, then one character per table slot.  A file may go on far beyond
// that (extra lines are not read) or never end (a device), so reading stops
// once the header is settled and its table is covered; a file whose header
// shows a problem is read no further than that.  Nothing when the file
// cannot be opened or read (a directory opens on some systems but cannot be
// read).
std::optional<std::string> read_observation_text(const std::string& name);

// The same reading from a stream that is already open (standard input, for
// one); the stream stays open.  Nothing when a read fails, errno then
// telling why.
std::optional<std::string> read_observation_stream(std::FILE* file);

// Allocates the table for `header`, fills it from the folded text and makes
// it the process-wide observation table with its two counts.  False, with
// nothing allocated, when (n+1)*M slots do not fit an int.
bool install_observation_table(std::string_view text, const ObservationFileHeader& header);
