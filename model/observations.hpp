// The observations and the model order: process-wide values set once by the
// run driver (the loading step and the order prompt) and read by the
// likelihood and the standard-error step.  Nothing writes them afterwards.
//
// Both likelihoods (the objective and the one with its gradient) derive
// work from the table alone: its code rows, their distinct rows in
// lexicographic order.  The helpers below are the one home of that work and
// of the check that what was derived is still the installed table's.
#pragma once

#include <vector>

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

// Which table some derived work was built from: its announcement, sizes
// and storage.  Work is current while its stamp equals installed_table().
struct TableStamp {
  unsigned held = 0;  // 0 for the installed table, else the HeldTable's number
  unsigned generation = 0;
  int count = 0;
  int n = 0;
  const unsigned char* table = nullptr;

  bool operator==(const TableStamp&) const = default;
};

TableStamp installed_table();

// A table of code bytes (observation i's code for interval t at
// i * n + t - 1) held apart from the installed one, so that several data
// files can be fitted together and evaluated at once on several threads.
// Each has a number of its own for as long as the process runs, so work
// derived from one is never taken for another's.
class HeldTable {
 public:
  HeldTable(const unsigned char* codes, int count, int n);
  int count() const { return count_; }
  int intervals() const { return n_; }
  TableStamp stamp() const { return stamp_; }
  // The code rows (model/emission.hpp, code_row), 0..3, row i at i * n.
  const std::vector<unsigned char>& code_rows() const { return code_rows_; }

 private:
  int count_;
  int n_;
  std::vector<unsigned char> code_rows_;
  TableStamp stamp_;
};

// The installed table's code rows (model/emission.hpp, code_row), 0..3,
// observation_count rows of interval_count, row i at i * n.
std::vector<unsigned char> code_row_matrix();

// The rows codes[i * n .. i * n + n - 1], i < count, each a code row 0..3,
// in lexicographic order, equal rows by index: a permutation of 0..count-1.
// Lexicographic order is depth-first preorder of the rows' prefix tree, and
// equal rows end up next to each other.
std::vector<int> lexicographic_order(const std::vector<unsigned char>& codes, int count, int n);
