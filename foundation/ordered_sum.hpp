// A long sum of few distinct values, added in a fixed order.
//
//   add_in_order(total, values, index) = (...((total + values[index[0]])
//                                         + values[index[1]]) + ...)
//
// one rounded addition after another, left to right: the bits of the plain
// loop.  The plain loop is one chain of dependent additions, each waiting
// for the one before; when `index` is much longer than `values` (the
// observations of a table against its distinct rows) most of the chain can
// be added otherwise, with the same bits:
//
// While the running total T stays in one binade [2^(e-1), 2^e), the doubles
// there are the multiples of u = 2^(e-53).  For T such a multiple and v >= 0
// with T + v below 2^e, T + v rounds to the multiple of u nearest to it,
// T + r u with r the integer nearest to v / u -- unless v / u lies exactly
// halfway between two integers, where the tie goes to the even significand
// and so depends on T.  So a stretch of terms none of which is negative, not
// finite or such a tie, and after which the total is still below 2^e, adds
// exactly (sum of its r) u to T; the r are integers, and their sum is exact
// in any order while it stays below 2^53.  The r are found once per binade
// for each distinct value.  Every other stretch is added one term at a time.
#pragma once

#include <cstddef>
#include <vector>

double add_in_order(double total, const std::vector<double>& values, const std::vector<int>& index);
