// Matrix inversion in place by Gauss-Jordan elimination with full pivoting.
//
// Conventions: the matrix is a dmatrix whose rows and columns 1..n are used;
// it is overwritten by its inverse.  There is no right-hand side.
//
// Method: for each of the n steps, the pivot is the element of largest
// absolute value among the rows and columns not yet pivoted on (the last of
// equal candidates in row-then-column order wins); its row is swapped onto
// the diagonal, scaled by the reciprocal of the pivot, and eliminated from
// every other row.  Working in place swaps the columns of the inverse as the
// rows were swapped, so the columns are put back from the last step to the
// first.
//
// A singular matrix does not return: a pivot of exactly 0.0 ends the process
// through fatal_numeric_error ("gaussj: Singular Matrix-2"), as does a step
// in which no candidate is a number at all.
#pragma once

#include "foundation/index_ranged_arrays.hpp"

void gaussj(DoubleMatrix a, int n);
