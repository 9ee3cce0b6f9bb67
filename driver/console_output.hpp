// interval-fit's standard output: the prompts, the echo, the report.
//
// Standard output is a buffered stream, so a prompt written to a pipe or a
// file would only appear when the buffer fills or the program ends.  It is
// flushed before every answer is read and before each long step, so that a
// user watching a log sees the dialogue as it happens.
//
// A failed write (a full disk, a closed descriptor) leaves the stream's
// error indicator set and loses the report; the run checks the indicator
// before the standard errors and at the end, and reports the loss on
// standard error with status 1 instead of ending as if all was printed.
#pragma once

#include <cstdio>

// Makes sure descriptors 0, 1 and 2 are open before anything else is: a
// file opened later would otherwise take a closed one's number, and the
// report meant for standard output would land in it (in etest.txt, say).
// A closed standard output is replaced by a descriptor that cannot be
// written, so that its loss is reported like any other failed write.
void keep_standard_descriptors_open();

// A write beyond the file-size limit (ulimit -f) raises SIGXFSZ, whose
// default action ends the process at once, with no message and the
// temporaries left behind.  Ignored, the write fails with EFBIG instead and
// is reported like a full disk.
void report_file_size_limit_as_write_failure();

// Flushes standard output, remembering the reason of the first failure.
void flush_console();

// Flushes standard output; when any write to it has failed, prints
// "interval-fit: the report could not be written to standard output: " and
// the system's reason on standard error and ends the process with status 1.
void require_console_written();

// Flushes `stream`: 0 when everything written to it went out, else the
// system's reason for the failure (EIO when it left none).
int flush_failure(std::FILE* stream);
