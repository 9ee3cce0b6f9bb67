#include "optimise/gaussj.hpp"

#include <cmath>

#include "foundation/fatal_error.hpp"

namespace {

struct Pivot {
  int row;
  int column;
};

// Largest |a[j][k]| over rows j whose column has not been pivoted on once
// and columns k never pivoted on.  The comparison is >=, so a later equal
// candidate replaces an earlier one and 0.0 qualifies against the starting
// maximum of 0.0; a NaN never qualifies.
Pivot find_pivot(DoubleMatrix a, int n, IntVector column_uses) {
  double largest = 0.0;
  Pivot pivot{0, 0};
  bool found = false;
  for (int j = 1; j <= n; ++j) {
    if (column_uses[j] == 1) continue;
    for (int k = 1; k <= n; ++k) {
      if (column_uses[k] == 0) {
        if (std::fabs(a[j][k]) >= largest) {
          largest = std::fabs(a[j][k]);
          pivot = {j, k};
          found = true;
        }
      } else if (column_uses[k] > 1) {
        fatal_numeric_error("gaussj: Singular Matrix-1");
      }
    }
  }
  // Every candidate was NaN: there is no pivot to go on with.
  if (!found) fatal_numeric_error("gaussj: Matrix cannot be inverted (no usable pivot)");
  return pivot;
}

void swap_rows(DoubleMatrix a, int n, int first, int second) {
  for (int l = 1; l <= n; ++l) {
    const double element = a[first][l];
    a[first][l] = a[second][l];
    a[second][l] = element;
  }
}

void swap_columns(DoubleMatrix a, int n, int first, int second) {
  for (int k = 1; k <= n; ++k) {
    const double element = a[k][first];
    a[k][first] = a[k][second];
    a[k][second] = element;
  }
}

// Row c becomes row c / pivot, with the pivot position itself standing for
// the matching column of the identity (1.0 before the scaling); then
//   row r <- row r - a[r][c] * row c   for every r != c,
// with a[r][c] likewise standing for the identity column (0.0).
void eliminate_column(DoubleMatrix a, int n, int c) {
  const double pivot_inverse = 1.0 / a[c][c];
  a[c][c] = 1.0;
  for (int l = 1; l <= n; ++l) a[c][l] *= pivot_inverse;
  for (int r = 1; r <= n; ++r) {
    if (r == c) continue;
    const double factor = a[r][c];
    a[r][c] = 0.0;
    for (int l = 1; l <= n; ++l) a[r][l] -= factor * a[c][l];
  }
}

}  // namespace

void gaussj(DoubleMatrix a, int n) {
  IntVector pivot_columns = ivector(1, n);
  IntVector pivot_rows = ivector(1, n);
  IntVector column_uses = ivector(1, n);
  for (int j = 1; j <= n; ++j) column_uses[j] = 0;

  for (int i = 1; i <= n; ++i) {
    const Pivot pivot = find_pivot(a, n, column_uses);
    const int c = pivot.column;
    ++column_uses[c];
    if (pivot.row != c) swap_rows(a, n, pivot.row, c);
    pivot_rows[i] = pivot.row;
    pivot_columns[i] = c;
    if (a[c][c] == 0.0) fatal_numeric_error("gaussj: Singular Matrix-2");
    eliminate_column(a, n, c);
  }

  // Undo the row interchanges on the columns, last interchange first.
  for (int l = n; l >= 1; --l) {
    if (pivot_rows[l] != pivot_columns[l]) swap_columns(a, n, pivot_rows[l], pivot_columns[l]);
  }

  release_ivector(column_uses, 1, n);
  release_ivector(pivot_rows, 1, n);
  release_ivector(pivot_columns, 1, n);
}
