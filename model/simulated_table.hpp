// Observation tables for the benchmarks, drawn from the model itself by
// model/simulation (the generator behind interval-simulate): interval
// lengths cycle through a fixed list, lambda_t = 2p x length_t, and the
// codes carry a few X and no-information codes.  The same seed gives the
// same table on every machine.
#pragma once

#include <cstdint>

#include "foundation/index_ranged_arrays.hpp"
#include "model/observations.hpp"

struct DataSet {
  int n;      // intervals
  int p;      // model order
  int count;  // observations
  std::uint64_t seed;
};

// Installs the simulated table and the model order as the process-wide
// observations while it lives, and holds the generating point.
class SimulatedTable {
 public:
  explicit SimulatedTable(const DataSet& set);
  SimulatedTable(const SimulatedTable&) = delete;
  SimulatedTable& operator=(const SimulatedTable&) = delete;
  ~SimulatedTable();

  // The generating parameters, entries 1..n.
  DoubleVector point() const { return point_; }

 private:
  DataSet set_;
  int last_;
  ObservationTable table_;
  DoubleVector point_;
};
