// The observations and the model order: process-wide values set once by the
// run driver (the loading step and the order prompt) and read by the
// likelihood and the standard-error step.  Nothing writes them afterwards.
#pragma once

#include "foundation/index_ranged_arrays.hpp"

// The table of code bytes.  Row i (0-based) holds observation i, n bytes per
// row with stride n: the code of observation i for interval t (1..n) is at
// index i*n + t - 1.  It is a cvector over 0 .. (n+1)*observation_count - 1;
// slots past the last row hold no information.
using ObservationTable = ByteVector;

extern int observation_count;  // rows of the table
extern int interval_count;     // n: intervals, and parameters of the model
extern ObservationTable observations;
extern int model_order;  // p: levels of the latent state

// Incremented whenever the table above is replaced, so that work derived
// from the table alone (the likelihood's prefix tree) is rebuilt.
extern unsigned observation_generation;

// Sets the three table values together and marks the table as new.
void set_observations(ObservationTable table, int count, int intervals);
