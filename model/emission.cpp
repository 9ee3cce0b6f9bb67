#include "model/emission.hpp"

#include <cassert>

#include "model/latent_state.hpp"

namespace {

// Emission factors of sub-states 1..6 under each code row.  R is consistent
// only with class {2, 5}; N only with {1, 6} and {3, 4}; X counts {1, 6} and
// {3, 4} fully and {2, 5} by one half; other bytes carry no information.
constexpr double emission_factors[code_row_count][sub_state_count] = {
    {0.0, 1.0, 0.0, 0.0, 1.0, 0.0},
    {1.0, 0.0, 1.0, 1.0, 0.0, 1.0},
    {1.0, 0.5, 1.0, 1.0, 0.5, 1.0},
    {1.0, 1.0, 1.0, 1.0, 1.0, 1.0},
};

}  // namespace

int code_row(unsigned char code) {
  switch (code) {
    case 'R':
      return 0;
    case 'N':
      return 1;
    case 'X':
      return 2;
    default:
      return uninformative_code_row;
  }
}

double emission_factor(int row, int sub_state) {
  assert(row >= 0 && row < code_row_count && sub_state >= 1 && sub_state <= sub_state_count);
  return emission_factors[row][sub_state - 1];
}

double emission_factor(int row, int sub_state, double error_rate) {
  const double factor = emission_factor(row, sub_state);
  if (row != code_row('R') && row != code_row('N')) return factor;
  return factor == 1.0 ? 1.0 - error_rate : error_rate;
}

void fill_emission_table(DoubleMatrix emission_table, int p, double error_rate) {
  // Level 1 from the table, then every further level as a copy of level 1.
  for (int row = 0; row < code_row_count; ++row) {
    for (int a = 1; a <= sub_state_count; ++a) {
      emission_table[row][a] = emission_factor(row, a, error_rate);
    }
  }
  for (int level = 2; level <= p; ++level) {
    for (int a = 1; a <= sub_state_count; ++a) {
      for (int row = 0; row < code_row_count; ++row) {
        emission_table[row][state_number(level, a)] = emission_table[row][a];
      }
    }
  }
}
