// The three standard descriptors, made sure of before anything else runs.
//
// A program started with descriptor 0, 1 or 2 closed hands that number to
// the next file it opens: an output file would then also receive whatever
// is printed to the closed stream (progress lines written into a CSV file,
// a report written into a results file).  Opening /dev/null on each closed
// one first keeps every file the program opens at 3 or above.
#pragma once

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed.  Returns
// false when one of them could not be opened (nothing sensible can then be
// reported, since standard error may be the one missing).
bool open_closed_standard_descriptors();
