// The results file, "etest.txt" in the working directory.  Each complete run
// appends to it (a summary block, then a standard-error block); it is never
// truncated and never read.
//
// A block is gathered in memory and goes to the file in one append, with an
// advisory lock (flock) on the file while it is written: runs started in the
// same folder at the same time cannot cut into each other's blocks, although
// one run's summary and its standard errors, appended separately, may still
// have another run's block between them.  A block is only as good as its
// last byte: the write and the close are checked, and a block that could
// not be written in full ends the run with status 1 rather than being
// reported as saved.
#pragma once

#include <string>

struct ResultsBlock {
  int descriptor = -1;  // etest.txt, opened for appending
  std::string text;     // the block so far
};

// Flushes standard output, then opens "etest.txt" for appending (creating
// it if need be), without waiting on a named pipe.  If it cannot be opened,
// or is neither a regular file nor a device, prints "can't open the data
// file" (no line end) on standard output and ends the process with status 1.
ResultsBlock open_results_file();

// Adds formatted text to the block.
[[gnu::format(printf, 2, 3)]] void append_results(ResultsBlock& block, const char* format, ...);

// Appends the block to the file under the lock and closes it.  If the write
// or the close fails (a full disk, a file-size limit), prints a one-line
// message on standard output and ends with status 1.
void close_results_file(ResultsBlock& block);
