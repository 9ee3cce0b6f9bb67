// The negative log-likelihood of the observation table, evaluated with the
// same floating-point operations, in the same order, as the step-by-step
// recursion over one observation at a time, but without repeating work:
//
// - The offset sums and transition matrices depend only on the point and the
//   model order, so they are built once per evaluation and shared by all
//   observations.  Each Poisson term is computed once per interval and event
//   count; the same function of the same arguments gives the same value.
//
// - The forward weights after t intervals depend only on the first t codes.
//   The rows of the table, mapped to code rows, are kept sorted: consecutive
//   distinct rows in that order walk a prefix tree in depth-first preorder,
//   and a row's forward steps start where its common prefix with the
//   previous distinct row ends.  A stack of weight vectors indexed by depth
//   holds the current path, so each distinct prefix costs one forward step.
//   Each distinct row's -log(likelihood) is computed once, then added per
//   observation in table order from 0.0, the same sum as one row at a time.
//
// - In the forward step a from-state whose weight is zero is skipped when
//   its transition row is finite (see forward_step for why that keeps bits).
#include "model/likelihood.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

#include "model/emission.hpp"
#include "model/latent_state.hpp"
#include "model/likelihood_work.hpp"
#include "model/observations.hpp"
#include "model/transitions.hpp"
#include "model/wrap_weights.hpp"

namespace {

// Weight vectors and transition rows are padded to a multiple of this many
// doubles, the widest vector register, so the forward step runs whole
// vectors; the padding columns of the transitions are zero, and padding
// weights are never summed into a likelihood.
constexpr int lane_width = 8;

// The code rows of the table, sorted into prefix-tree preorder.  Rebuilt
// whenever the table is replaced; it does not depend on the point or p.
struct PrefixTree {
  bool built = false;
  unsigned generation = 0;
  int count = 0;
  int n = 0;
  const unsigned char* table = nullptr;

