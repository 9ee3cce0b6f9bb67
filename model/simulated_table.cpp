#include "model/simulated_table.hpp"

#include <cstddef>
#include <iterator>
#include <vector>

#include "model/simulation.hpp"

namespace {

// Rates of X codes and of no-information codes in the simulated tables.
constexpr double x_rate = 0.05;
constexpr double missing_rate = 0.02;

// Interval lengths cycle through these, as the whole-run sets do.
constexpr double lengths[] = {0.21, 0.33, 0.18, 0.27, 0.35, 0.15, 0.24, 0.30, 0.19};

}  // namespace

SimulatedTable::SimulatedTable(const DataSet& set)
    : set_(set),
      last_((set.n + 1) * set.count - 1),
      table_(cvector(0, last_)),
      point_(dvector(1, set.n)) {
  SimulationSettings settings;
  settings.order = set.p;
  settings.x_rate = x_rate;
  settings.missing_rate = missing_rate;
  for (int t = 1; t <= set.n; ++t) {
    point_[t] = 2.0 * set.p * lengths[static_cast<std::size_t>(t - 1) % std::size(lengths)];
    settings.rates.push_back(point_[t]);
  }
  const std::vector<char> codes = simulate_codes(settings, set.count, set.seed);
  for (int s = 0; s <= last_; ++s) table_[s] = ' ';
  for (std::size_t s = 0; s < codes.size(); ++s) {
    table_[static_cast<int>(s)] = static_cast<unsigned char>(codes[s]);
  }
  set_observations(table_, set.count, set.n);
  model_order = set.p;
}

SimulatedTable::~SimulatedTable() {
  set_observations(ObservationTable{}, 0, 0);
  release_dvector(point_, 1, set_.n);
  release_cvector(table_, 0, last_);
}
