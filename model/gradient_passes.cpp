#include "model/gradient_passes.hpp"

#include <algorithm>
#include <cstddef>

#include "foundation/instruction_sets.hpp"
#include "model/emission.hpp"
#include "model/lanes.hpp"

namespace {

constexpr int class_count = 3;
constexpr auto lanes = static_cast<std::size_t>(lane_width);

std::size_t at(int index) { return static_cast<std::size_t>(index); }
std::size_t at(std::size_t row, int stride, int column) {
  return row * static_cast<std::size_t>(stride) + static_cast<std::size_t>(column);
}

// The slopes of the class factors in the error rate e: an R's factors are
// e, 1 - e, e for the classes, an N's the other way round, so df_j/de =
// sign (1, -1, 1) with sign +1 for R, -1 for N and 0 for the codes
// misreads leave alone.
constexpr double misread_slope_sign[code_row_count] = {1.0, -1.0, 0.0, 0.0};
constexpr double misread_class_slope[class_count] = {1.0, -1.0, 1.0};

// The scratch of one batch, lane-major: row i holds entry i of every node
// of the batch, one per lane.
struct BatchRows {
  double* above;    // 3p: the parents' weights v
  double* totals;   // p: V = v0 + v1 + v2
  double* factors;  // 3: f_j of each node's code
  double* own_pre;  // 3p: the nodes' pre-emission weights, when not kept
  double* scaled;   // 3p + p: g = f beta, then G
  double* back;     // 3p: the step back
  double* d_sums;   // offsets: dD of the depth so far, per lane
  double* e_sums;   // offsets: dE
};

std::size_t scratch_rows(int p, int offsets) {
  return at(class_count * p) * 4 + at(p) * 2 + at(class_count) + 2 * at(offsets);
}

BatchRows lay_out(double* scratch, int p, int offsets) {
  const std::size_t width = at(class_count * p);
  BatchRows rows{};
  double* next = scratch;
  auto take = [&next](std::size_t count) {
    double* begin = next;
    next += count * lanes;
    return begin;
  };
  rows.above = take(width);
  rows.totals = take(at(p));
  rows.factors = take(at(class_count));
  rows.own_pre = take(width);
  rows.scaled = take(width + at(p));
  rows.back = take(width);
  rows.d_sums = take(at(offsets));
  rows.e_sums = take(at(offsets));
  return rows;
}

// Row i of lane-major rows into `value`, and the products and sums of
// rows the passes take.
[[gnu::always_inline]] inline void load_row(Lanes& value, const double* rows, int i) {
  load_lanes(value, rows + at(i) * lanes);
}
[[gnu::always_inline]] inline void store_row(double* rows, int i, const Lanes& value) {
  store_lanes(rows + at(i) * lanes, value);
}
// acc += w row_i
[[gnu::always_inline]] inline void add_scaled_row(Lanes& accumulator, double weight,
                                                  const double* rows, int i) {
  Lanes row;
  load_row(row, rows, i);
  add_products(accumulator, weight, row);
}
// acc += a_i b_k, lane by lane
[[gnu::always_inline]] inline void add_row_product(Lanes& accumulator, const double* a, int i,
                                                   const double* b, int k) {
  Lanes left;
  Lanes right;
  load_row(left, a, i);
  load_row(right, b, k);
  add_lane_products(accumulator, left, right);
}
// acc += row_i
[[gnu::always_inline]] inline void add_row(Lanes& accumulator, const double* rows, int i) {
  Lanes row;
  load_row(row, rows, i);
  add_lanes(accumulator, row);
}

// The slot of `node`, of depth `depth`, and where its block starts.
std::size_t slot_of(const PrefixPart& part, const ClassPasses& passes, int depth,
                    std::size_t node) {
  return passes.slot_begin[at(depth)] + (node - part.node_begin[at(depth)]);
}
std::size_t block_start(std::size_t slot, int width) { return slot / lanes * at(width) * lanes; }

// The parents' weights and their class totals, and the factors of each
// node's code, for the batch of nodes first .. first + size - 1 of depth t;
// lanes past `size` are zero.
[[gnu::always_inline]] inline void gather_above(const PrefixPart& part, int t, std::size_t first,
                                                int size, const ClassCoefficients& c,
                                                const ClassPasses& passes, const BatchRows& rows) {
  const int p = c.p;
  const int width = class_count * p;
  for (int b = 0; b < size; ++b) {
    const std::size_t slot = slot_of(part, passes, t - 1, part.parent[first + at(b)]);
    const double* block = passes.alpha.data() + block_start(slot, width) + slot % lanes;
    for (int i = 0; i < width; ++i) rows.above[at(i) * lanes + at(b)] = block[at(i) * lanes];
  }
  for (int i = 0; i < width && size < lane_width; ++i) {
    std::fill(rows.above + at(i) * lanes + at(size), rows.above + at(i + 1) * lanes, 0.0);
  }
  for (int k = 0; k < p; ++k) {
    Lanes total;
    load_row(total, rows.above, k);
    add_row(total, rows.above, p + k);
    add_row(total, rows.above, 2 * p + k);
    store_row(rows.totals, k, total);
  }
  for (int b = 0; b < lane_width; ++b) {
    const double* f = b < size ? c.factors + at(part.code[first + at(b)], class_count, 0) : nullptr;
    for (int j = 0; j < class_count; ++j) rows.factors[at(j) * lanes + at(b)] = f ? f[j] : 0.0;
  }
}

// The offset sums of one interval's step, for the lanes of a batch: for
// o < p and each class j,
//   sum_i D[k(o, i)] in[j p + i] + sum_i E[k(o, i)] totals[i],
// each sum in the order of i, handed to emit(o, j, sum); k(o, i) = p - 1 +
// o - i for the step forward and, `Transposed`, p - 1 + i - o for the step
// back.  (Blocks of two outputs sharing each loaded row were measured and
// gained nothing.)
template <bool Transposed, typename Emit>
[[gnu::always_inline]] inline void offset_sums(int p, const double* d, const double* e,
                                               const double* in, const double* totals, Emit emit) {
  for (int o = 0; o < p; ++o) {
    Lanes sums[class_count] = {};
    Lanes spread{};
    for (int i = 0; i < p; ++i) {
      const int k = Transposed ? p - 1 + i - o : p - 1 + o - i;
      for (int j = 0; j < class_count; ++j) add_scaled_row(sums[j], d[k], in, j * p + i);
      add_scaled_row(spread, e[k], totals, i);
    }
    for (int j = 0; j < class_count; ++j) {
      add_lanes(sums[j], spread);
      emit(o, j, sums[j]);
    }
  }
}

// The first of the batch of nodes first .. of depth t: its slot starts a
// block, whose rows are the batch's lanes.
std::size_t batch_start(const PrefixPart& part, const ClassPasses& passes, int t, std::size_t first,
                        int width) {
  return block_start(slot_of(part, passes, t, first), width);
}

}  // namespace