  std::vector<unsigned char> codes;    // count rows of n code rows (0..3)
  std::vector<int> distinct_row;       // per distinct row in preorder: an observation
  std::vector<int> first_new_depth;    // per distinct row: first interval not shared
  std::vector<int> distinct_index_of;  // per observation: its distinct row
  long long forward_steps = 0;         // distinct prefixes
};

// Storage for one evaluation, kept across calls and resized when p or n
// changes.  Indices are 0-based here: state s is column s - 1.
struct Workspace {
  int p = 0;
  int n = -1;
  int states = 0;
  int width = 0;
  std::vector<double> terms;          // P(lambda_t, N), N = 0..largest count
  std::vector<double> same_weights;   // W_same(m), m = 0..T
  std::vector<double> cross_weights;  // W_cross(m)
  std::vector<double> same_sums;      // one interval's offset sums, c = 1..2p-1
  std::vector<double> cross_sums;
  std::vector<double> transitions;        // n matrices of states rows x width
  std::vector<double*> transition_rows;   // row pointers of one matrix, for the builder
  std::vector<unsigned char> row_finite;  // n x states: transition row has no inf/NaN
  std::vector<double> emission;           // 4 code rows x width
  std::vector<double*> emission_rows;
  std::vector<double> stack;    // (n + 1) weight vectors x width
  std::vector<double> neg_log;  // per distinct row
};

PrefixTree tree;
Workspace work;
LikelihoodWork last_work;

std::size_t size(int count) { return static_cast<std::size_t>(count); }

std::size_t offset(int index, int stride) {
  return static_cast<std::size_t>(index) * static_cast<std::size_t>(stride);
}

bool tree_is_current() {
  return tree.built && tree.generation == observation_generation &&
         tree.count == observation_count && tree.n == interval_count &&
         tree.table == observations.origin;
}

// Length of the common prefix of two code rows of length n.
int common_prefix(const unsigned char* a, const unsigned char* b, int n) {
  int depth = 0;
  while (depth < n && a[depth] == b[depth]) ++depth;
  return depth;
}

void build_prefix_tree() {
  const int count = observation_count;
  const int n = interval_count;
  tree.codes.assign(offset(count, n), 0);
  for (int i = 0; i < count; ++i) {
    for (int t = 0; t < n; ++t) {
      const int code = code_row(observations[i * n + t]);
      tree.codes[offset(i, n) + size(t)] = static_cast<unsigned char>(code);
    }
  }
  const unsigned char* codes = tree.codes.data();
  auto row = [codes, n](int i) { return codes + offset(i, n); };

  // Lexicographic order of the code rows is depth-first preorder of their
  // prefix tree; equal rows end up next to each other.
  std::vector<int> order(size(count));
  for (int i = 0; i < count; ++i) order[size(i)] = i;
  std::sort(order.begin(), order.end(), [row, n](int a, int b) {
    return std::lexicographical_compare(row(a), row(a) + n, row(b), row(b) + n);
  });

  tree.distinct_row.clear();
  tree.first_new_depth.clear();
  tree.distinct_index_of.assign(size(count), 0);
  tree.forward_steps = 0;
  for (std::size_t r = 0; r < order.size(); ++r) {
    const int i = order[r];
    const int shared = r == 0 ? -1 : common_prefix(row(order[r - 1]), row(i), n);
    if (shared < n) {
      // A new distinct row: its steps beyond the shared prefix are new nodes.
      const int first = shared < 0 ? 1 : shared + 1;
      tree.distinct_row.push_back(i);
      tree.first_new_depth.push_back(first);
      tree.forward_steps += n - first + 1;
    }
    tree.distinct_index_of[size(i)] = static_cast<int>(tree.distinct_row.size()) - 1;
  }

  tree.built = true;
  tree.generation = observation_generation;
  tree.count = count;
  tree.n = n;
  tree.table = observations.origin;
}

void size_workspace(int p, int n) {
  if (work.p == p && work.n == n) return;
  work.p = p;
  work.n = n;
  work.states = sub_state_count * p;
  work.width = (work.states + lane_width - 1) / lane_width * lane_width;
  const int wraps = wrap_limit(p);
  work.terms.assign(size(largest_event_count(p) + 1), 0.0);
  work.same_weights.assign(size(wraps + 1), 0.0);
  work.cross_weights.assign(size(wraps + 1), 0.0);
  work.same_sums.assign(size(2 * p - 1), 0.0);
  work.cross_sums.assign(size(2 * p - 1), 0.0);
  // Padding columns stay zero from here on: the builder writes 1..states.
  work.transitions.assign(offset(n, work.states) * size(work.width), 0.0);
  work.transition_rows.assign(size(work.states), nullptr);
  work.row_finite.assign(offset(n, work.states), 0);
  work.emission.assign(offset(code_row_count, work.width), 0.0);
  work.emission_rows.assign(size(code_row_count), nullptr);
  work.stack.assign(offset(n + 1, work.width), 0.0);

  for (int row = 0; row < code_row_count; ++row) {
    work.emission_rows[size(row)] = work.emission.data() + offset(row, work.width);
  }
  const DoubleMatrix emission_table{work.emission_rows.data(), 0, code_row_count - 1, 1,
                                    work.states};
  fill_emission_table(emission_table, p);
  fill_initial_weights(DoubleVector{work.stack.data(), 1, work.states}, p);
}

// Transition matrices of every interval at this point, from the offset sums
// of model/transitions.hpp; each Poisson term is computed once per interval
// and event count.
void build_transitions(DoubleVector point) {
  const int p = work.p;
  const int states = work.states;
  const int wraps = wrap_limit(p);
  const DoubleVector terms{work.terms.data(), 0, largest_event_count(p)};
  const DoubleVector same_weights{work.same_weights.data(), 0, wraps};
  const DoubleVector cross_weights{work.cross_weights.data(), 0, wraps};
  const DoubleVector same_sums{work.same_sums.data(), 1, 2 * p - 1};
  const DoubleVector cross_sums{work.cross_sums.data(), 1, 2 * p - 1};
  fill_wrap_weights(p, same_weights, cross_weights);
  for (int t = 1; t <= work.n; ++t) {
    fill_poisson_terms(point[t], p, terms);
    fill_offset_sums(terms, same_weights, cross_weights, p, same_sums, cross_sums);

    double* matrix = work.transitions.data() + offset(t - 1, states) * size(work.width);
    for (int l = 0; l < states; ++l) {
      work.transition_rows[size(l)] = matrix + offset(l, work.width);
    }
    build_transition_matrix(same_sums, cross_sums, p,
                            DoubleMatrix{work.transition_rows.data(), 1, states, 1, states});
    unsigned char* finite = work.row_finite.data() + offset(t - 1, states);
    for (int l = 0; l < states; ++l) {
      const double* entries = work.transition_rows[size(l)];
      finite[l] = std::all_of(entries, entries + states, [](double x) { return std::isfinite(x); });
    }
  }
}

// Eight doubles, one AVX-512 register; narrower targets split it.  GCC's
// vector arithmetic is element by element with the IEEE operations of the
// scalar code, and with contraction off no multiply and add are ever fused.
typedef double Lanes __attribute__((vector_size(sizeof(double) * std::size_t{lane_width})));

// The forward step is compiled for AVX-512, AVX2 and the baseline, and the
// fastest the processor supports is chosen when the program starts.  The
// tests build this file once more per narrower instruction set, with that
// set fixed (INTERVAL_SINGLE_TARGET), to prove each clone's bits too.
#ifdef INTERVAL_SINGLE_TARGET
#define FORWARD_STEP_TARGETS
#else
#define FORWARD_STEP_TARGETS __attribute__((target_clones("avx512f", "avx2", "default")))
#endif

// Columns kept in registers at once: at most this many lane groups.
constexpr int register_groups = 4;

// Columns column .. column + 8 Groups - 1 of the forward step, their
// accumulators held in registers across all from-states l.
template <int Groups>
[[gnu::always_inline]] inline int accumulate_columns(const double* current,
                                                     const double* transition,
                                                     const unsigned char* row_finite,
                                                     const double* emission, int states, int width,
                                                     int column, double* next) {
  Lanes sums[static_cast<std::size_t>(Groups)] = {};  // every lane +0.0
  int rows_used = 0;
  for (int l = 0; l < states; ++l) {
    const double weight = current[l];
    if (weight == 0.0 && row_finite[l]) continue;
    ++rows_used;
    const double* row = transition + offset(l, width) + size(column);
    for (int g = 0; g < Groups; ++g) {
      Lanes entries;
      std::memcpy(&entries, row + offset(g, lane_width), sizeof entries);
      sums[g] = sums[g] + weight * entries;
    }
  }
  for (int g = 0; g < Groups; ++g) {
    const std::size_t k = size(column) + offset(g, lane_width);
    Lanes factors;
    std::memcpy(&factors, emission + k, sizeof factors);
    const Lanes scored = sums[g] * factors;
    std::memcpy(next + k, &scored, sizeof scored);
  }
  return rows_used;
}

// One interval of the forward recursion over vectors padded to `width`:
//   next[k] = (sum_{l ascending} current[l] T[l][k]) emission[k]
// Each next[k] accumulates its own products in ascending l from +0.0, with
// a separate multiply and add, exactly as one k at a time would; running l
// outside and k inside only lets the k's share vector registers.  Returns
// the number of transition rows used.
//
// Skipping a row l with current[l] == 0 and every T[l][k] finite leaves every
// next[k] bit for bit unchanged.  Under round-to-nearest, a sum is -0.0 only
// when both addends are -0.0; the accumulator starts at +0.0, so it is never
// -0.0.  The skipped product current[l] T[l][k] is +0.0 or -0.0 (zero times
// a finite number), and adding a signed zero to an accumulator that is not
// -0.0 returns the accumulator unchanged: x + 0 = x for x nonzero, infinite
// or NaN, and +0.0 + (+/-0.0) = +0.0.  A NaN or infinite weight is never
// equal to zero and an infinite or NaN entry makes its row non-finite, so
// neither is ever skipped: 0 x inf would be NaN.
FORWARD_STEP_TARGETS
int forward_step(const double* __restrict current, const double* __restrict transition,
                 const unsigned char* __restrict row_finite, const double* __restrict emission,
                 int states, int width, double* __restrict next) {
  int rows_used = 0;
  int column = 0;
  for (; width - column >= register_groups * lane_width; column += register_groups * lane_width) {
    rows_used = accumulate_columns<register_groups>(current, transition, row_finite, emission,
                                                    states, width, column, next);
  }
  switch ((width - column) / lane_width) {
    case 3:
      rows_used = accumulate_columns<3>(current, transition, row_finite, emission, states, width,
                                        column, next);
      break;
    case 2:
      rows_used = accumulate_columns<2>(current, transition, row_finite, emission, states, width,
                                        column, next);
      break;
    case 1:
      rows_used = accumulate_columns<1>(current, transition, row_finite, emission, states, width,
                                        column, next);
      break;
    default:
      break;
  }
  return rows_used;
}

}  // namespace

