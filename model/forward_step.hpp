// The forward step for several weight vectors at once.
//
// For a batch of weight vectors w_b (b < batch) and one interval's transition
// matrix T, both in folded form (model/latent_state.hpp: one state of each
// twin pair, `width` columns, a multiple of lane_width, the padding zero):
//
//   sums[b][k] = sum_{l = 1..states} w_b[f(l)] T[f(l)][k]      (k < width)
//
// with f(l) the folded state of state l, `state_rows`.  Each sum starts from
// +0.0 and adds its products in the full order of the states, with a
// separate multiply and add: the operations and their order of the
// step-by-step recursion, so the same bits; the twin columns that recursion
// also forms are the same bits as their folded one and are not formed
// again.  The batch only lets every loaded row of T serve several vectors,
// and the columns are cut into blocks whose sums stay in registers across
// all rows.
//
// Rows l missing from `rows` are skipped.  A caller may leave out a row only
// when every w_b[l] is zero and the row of T is finite: the skipped product
// is then +0.0 or -0.0, and adding a signed zero to a sum that is not -0.0
// returns the sum unchanged (x + 0 = x for x nonzero, infinite or NaN, and
// +0.0 + (+/-0.0) = +0.0).  Under round-to-nearest a sum is -0.0 only when
// both addends are, and it starts at +0.0, so it is never -0.0.  A NaN or
// infinite weight is never equal to zero, and 0 x inf must stay NaN, so
// neither kind of row may be skipped.
#pragma once

#include <cstddef>

#include "model/lanes.hpp"

// The largest batch forward_step takes, for any width and for a padded width.
inline constexpr int max_forward_step_batch = 16;
int forward_step_batch_limit(int width);

// One batch of the forward recursion: the vectors' parents and the factors
// of the batch's code,
//   w_b[k] = above_b[k] factors[k],
//   above_b = parent_sums + (parents[b] - parents_begin) x width.
// 1 <= size <= forward_step_batch_limit(width).
struct ForwardBatch {
  const double* parent_sums;
  const std::size_t* parents;
  std::size_t parents_begin;
  int size;
  const double* factors;
};

// One interval's folded transition matrix T and what tells which of its
// rows a batch must sum.  `transition` points at row 0, rows `width`
// doubles apart; `row_finite` has one byte per folded row, nonzero when
// the row has no infinite or NaN entry.  `usual_rows` lists, as folded rows
// in the order of the states, every state whose factor (for the batch's
// code) is not zero or whose row is not finite: with finite entries a zero
// factor makes a zero weight, so these are all a batch of finite sums needs.
struct FoldedMatrix {
  const double* transition;
  const unsigned char* row_finite;
  const int* usual_rows;
  int usual_count;
  const int* state_rows;  // per state l - 1: f(l)
  int states;
  int width;
};

// Forms the batch's weights into `weights` (batch rows of `width`), then
// its sums, rows `width` apart from `sums`, as above.  When every above_b[k]
// is finite the rows summed are the usual rows; otherwise those states l
// where some w_b[f(l)] is not zero or row f(l) of T is not finite, listed in
// `rows` (scratch for `states` ints).  Returns the number of rows summed.
int forward_step(const ForwardBatch& batch, const FoldedMatrix& matrix, double* weights, int* rows,
                 double* sums);

// The instruction set the running forward step was compiled for, as a word
// for benchmarks and reports: "avx512f", "avx2" or "portable" (the
// compiler's own target, whichever that is).
const char* forward_step_target();
