// Test helper: installs rows of code bytes as the process-wide observation
// table, laid out as the loader lays it out (a cvector with stride n), and
// releases it again.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "foundation/index_ranged_arrays.hpp"
#include "model/observations.hpp"

class InstalledTable {
 public:
  // Every row must hold exactly n bytes.
  InstalledTable(const std::vector<std::string>& rows, int n)
      : count_(static_cast<int>(rows.size())), n_(n), last_((n + 1) * count_ - 1) {
    table_ = cvector(0, last_);
    for (int i = 0; i < count_; ++i) {
      for (int t = 0; t < n; ++t) {
        const std::string& row = rows[static_cast<std::size_t>(i)];
        table_[i * n + t] = static_cast<unsigned char>(row[static_cast<std::size_t>(t)]);
      }
    }
    set_observations(table_, count_, n_);
  }
  InstalledTable(const InstalledTable&) = delete;
  InstalledTable& operator=(const InstalledTable&) = delete;
  ~InstalledTable() {
    set_observations(ObservationTable{}, 0, 0);
    release_cvector(table_, 0, last_);
  }

  ObservationTable table() const { return table_; }

 private:
  int count_;
  int n_;
  int last_;
  ObservationTable table_;
};

// A point whose entries 1..n are the given parameters, released with it.
class Point {
 public:
  explicit Point(const std::vector<double>& lambdas)
      : n_(static_cast<int>(lambdas.size())), point_(dvector(1, n_)) {
    for (int t = 1; t <= n_; ++t) point_[t] = lambdas[static_cast<std::size_t>(t - 1)];
  }
  Point(const Point&) = delete;
  Point& operator=(const Point&) = delete;
  ~Point() { release_dvector(point_, 1, n_); }

  DoubleVector get() const { return point_; }

 private:
  int n_;
  DoubleVector point_;
};

// `count` rows of n codes drawn from N, R, X and one uninformative byte
// (N and R twice as often), then a repeat of the first row and a row that
// shares all but its last code with it: repeated rows and shared prefixes,
// as real tables have.
inline std::vector<std::string> random_code_rows(std::mt19937_64& engine, int count, int n) {
  const char codes[] = {'N', 'R', 'X', '-', 'N', 'R'};
  std::uniform_int_distribution<int> pick(0, 5);
  std::vector<std::string> rows(static_cast<std::size_t>(count),
                                std::string(static_cast<std::size_t>(n), ' '));
  for (std::string& row : rows) {
    for (char& c : row) c = codes[pick(engine)];
  }
  rows.push_back(rows.front());
  rows.push_back(rows.front().substr(0, static_cast<std::size_t>(n - 1)) + "N");
  return rows;
}
