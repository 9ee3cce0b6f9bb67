// The inverse of a symmetric positive-definite matrix, the covariance of a
// maximum-likelihood estimate from its observed information.
//
// Conventions: dmatrix over rows and columns 1..n.
//
// Method: the Cholesky factorisation A = L L^T, which exists exactly when A
// is positive definite, then two triangular solves per column of the
// inverse.  A pivot that is not clearly positive (relative to the diagonal
// entry it came from) or not a number means the point is no proper minimum,
// or the information there cannot be told from singular, and no inverse is
// returned.
#pragma once

#include "foundation/index_ranged_arrays.hpp"

// Writes the inverse of the symmetric matrix a (rows and columns 1..n, left
// unchanged) into `inverse` and returns true when a is positive definite;
// returns false, leaving `inverse` meaningless, when it is not.
bool invert_positive_definite(DoubleMatrix a, int n, DoubleMatrix inverse);
