#include "model/forward_step.hpp"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "foundation/instruction_sets.hpp"
#include "model/lanes.hpp"

namespace {

// Lane groups summed in registers at once: a block of at most this many
// groups of columns; a wider state is cut into blocks of nearly equal size.
constexpr int block_group_limit = 4;
// Vector accumulators a block keeps in registers: batch x groups, within
// the 32 registers of AVX-512, the rest for the row being loaded and the
// weights.
constexpr int accumulator_budget = 24;
constexpr int batch_ceiling = max_forward_step_batch;

constexpr int batch_limit_for(int groups) {
  const int limit = accumulator_budget / groups;
  return limit > batch_ceiling ? batch_ceiling : limit;
}

std::size_t offset(int index, int stride) {
  return static_cast<std::size_t>(index) * static_cast<std::size_t>(stride);
}

// The sums of one block of Groups x lane_width columns starting at
// `column`, for Batch vectors: the accumulators stay in registers across
// all rows, and each loaded row serves the whole batch.
template <int Batch, int Groups>
[[gnu::always_inline]] inline void accumulate_block(const double* const* weights,
                                                    const double* transition, int width, int column,
                                                    const int* rows, int row_count, double* sums) {
  Lanes accumulators[std::size_t{Batch}][std::size_t{Groups}] = {};  // every sum +0.0
  for (int i = 0; i < row_count; ++i) {
    const int l = rows[i];
    const double* row = transition + offset(l, width) + static_cast<std::size_t>(column);
    Lanes entries[std::size_t{Groups}];
    for (int g = 0; g < Groups; ++g) load_lanes(entries[g], row + offset(g, lane_width));
    for (int b = 0; b < Batch; ++b) {
      const double weight = weights[b][l];
      for (int g = 0; g < Groups; ++g) add_products(accumulators[b][g], weight, entries[g]);
    }
  }
  for (int b = 0; b < Batch; ++b) {
    for (int g = 0; g < Groups; ++g) {
      store_lanes(
          sums + offset(b, width) + static_cast<std::size_t>(column) + offset(g, lane_width),
          accumulators[b][g]);
    }
  }
}

template <int Groups>
[[gnu::always_inline]] inline void accumulate_batch(const double* const* weights, int batch,
                                                    const double* transition, int width, int column,
                                                    const int* rows, int row_count, double* sums) {
  static_assert(batch_limit_for(Groups) <= 16);
  switch (batch) {
#define INTERVAL_BATCH_CASE(B)                                                                  \
  case (B):                                                                                     \
    if constexpr ((B) <= batch_limit_for(Groups)) {                                             \
      accumulate_block<(B), Groups>(weights, transition, width, column, rows, row_count, sums); \
    }                                                                                           \
    break;
    INTERVAL_BATCH_CASE(1)
    INTERVAL_BATCH_CASE(2)
    INTERVAL_BATCH_CASE(3)
    INTERVAL_BATCH_CASE(4)
    INTERVAL_BATCH_CASE(5)
    INTERVAL_BATCH_CASE(6)
    INTERVAL_BATCH_CASE(7)
    INTERVAL_BATCH_CASE(8)
    INTERVAL_BATCH_CASE(9)
    INTERVAL_BATCH_CASE(10)
    INTERVAL_BATCH_CASE(11)
    INTERVAL_BATCH_CASE(12)
    INTERVAL_BATCH_CASE(13)
    INTERVAL_BATCH_CASE(14)
    INTERVAL_BATCH_CASE(15)
    INTERVAL_BATCH_CASE(16)
#undef INTERVAL_BATCH_CASE
    default:
      break;
  }
}

int groups_per_block(int width) {
  const int groups = width / lane_width;
  const int blocks = (groups + block_group_limit - 1) / block_group_limit;
  return (groups + blocks - 1) / blocks;
}

}  // namespace

// The step is compiled for each instruction set foundation/instruction_sets
// names; each build is proven bit for bit against the step-by-step recursion.

int forward_step_batch_limit(int width) { return batch_limit_for(groups_per_block(width)); }