LikelihoodWork last_likelihood_work() { return last_work; }

double negative_log_likelihood(DoubleVector point) {
  const int p = model_order;
  const int n = interval_count;
  // A model without latent states has no likelihood; the run refuses such
  // an order before fitting, and this keeps a stray call harmless.
  assert(p >= 1);
  if (p < 1) return std::numeric_limits<double>::quiet_NaN();
  last_work = LikelihoodWork{};
  if (observation_count <= 0) return 0.0;

  if (!tree_is_current()) build_prefix_tree();
  size_workspace(p, n);
  build_transitions(point);

  const int states = work.states;
  const int width = work.width;
  const std::size_t distinct = tree.distinct_row.size();
  work.neg_log.resize(distinct);
  long long rows_used = 0;
  double* stack = work.stack.data();
  for (std::size_t r = 0; r < distinct; ++r) {
    const unsigned char* codes = tree.codes.data() + offset(tree.distinct_row[r], n);
    for (int t = tree.first_new_depth[r]; t <= n; ++t) {
      rows_used += forward_step(stack + offset(t - 1, width),
                                work.transitions.data() + offset(t - 1, states) * size(width),
                                work.row_finite.data() + offset(t - 1, states),
                                work.emission.data() + offset(codes[t - 1], width), states, width,
                                stack + offset(t, width));
    }
    const double* final_weights = stack + offset(n, width);
    double likelihood = 0.0;
    for (int k = 0; k < states; ++k) likelihood += final_weights[k];
    work.neg_log[r] = -std::log(likelihood);
  }

  double total = 0.0;
  for (int i = 0; i < observation_count; ++i) {
    total += work.neg_log[size(tree.distinct_index_of[size(i)])];
  }

  last_work.distinct_rows = static_cast<long long>(distinct);
  last_work.forward_steps = tree.forward_steps;
  last_work.multiply_adds = rows_used * states;
  return total;
}
