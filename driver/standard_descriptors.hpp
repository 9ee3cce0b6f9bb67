// The three standard descriptors, made sure of before anything else runs.
//
// A program started with descriptor 0, 1 or 2 closed hands that number to
// the next file it opens: an output file would then also receive whatever
// is printed to the closed stream (progress lines written into a CSV file,
// a report written into a results file).  Opening /dev/null on each closed
// one first keeps every file the program opens at 3 or above.
#pragma once

// Which descriptors were found closed, and whether /dev/null could take
// their place.  A program that writes its results to standard output must
// still report them lost when that descriptor was closed: /dev/null takes
// every write without complaint.
struct ClosedStandardDescriptors {
  bool input = false;
  bool output = false;
  bool error = false;
  // Nothing sensible can be reported then, since standard error may be the
  // one missing.
  bool not_reopened = false;
};

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed.
ClosedStandardDescriptors open_closed_standard_descriptors();
