// The loading step of a run: asks for the data file name, reads the file,
// echoes the counts and every row of codes, and sets the process-wide
// observation_count, interval_count and observations.  It returns with all
// three set, or ends the process with status 1 and a one-line message.
#pragma once

void load_observations();
