// The one exit for what cannot go on: a refused memory request, or a
// numerical failure such as a singular matrix.  Nothing is returned to a
// caller; the process ends here.
#pragma once

// Writes three lines to standard error, the banner, the message and the
// farewell, then ends the process through exit(1), which flushes every open
// output stream.  Any thread may call it; only the first call reports.
[[noreturn]] void fatal_numeric_error(const char* message);
