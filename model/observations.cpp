#include "model/observations.hpp"

int observation_count = 0;
int interval_count = 0;
ObservationTable observations;
int model_order = 0;
unsigned observation_generation = 0;

void set_observations(ObservationTable table, int count, int intervals) {
  observations = table;
  observation_count = count;
  interval_count = intervals;
  ++observation_generation;
}