namespace {

// The step itself; the exported forward_step below only calls it, so that
// the clones and their resolver stay inside this file (clang wants every
// declaration of a cloned function to carry the attribute).
INTERVAL_WIDEST_TARGETS
int forward_step_for_target(const ForwardBatch& vectors, const FoldedMatrix& matrix,
                            double* weights, int* rows, double* sums) {
  const double* const parent_sums = vectors.parent_sums;
  const std::size_t* const parents = vectors.parents;
  const std::size_t parents_begin = vectors.parents_begin;
  const int batch = vectors.size;
  const double* const factors = vectors.factors;
  const double* const transition = matrix.transition;
  const int states = matrix.states;
  const int width = matrix.width;
  // w_b = above_b x factors, group by group; the checks add 0 x above_b[k]
  // for every k, which stays a signed zero while every entry is finite and
  // becomes NaN at the first infinite or NaN entry.  Four checks, for the
  // vectors in turn, keep the additions from forming one long chain of
  // latencies; how they are added up does not matter, as any sum of signed
  // zeros is a zero and a NaN stays NaN.
  const double* w[batch_ceiling] = {};
  const int groups = width / lane_width;
  auto form = [&](int b, Lanes& check, int group_count) {
    const double* above =
        parent_sums + (parents[b] - parents_begin) * static_cast<std::size_t>(width);
    double* out = weights + offset(b, width);
    for (int g = 0; g < group_count; ++g) {
      Lanes entries;
      Lanes scale;
      load_lanes(entries, above + offset(g, lane_width));
      load_lanes(scale, factors + offset(g, lane_width));
      Lanes product;
      multiply_lanes(product, entries, scale);
      store_lanes(out + offset(g, lane_width), product);
      add_products(check, 0.0, entries);
    }
    w[b] = out;
  };
  Lanes check{};
  Lanes check_1{};
  Lanes check_2{};
  Lanes check_3{};
  int formed = 0;
  // Four vectors at a time.  With one lane group (order 1) the count is
  // passed as the literal 1, so that the inlined group loop disappears: it
  // ran once per vector and cost a tenth of the step's time there.
  auto form_fours = [&](int group_count) {
    for (; formed + 4 <= batch; formed += 4) {
      form(formed, check, group_count);
      form(formed + 1, check_1, group_count);
      form(formed + 2, check_2, group_count);
      form(formed + 3, check_3, group_count);
    }
  };
  if (groups == 1) {
    form_fours(1);
  } else {
    form_fours(groups);
  }
  for (; formed < batch; ++formed) form(formed, check, groups);
  add_products(check, 1.0, check_1);
  add_products(check_2, 1.0, check_3);
  add_products(check, 1.0, check_2);
  double lanes[lane_width];
  store_lanes(lanes, check);
  bool all_finite = true;
  for (const double lane : lanes) all_finite = all_finite && lane == 0.0;

  // With finite entries a zero factor makes a zero weight, so the usual
  // rows (nonzero factor or non-finite row) are all a batch can need.
  // Otherwise each row is looked at: |w| summed over the batch is zero
  // exactly when every w_b[l] is +0.0 or -0.0 (a sum of nonnegative terms
  // that are not all zero keeps at least the smallest subnormal, and NaN or
  // infinity stays nonzero).
  const int* used = matrix.usual_rows;
  int row_count = matrix.usual_count;
  if (!all_finite) {
    row_count = 0;
    for (int l = 0; l < states; ++l) {
      const int folded = matrix.state_rows[l];
      double magnitude = 0.0;
      for (int b = 0; b < batch; ++b) magnitude += std::fabs(w[b][folded]);
      rows[row_count] = folded;
      row_count += static_cast<int>(magnitude != 0.0 || matrix.row_finite[folded] == 0);
    }
    used = rows;
  }

  const int block = groups_per_block(width);
  for (int g = 0; g < groups; g += block) {
    const int column = g * lane_width;
    switch (groups - g < block ? groups - g : block) {
      case 1:
        accumulate_batch<1>(w, batch, transition, width, column, used, row_count, sums);
        break;
      case 2:
        accumulate_batch<2>(w, batch, transition, width, column, used, row_count, sums);
        break;
      case 3:
        accumulate_batch<3>(w, batch, transition, width, column, used, row_count, sums);
        break;
      default:
        accumulate_batch<4>(w, batch, transition, width, column, used, row_count, sums);
        break;
    }
  }
  return row_count;
}

}  // namespace

int forward_step(const ForwardBatch& batch, const FoldedMatrix& matrix, double* weights, int* rows,
                 double* sums) {
  return forward_step_for_target(batch, matrix, weights, rows, sums);
}

const char* forward_step_target() {
#ifdef INTERVAL_TARGET_CLONES
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return "avx512f";
  if (__builtin_cpu_supports("avx2")) return "avx2";
  return "portable";
#elif defined(__AVX512F__)
  return "avx512f";
#elif defined(__AVX2__)
  return "avx2";
#else
  return "portable";
#endif
}
