#include "model/forward_step.hpp"

#include <cmath>
#include <cstddef>

namespace {

// Lane groups summed in registers at once: a block of at most this many
// groups of columns; a wider state is cut into blocks of nearly equal size.
constexpr int block_group_limit = 4;
// Vector accumulators a block keeps in registers: batch x groups, within
// the 32 registers of AVX-512, the rest for the row being loaded and the
// weights.
constexpr int accumulator_budget = 24;
constexpr int batch_ceiling = 8;

constexpr int batch_limit_for(int groups) {
  const int limit = accumulator_budget / groups;
  return limit > batch_ceiling ? batch_ceiling : limit;
}

std::size_t offset(int index, int stride) {
  return static_cast<std::size_t>(index) * static_cast<std::size_t>(stride);
}

// The sums of one block of Groups x lane_width columns starting at
// `column`, for Batch vectors.  Plain fixed-size arrays in loops of known
// length: every compiler vectorises the column loop and keeps the
// accumulators in registers once the loops are unrolled.
template <int Batch, int Groups>
[[gnu::always_inline]] inline void accumulate_block(const double* const* weights,
                                                    const double* transition, int width, int column,
                                                    const int* rows, int row_count,
                                                    double* const* sums) {
  constexpr int columns = Groups * lane_width;
  double accumulators[std::size_t{Batch}][std::size_t{columns}] = {};  // every sum +0.0
  for (int i = 0; i < row_count; ++i) {
    const int l = rows[i];
    const double* row = transition + offset(l, width) + static_cast<std::size_t>(column);
    for (int b = 0; b < Batch; ++b) {
      const double weight = weights[b][l];
      for (int k = 0; k < columns; ++k) accumulators[b][k] += weight * row[k];
    }
  }
  for (int b = 0; b < Batch; ++b) {
    double* out = sums[b] + column;
    for (int k = 0; k < columns; ++k) out[k] = accumulators[b][k];
  }
}

template <int Groups>
[[gnu::always_inline]] inline void accumulate_batch(const double* const* weights, int batch,
                                                    const double* transition, int width, int column,
                                                    const int* rows, int row_count,
                                                    double* const* sums) {
  static_assert(batch_limit_for(Groups) <= 8);
  switch (batch) {
#define INTERVAL_BATCH_CASE(B)                                                                \
  case B:                                                                                     \
    if constexpr (B <= batch_limit_for(Groups)) {                                             \
      accumulate_block<B, Groups>(weights, transition, width, column, rows, row_count, sums); \
    }                                                                                         \
    break;
    INTERVAL_BATCH_CASE(1)
    INTERVAL_BATCH_CASE(2)
    INTERVAL_BATCH_CASE(3)
    INTERVAL_BATCH_CASE(4)
    INTERVAL_BATCH_CASE(5)
    INTERVAL_BATCH_CASE(6)
    INTERVAL_BATCH_CASE(7)
    INTERVAL_BATCH_CASE(8)
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

// On x86 with GCC or clang the step is compiled for AVX-512, AVX2 and the
// baseline, and the widest the processor runs is chosen when the program
// starts; elsewhere, and in the test builds that fix one instruction set
// (INTERVAL_SINGLE_TARGET), the compiler's own target is used.  Each build
// is proven bit for bit against the step-by-step recursion.
#if !defined(INTERVAL_SINGLE_TARGET) && defined(__x86_64__) && \
    (defined(__GNUC__) || defined(__clang__))
#define INTERVAL_FORWARD_STEP_CLONES 1
#define FORWARD_STEP_TARGETS __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define FORWARD_STEP_TARGETS
#endif

int forward_step_batch_limit(int width) { return batch_limit_for(groups_per_block(width)); }

FORWARD_STEP_TARGETS
int forward_step(const double* const* above, int batch, const double* factors,
                 const double* transition, const unsigned char* row_finite, int states, int width,
                 double* weights, double* nonzero, int* rows, double* const* sums) {
  // |w| summed over the batch is zero exactly when every w_b[l] is +0.0 or
  // -0.0: a sum of nonnegative terms that are not all zero is not zero (the
  // smallest subnormal stays), and NaN or infinity stays nonzero.
  for (int k = 0; k < width; ++k) nonzero[k] = 0.0;
  const double* w[batch_ceiling] = {};
  for (int b = 0; b < batch; ++b) {
    double* out = weights + offset(b, width);
    const double* from = above[b];
    for (int k = 0; k < width; ++k) {
      out[k] = from[k] * factors[k];
      nonzero[k] += std::fabs(out[k]);
    }
    w[b] = out;
  }
  int row_count = 0;
  for (int l = 0; l < states; ++l) {
    rows[row_count] = l;
    row_count += static_cast<int>(nonzero[l] != 0.0 || row_finite[l] == 0);
  }

  const int groups = width / lane_width;
  const int block = groups_per_block(width);
  for (int g = 0; g < groups; g += block) {
    const int column = g * lane_width;
    switch (groups - g < block ? groups - g : block) {
      case 1:
        accumulate_batch<1>(w, batch, transition, width, column, rows, row_count, sums);
        break;
      case 2:
        accumulate_batch<2>(w, batch, transition, width, column, rows, row_count, sums);
        break;
      case 3:
        accumulate_batch<3>(w, batch, transition, width, column, rows, row_count, sums);
        break;
      default:
        accumulate_batch<4>(w, batch, transition, width, column, rows, row_count, sums);
        break;
    }
  }
  return row_count;
}

const char* forward_step_target() {
#ifdef INTERVAL_FORWARD_STEP_CLONES
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return "avx512f";
  if (__builtin_cpu_supports("avx2")) return "avx2";
  return "baseline";
#elif defined(__AVX512F__)
  return "avx512f";
#elif defined(__AVX2__)
  return "avx2";
#else
  return "portable";
#endif
}
