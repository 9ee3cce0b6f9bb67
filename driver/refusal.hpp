// The exits of interval-fit's dialogue for what the user got wrong: a
// message on standard output and status 1.  (What cannot go on numerically
// ends through fatal_numeric_error instead.)
#pragma once

// Prints `message` and a line end and ends the process with status 1.
[[noreturn]] void refuse_input(const char* message);

// Prints "can't open the data file", with no line end, and ends the process
// with status 1.  The classic program says this for the data file and for
// the results file alike.
[[noreturn]] void refuse_unopenable_file();