void size_class_passes(const PrefixPart& part, int n, const ClassCoefficients& coefficients,
                       ClassPasses& passes) {
  const int width = class_count * coefficients.p;
  passes.p = coefficients.p;
  passes.misreads = coefficients.misreads;
  passes.slot_begin.assign(at(n) + 2, 0);
  for (int depth = 0; depth <= n; ++depth) {
    const std::size_t count = part.nodes_at(depth);
    passes.slot_begin[at(depth) + 1] =
        passes.slot_begin[at(depth)] + (count + lanes - 1) / lanes * lanes;
  }
  passes.alpha.assign(passes.slot_begin[at(n) + 1] * at(width), 0.0);
  for (int i = 0; i < width; ++i) passes.alpha[at(i) * lanes] = coefficients.initial[i];
  passes.pre_emission.assign(coefficients.misreads ? passes.alpha.size() : 0, 0.0);
  passes.adjoint.assign(passes.alpha.size(), 0.0);
  passes.d_adjoint.assign(at(n) * at(coefficients.offsets), 0.0);
  passes.e_adjoint.assign(passes.d_adjoint.size(), 0.0);
  passes.scratch.assign(scratch_rows(coefficients.p, coefficients.offsets) * lanes, 0.0);
}

namespace {

// The two passes, compiled for each instruction set
// foundation/instruction_sets.hpp names (and so kept inside this file),
// the helpers above inlined.  Their batch loops are written out: a lambda
// holding a batch's body would be compiled for the baseline instruction
// set, not for the clone that calls it, and was measured three to six
// times slower.
INTERVAL_WIDEST_TARGETS
void forward_pass_for_target(const PrefixPart& part, int n, const ClassCoefficients& c,
                             ClassPasses& passes) {
  const int p = c.p;
  const int width = class_count * p;
  const BatchRows rows = lay_out(passes.scratch.data(), p, c.offsets);
  for (int t = 1; t <= n; ++t) {
    const double* d = c.d + at(at(t - 1), c.offsets, 0);
    const double* e = c.e + at(at(t - 1), c.offsets, 0);
    const std::size_t end = part.node_begin[at(t) + 1];
    for (std::size_t first = part.node_begin[at(t)]; first < end; first += lanes) {
      const int size = static_cast<int>(std::min(lanes, end - first));
      gather_above(part, t, first, size, c, passes, rows);
      const std::size_t start = batch_start(part, passes, t, first, width);
      double* own = passes.alpha.data() + start;
      double* own_pre = c.misreads ? passes.pre_emission.data() + start : rows.own_pre;
      Lanes f[class_count];
      for (int j = 0; j < class_count; ++j) load_row(f[j], rows.factors, j);
      // pre[j][L] = sum_K D[p - 1 + L - K] v[j][K] + E[..] V[K], alpha = f pre.
      offset_sums<false>(p, d, e, rows.above, rows.totals, [&](int to, int j, const Lanes& sum) {
        store_row(own_pre, j * p + to, sum);
        Lanes weighted;
        multiply_lanes(weighted, f[j], sum);
        store_row(own, j * p + to, weighted);
      });
    }
  }
}

INTERVAL_WIDEST_TARGETS
void backward_pass_for_target(const PrefixPart& part, int n, const ClassCoefficients& c,
                              ClassPasses& passes) {
  const int p = c.p;
  const int width = class_count * p;
  const BatchRows rows = lay_out(passes.scratch.data(), p, c.offsets);
  double* g = rows.scaled;
  double* g_total = rows.scaled + at(width) * lanes;
  passes.error_adjoint = 0.0;
  std::fill(passes.d_adjoint.begin(), passes.d_adjoint.end(), 0.0);
  std::fill(passes.e_adjoint.begin(), passes.e_adjoint.end(), 0.0);
  for (int t = n; t >= 1; --t) {
    const double* d = c.d + at(at(t - 1), c.offsets, 0);
    const double* e = c.e + at(at(t - 1), c.offsets, 0);
    std::fill(rows.d_sums, rows.d_sums + 2 * at(c.offsets) * lanes, 0.0);
    const std::size_t end = part.node_begin[at(t) + 1];
    for (std::size_t first = part.node_begin[at(t)]; first < end; first += lanes) {
      const int size = static_cast<int>(std::min(lanes, end - first));
      gather_above(part, t, first, size, c, passes, rows);
      const std::size_t start = batch_start(part, passes, t, first, width);
      // The batch's adjoints; the lanes past `size` stay zero.  Once read,
      // the block is cleared for the next evaluation.
      double* own = passes.adjoint.data() + start;
      for (int j = 0; j < class_count; ++j) {
        Lanes f;
        load_row(f, rows.factors, j);
        for (int to = 0; to < p; ++to) {
          Lanes beta;
          load_row(beta, own, j * p + to);
          Lanes scaled;
          multiply_lanes(scaled, f, beta);
          store_row(g, j * p + to, scaled);
        }
      }
      for (int to = 0; to < p; ++to) {
        Lanes total;
        load_row(total, g, to);
        add_row(total, g, p + to);
        add_row(total, g, 2 * p + to);
        store_row(g_total, to, total);
      }
      if (c.misreads) {
        // d(m log L)/de of the interval's factors:
        // sum_j df_j/de sum_L pre[j][L] beta[j][L].
        const double* own_pre = passes.pre_emission.data() + start;
        Lanes slope{};
        for (int j = 0; j < class_count; ++j) {
          Lanes class_sum{};
          for (int to = 0; to < p; ++to) {
            add_row_product(class_sum, own_pre, j * p + to, own, j * p + to);
          }
          add_products(slope, misread_class_slope[j], class_sum);
        }
        double slopes[lane_width];
        store_lanes(slopes, slope);
        for (int b = 0; b < size; ++b) {
          const double sign = misread_slope_sign[part.code[first + at(b)]];
          if (sign != 0.0) passes.error_adjoint += sign * slopes[b];
        }
      }
      std::fill(own, own + at(width) * lanes, 0.0);
      // dD[c] and dE[c], c - (p - 1) = L - K.
      for (int offset = 0; offset < c.offsets; ++offset) {
        const int shift = offset - (p - 1);
        const int from_begin = std::max(0, -shift);
        const int from_end = std::min(p, p - shift);
        // Each class in a sum of its own, so that the four chains of
        // additions run side by side.
        Lanes d_sums[class_count] = {};
        Lanes e_sum{};
        for (int from = from_begin; from < from_end; ++from) {
          const int to = from + shift;
          for (int j = 0; j < class_count; ++j) {
            add_row_product(d_sums[j], rows.above, j * p + from, g, j * p + to);
          }
          add_row_product(e_sum, rows.totals, from, g_total, to);
        }
        Lanes d_sum = d_sums[0];
        add_lanes(d_sum, d_sums[1]);
        add_lanes(d_sum, d_sums[2]);
        add_row(d_sum, rows.d_sums, offset);
        store_row(rows.d_sums, offset, d_sum);
        add_row(e_sum, rows.e_sums, offset);
        store_row(rows.e_sums, offset, e_sum);
      }
      // The step back into the parents; a depth-1 node's parent is the
      // root, whose adjoint nothing needs.
      if (t == 1) continue;
      // back[j][K] = sum_L D[p - 1 + L - K] g[j][L] + E[..] G[L].
      offset_sums<true>(p, d, e, g, g_total, [&rows, p](int from, int j, const Lanes& sum) {
        store_row(rows.back, j * p + from, sum);
      });
      for (int b = 0; b < size; ++b) {
        const std::size_t slot = slot_of(part, passes, t - 1, part.parent[first + at(b)]);
        double* parent = passes.adjoint.data() + block_start(slot, width) + slot % lanes;
        for (int i = 0; i < width; ++i) parent[at(i) * lanes] += rows.back[at(i) * lanes + at(b)];
      }
    }
    double* d_adjoint = passes.d_adjoint.data() + at(at(t - 1), c.offsets, 0);
    double* e_adjoint = passes.e_adjoint.data() + at(at(t - 1), c.offsets, 0);
    for (int offset = 0; offset < c.offsets; ++offset) {
      for (std::size_t b = 0; b < lanes; ++b) {
        d_adjoint[offset] += rows.d_sums[at(offset) * lanes + b];
        e_adjoint[offset] += rows.e_sums[at(offset) * lanes + b];
      }
    }
  }
}

}  // namespace

void class_forward_pass(const PrefixPart& part, int n, const ClassCoefficients& coefficients,
                        ClassPasses& passes) {
  forward_pass_for_target(part, n, coefficients, passes);
}

void class_backward_pass(const PrefixPart& part, int n, const ClassCoefficients& coefficients,
                         ClassPasses& passes) {
  backward_pass_for_target(part, n, coefficients, passes);
}

double leaf_weight_sum(int n, const ClassPasses& passes, std::size_t m) {
  const int width = class_count * passes.p;
  const std::size_t slot = passes.slot_begin[at(n)] + m;
  const double* weights = passes.alpha.data() + block_start(slot, width) + slot % lanes;
  double sum = 0.0;
  for (int i = 0; i < width; ++i) sum += weights[at(i) * lanes];
  return sum;
}

void set_leaf_adjoint(int n, ClassPasses& passes, std::size_t m, double value) {
  const int width = class_count * passes.p;
  const std::size_t slot = passes.slot_begin[at(n)] + m;
  double* adjoint = passes.adjoint.data() + block_start(slot, width) + slot % lanes;
  for (int i = 0; i < width; ++i) adjoint[at(i) * lanes] = value;
}
