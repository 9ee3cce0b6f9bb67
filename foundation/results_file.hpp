// The results file, "etest.txt" in the working directory.  Each complete run
// appends to it (a summary block, then a standard-error block); it is never
// truncated and never read.  A block is only as good as its last byte: every
// write and the close are checked, and a block that could not be written in
// full ends the run with status 1 rather than being reported as saved.
#pragma once

#include <cstdio>

// Opens "etest.txt" for appending.  If it cannot be opened, prints
// "can't open the data file" (no line end) on standard output and ends the
// process with status 1.
std::FILE* open_results_file();

// Appends formatted text; a failed write is remembered by the stream and
// reported by close_results_file.
[[gnu::format(printf, 2, 3)]] void append_results(std::FILE* file, const char* format, ...);

// Closes the file.  If any write or the close failed (a full disk, say),
// prints a one-line message on standard output and ends with status 1.
void close_results_file(std::FILE* file);
