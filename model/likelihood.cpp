// The negative log-likelihood of the observation table, evaluated with the
// same floating-point operations, in the same order, as the step-by-step
// recursion over one observation at a time, but without repeating work:
//
// - The transition matrices depend only on the point and the model order, so
//   they are built once per evaluation and shared by all observations; each
//   Poisson term is computed once per interval and event count.
//
// - The forward weights after t intervals depend only on the first t codes,
//   so each distinct prefix (a node of the prefix tree, model/prefix_levels)
//   costs one forward step.  The tree is processed one depth at a time: the
//   nodes of one depth share the interval's matrix, and a batch of parents
//   with the same code (hence the same zeros in their weights) shares every
//   loaded row of it (model/forward_step).  The children of one parent
//   share its sums and differ only in the emission factors.  The weights of
//   a state and its twin are always the same bits (model/latent_state.hpp),
//   so only one of each pair is kept and formed: half the columns.
//
// - Weights of every depth are kept, within a memory limit, together with
//   the point they were computed at.  The weights at depth t depend only on
//   the parameters of intervals 1..t, so the next evaluation starts at the
//   first interval whose parameter changed: the unchanged part would see the
//   same inputs and give the same bits.  The standard errors' points differ
//   from the centre in one or two coordinates, and so do many of the
//   minimiser's probes.
//
// - The tree is cut into parts of consecutive rows, one per thread; large
//   evaluations run the parts in parallel.  Each distinct row's
//   -log(likelihood) lands in its own slot, and the slots are added per
//   observation in table order from 0.0, the same sum as one row at a time,
//   whatever the number of threads.
#include "model/likelihood.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/ordered_sum.hpp"
#include "foundation/worker_threads.hpp"
#include "model/emission.hpp"
#include "model/forward_step.hpp"
#include "model/latent_state.hpp"
#include "model/likelihood_work.hpp"
#include "model/observations.hpp"
#include "model/poisson.hpp"
#include "model/prefix_levels.hpp"
#include "model/transitions.hpp"
#include "model/wrap_weights.hpp"

namespace {

std::size_t size(int count) { return static_cast<std::size_t>(count); }

// The two working depths of one part are meant to stay within this much
// memory (a share of the processor's second-level cache).
constexpr std::size_t part_working_bytes = std::size_t{256} << 10;

// Kinds of node a batch can hold: the four code rows and the root.
constexpr std::size_t usual_kinds = code_row_count + 1;

std::size_t offset(std::size_t index, int stride) {
  return index * static_cast<std::size_t>(stride);
}

// What building one transition matrix writes along the way.  Each part has
// its own, so that the parts' threads can build matrices at once.
struct MatrixScratch {
  std::vector<double> terms;      // P(lambda_t, N), N = 0..largest count
  std::vector<double> same_sums;  // one interval's offset sums, c = 1..2p-1
  std::vector<double> cross_sums;
  std::vector<double> full_matrix;  // one whole matrix, 6p x 6p
  std::vector<double*> full_rows;   // its row pointers

  void lay_out(int p) {
    const int states = sub_state_count * p;
    terms.assign(size(largest_event_count(p) + 1), 0.0);
    same_sums.assign(size(2 * p - 1), 0.0);
    cross_sums.assign(size(2 * p - 1), 0.0);
    full_matrix.assign(size(states) * size(states), 0.0);
    full_rows.assign(size(states), nullptr);
    for (int l = 0; l < states; ++l) {
      full_rows[size(l)] = full_matrix.data() + offset(size(l), states);
    }
  }
};

// The working storage of one part of the tree.  Each node at depths
// 0..n-1 has its sums through the next interval's matrix (before the
// emission factors of its children); a node's weights are its parent's sums
// times the factors of its own code, formed where they are used.  The sums
// of depth e live in `checkpoints` when the cache is on and e is a multiple
// of the checkpoint spacing, otherwise in half e % 2 of `working`, which
// holds the widest depth twice.  Parts run on different threads: each
// starts on a cache line of its own, so that one thread's writes never
// take the line of another's.
struct alignas(64) PartWork {
  std::vector<double> working;
  std::size_t half = 0;  // nodes per half of `working`
  std::vector<double> checkpoints;
  std::vector<std::size_t> checkpoint_at;  // per checkpoint depth: first node's slot
  std::vector<double> weights;             // one batch of weight vectors
  std::vector<int> rows;                   // the rows one batch uses
  MatrixScratch scratch;
  long long multiply_adds = 0;
};

// What a prefix tree is built from: the table and the parts it is cut into.
struct TreeKey {
  TableStamp table;
  int part_count = 0;
  int leaves_per_part = 0;

  bool operator==(const TreeKey&) const = default;
};

// Everything the likelihood keeps between evaluations, and when it goes
// stale:
//
// - `levels` (the prefix tree) depends on the table and the parts it is cut
//   into (`tree`): it is looked up again when set_observations announces a
//   new table, the table's sizes or storage change, or the parts change.
//   The trees are shared by all threads (shared_tree below).
// - The sizes of everything else depend on p, n and the tree: when any of
//   them changes, the storage is laid out again and the cache is emptied.
// - `transitions[t]` depends on point[t] and p only; the sums of depth e on
//   point[1..e+1].  `cached_point` holds the parameters they were
//   computed from; `cache_valid` is false until an evaluation completes.
//   Parameters are compared as bit patterns, so -0.0 and +0.0, and NaNs of
//   different payloads, count as changed.
//
// Memory: the transitions take n 3p x 3p doubles (rounded up to 8 columns),
// the working halves twice the widest depth's nodes x width doubles, and
// the cache (nodes at the checkpoint depths) x width doubles; the cache is
// used only within the thread's share of cache_limit (each thread that
// evaluates has a state of its own).  Checkpoints rather than every depth: an
// evaluation that starts again at interval t recomputes from the checkpoint
// at or below t - 2 (at most spacing - 1 depths more than needed), while a
// full evaluation writes only every spacing-th depth to memory that does
// not fit in the processor's caches.
struct LikelihoodState {
  // The tree.
  TreeKey tree;
  std::shared_ptr<const PrefixLevels> levels;

  // Storage laid out for (p, n, tree) and the knobs of layout_generation.
  bool laid_out = false;
  unsigned layout_generation = 0;
  int p = 0;
  int states = 0;                         // 6p, the rows each step adds in order
  int width = 0;                          // the folded states 3p, padded to whole lane groups
  std::vector<int> state_rows;            // the folded row of each state
  std::vector<double> same_weights;       // W_same(m), m = 0..T
  std::vector<double> cross_weights;      // W_cross(m)
  std::vector<double> transitions;        // n folded matrices, 3p rows x width
  std::vector<unsigned char> row_finite;  // n x 3p: folded transition row has no inf/NaN
  // Per interval and code (the root's last): the rows a batch of finite
  // sums needs, those with a nonzero factor or not finite, as folded rows in
  // the order of the states; n x 5 lists.
  std::vector<int> usual_rows;
  std::vector<int> usual_count;
  std::vector<double> emission;  // 4 code rows x width, folded
  std::vector<double> initial;   // the root's weights, width
  std::vector<double> ones;      // the root's factors: x 1.0 leaves x as it is
  std::vector<PartWork> parts;
  std::vector<double> neg_log;  // per distinct row
  bool cache_on = false;
  int spacing = 1;
  std::size_t cache_bytes = 0;

  // The cache.
  bool cache_valid = false;
  std::vector<double> cached_point;  // entries 1..n at 0..n-1
  std::vector<int> changed;          // the intervals this evaluation builds again
  double cached_total = 0.0;
};

// Each thread that evaluates has its own state, so that several
// evaluations can run at once (the standard errors' points, the scan's
// orders); the knobs below are shared and are set while none runs.
thread_local LikelihoodState this_thread_state;
thread_local LikelihoodWork last_work;
int requested_parts = 0;
std::size_t cache_limit = default_cache_limit;
int checkpoint_spacing = default_checkpoint_spacing;
long long parallel_threshold = default_parallel_threshold;
// Advanced when the cache limit or the spacing changes: every thread's
// storage is laid out again at its next evaluation.
unsigned layout_generation = 0;

// One thread's share of the cache limit: every thread may evaluate, and
// all together stay within cache_limit.
std::size_t thread_cache_limit() {
  return cache_limit / static_cast<std::size_t>(worker_thread_count());
}

int wanted_part_count() { return requested_parts > 0 ? requested_parts : worker_thread_count(); }

int padded_width(int p) {
  return (folded_state_count(p) + lane_width - 1) / lane_width * lane_width;
}

// Distinct rows per part: the widest depth of a part then holds at most
// this many nodes, and its two working depths stay within part_working_bytes,
// in the processor's own caches, while the part runs through all depths.
int leaves_per_part(int width) {
  if (requested_parts > 0) return std::numeric_limits<int>::max();
  const std::size_t per_node = size(width) * sizeof(double);
  return static_cast<int>(std::max<std::size_t>(1, part_working_bytes / 2 / per_node));
}

TreeKey wanted_tree(int p) {
  return TreeKey{installed_table(), wanted_part_count(), leaves_per_part(padded_width(p))};
}

// The trees of the current table, one per way of cutting it into parts,
// shared by every thread that evaluates: a tree is read only once built,
// so the standard errors' threads and the scan's orders build it once, not
// once each.  A tree of an earlier table is let go when the first tree of
// a new one is built (a thread still holding it keeps it until its next
// evaluation).
std::mutex trees_mutex;
std::vector<std::pair<TreeKey, std::shared_ptr<const PrefixLevels>>> shared_trees;

std::shared_ptr<const PrefixLevels> shared_tree(const TreeKey& key) {
  const std::lock_guard<std::mutex> lock(trees_mutex);
  for (const auto& [built_for, tree] : shared_trees) {
    if (built_for == key) return tree;
  }
  if (!shared_trees.empty() && shared_trees.front().first.table != key.table) shared_trees.clear();
  auto tree = std::make_shared<PrefixLevels>();
  build_prefix_levels(code_row_matrix(), key.table.count, key.table.n, key.part_count,
                      key.leaves_per_part, *tree);
  shared_trees.emplace_back(key, tree);
  return tree;
}

bool tree_is_current(const LikelihoodState& state, int p) {
  return state.levels != nullptr && state.tree == wanted_tree(p);
}

void use_tree(LikelihoodState& state, int p) {
  state.tree = wanted_tree(p);
  state.levels = shared_tree(state.tree);
  state.laid_out = false;
}

// The working halves of every part, and the checkpoints if they fit in
// cache_limit (and can be had at all).
void lay_out_parts(LikelihoodState& state) {
  const int n = state.tree.table.n;
  const int width = state.width;
  state.spacing = checkpoint_spacing;
  std::size_t kept = 0;
  for (const PrefixPart& part : state.levels->parts) {
    for (int e = 0; e < n; e += state.spacing) kept += part.nodes_at(e);
  }
  const std::size_t kept_bytes = kept * size(width) * sizeof(double);
  state.parts.assign(state.levels->parts.size(), PartWork{});
  state.cache_on = false;
  state.cache_bytes = 0;
  if (kept_bytes <= thread_cache_limit()) {
    try {
      for (std::size_t k = 0; k < state.parts.size(); ++k) {
        const PrefixPart& part = state.levels->parts[k];
        PartWork& work = state.parts[k];
        std::size_t slots = 0;
        for (int e = 0; e < n; e += state.spacing) {
          work.checkpoint_at.push_back(slots);
          slots += part.nodes_at(e);
        }
        work.checkpoints.assign(offset(slots, width), 0.0);
      }
      state.cache_on = true;
      state.cache_bytes = kept_bytes;
    } catch (const std::bad_alloc&) {
      state.parts.assign(state.levels->parts.size(), PartWork{});
    }
  }
  for (std::size_t k = 0; k < state.parts.size(); ++k) {
    const PrefixPart& part = state.levels->parts[k];
    PartWork& work = state.parts[k];
    std::size_t widest = 0;
    for (int d = 0; d < n; ++d) widest = std::max(widest, part.nodes_at(d));
    work.half = widest;
    work.working.assign(offset(2 * widest, width), 0.0);
    const int batch = forward_step_batch_limit(width);
    work.weights.assign(offset(size(batch), width), 0.0);
    work.rows.assign(size(state.states), 0);
    work.scratch.lay_out(state.p);
  }
}

// out[h] = whole[s - 1] for each folded state h and the state s standing for
// it: a vector over the states 1..6p (whose twins hold the same bits) in
// the folded layout.
void fold_states(const double* whole, int folded, double* out) {
  for (int h = 0; h < folded; ++h) out[h] = whole[state_of_folded(h) - 1];
}

void lay_out(LikelihoodState& state, int p) {
  // Threads evaluating at once share the factorial table: it is filled
  // before the first evaluation of any of them (model/poisson.hpp).
  fill_factorial_table();
  const int n = state.tree.table.n;
  state.p = p;
  state.states = sub_state_count * p;
  state.width = padded_width(p);
  const int states = state.states;
  const int folded = folded_state_count(p);
  const int width = state.width;
  const int wraps = wrap_limit(p);
  state.state_rows.assign(size(states), 0);
  for (int l = 0; l < states; ++l) state.state_rows[size(l)] = folded_state(l + 1);
  state.same_weights.assign(size(wraps + 1), 0.0);
  state.cross_weights.assign(size(wraps + 1), 0.0);
  fill_wrap_weights(p, DoubleVector{state.same_weights.data(), 0, wraps},
                    DoubleVector{state.cross_weights.data(), 0, wraps});
  // Padding columns stay zero from here on: only the folded states' columns
  // are written.
  state.transitions.assign(offset(size(n) * size(folded), width), 0.0);
  state.row_finite.assign(size(n) * size(folded), 0);
  state.usual_rows.assign(size(n) * usual_kinds * size(states), 0);
  state.usual_count.assign(size(n) * usual_kinds, 0);
  // The emission table and the starting weights, whole, then folded.
  std::vector<double> whole(size(code_row_count) * size(states), 0.0);
  std::vector<double*> whole_rows(size(code_row_count), nullptr);
  for (int row = 0; row < code_row_count; ++row) {
    whole_rows[size(row)] = whole.data() + offset(size(row), states);
  }
  fill_emission_table(DoubleMatrix{whole_rows.data(), 0, code_row_count - 1, 1, states}, p);
  state.emission.assign(offset(size(code_row_count), width), 0.0);
  for (int row = 0; row < code_row_count; ++row) {
    fold_states(whole_rows[size(row)], folded, state.emission.data() + offset(size(row), width));
  }
  std::vector<double> start(size(states), 0.0);
  fill_initial_weights(DoubleVector{start.data(), 1, states}, p);
  state.initial.assign(size(width), 0.0);
  fold_states(start.data(), folded, state.initial.data());
  state.ones.assign(size(width), 1.0);
  state.neg_log.assign(state.levels->distinct_row.size(), 0.0);
  lay_out_parts(state);
  state.cached_point.assign(size(n), 0.0);
  state.cache_valid = false;
  state.laid_out = true;
  state.layout_generation = layout_generation;
}

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Interval t's transition matrix at lambda, from its Poisson terms and
// offset sums (model/transitions), with the rows a batch needs per code.
void build_transition(LikelihoodState& state, MatrixScratch& scratch, int t, double lambda) {
  const int p = state.p;
  const int states = state.states;
  const int wraps = wrap_limit(p);
  const DoubleVector same_sums{scratch.same_sums.data(), 1, 2 * p - 1};
  const DoubleVector cross_sums{scratch.cross_sums.data(), 1, 2 * p - 1};
  const DoubleVector terms{scratch.terms.data(), 0, largest_event_count(p)};
  fill_poisson_terms(lambda, p, terms);
  fill_offset_sums(terms, DoubleVector{state.same_weights.data(), 0, wraps},
                   DoubleVector{state.cross_weights.data(), 0, wraps}, p, same_sums, cross_sums);

  build_transition_matrix(same_sums, cross_sums, p,
                          DoubleMatrix{scratch.full_rows.data(), 1, states, 1, states});
  // The folded matrix: the entries of each pair's first state, whose twin's
  // row and column are the same bits.
  const int folded = folded_state_count(p);
  double* matrix = state.transitions.data() + offset(size(t - 1) * size(folded), state.width);
  unsigned char* finite = state.row_finite.data() + size(t - 1) * size(folded);
  for (int h = 0; h < folded; ++h) {
    double* row = matrix + offset(size(h), state.width);
    fold_states(scratch.full_rows[size(state_of_folded(h) - 1)], folded, row);
    finite[h] = std::all_of(row, row + folded, [](double x) { return std::isfinite(x); });
  }
  for (std::size_t code = 0; code < usual_kinds; ++code) {
    const double* factors = code == size(root_code)
                                ? state.ones.data()
                                : state.emission.data() + offset(code, state.width);
    const std::size_t list = size(t - 1) * usual_kinds + code;
    int* rows = state.usual_rows.data() + list * size(states);
    int count = 0;
    for (int l = 0; l < states; ++l) {
      const int h = state.state_rows[size(l)];
      if (factors[h] != 0.0 || finite[h] == 0) rows[count++] = h;
    }
    state.usual_count[list] = count;
  }
}

double* sums_of(const LikelihoodState& state, PartWork& work, const PrefixPart& part, int depth,
                std::size_t node) {
  const int width = state.width;
  const std::size_t local = node - part.node_begin[size(depth)];
  if (state.cache_on && depth % state.spacing == 0) {
    return work.checkpoints.data() +
           offset(work.checkpoint_at[size(depth / state.spacing)] + local, width);
  }
  return work.working.data() + offset(size(depth % 2) * work.half + local, width);
}

// Forward step d for one part: the nodes of depth d - 1, in batches of one
// code, through interval d's matrix.  A node's weights are
//   w[k] = (parent's sums)[k] emission[code][k]
// (the root's are the starting weights), formed once per batch into a
// small buffer; a row is used when some weight on it is not zero or the
// row is not finite (see forward_step.hpp).  Returns the multiply-adds.
long long step_depth(LikelihoodState& state, const PrefixPart& part, PartWork& work, int d) {
  const int states = state.states;
  const int folded = folded_state_count(state.p);
  const int width = state.width;
  const double* transition = state.transitions.data() + offset(size(d - 1) * size(folded), width);
  const unsigned char* finite = state.row_finite.data() + size(d - 1) * size(folded);
  const int batch_limit = forward_step_batch_limit(width);
  const std::size_t begin = part.node_begin[size(d - 1)];
  const std::size_t end = part.node_begin[size(d)];
  // Sums of depth d - 2 (the nodes' parents) and of depth d - 1 (the
  // nodes), each depth's nodes side by side.  The root's children all read
  // the starting weights: their parent is node 0 of depth 0.
  const std::size_t parents_begin = d == 1 ? 0 : part.node_begin[size(d - 2)];
  const double* const above =
      d == 1 ? state.initial.data() : sums_of(state, work, part, d - 2, parents_begin);
  double* node_sums = sums_of(state, work, part, d - 1, begin);

  // Plain pointers, held in locals: the compiler need not load the vectors'
  // storage again for every node.
  const unsigned char* const codes = part.code.data();
  const std::size_t* const parents = part.parent.data();
  FoldedMatrix matrix{transition, finite, nullptr, 0, state.state_rows.data(), states, width};
  long long multiply_adds = 0;
  for (std::size_t i = begin; i < end;) {
    const unsigned char code = codes[i];
    const double* factors =
        d == 1 ? state.ones.data() : state.emission.data() + offset(code, width);
    const std::size_t first = i;
    const std::size_t last = std::min(end, first + size(batch_limit));
    while (i < last && codes[i] == code) ++i;
    const int batch = static_cast<int>(i - first);
    const std::size_t list = size(d - 1) * usual_kinds + code;
    matrix.usual_rows = state.usual_rows.data() + list * size(states);
    matrix.usual_count = state.usual_count[list];
    const int row_count = forward_step(
        ForwardBatch{above, parents + first, parents_begin, batch, factors}, matrix,
        work.weights.data(), work.rows.data(), node_sums + offset(first - begin, width));
    multiply_adds += static_cast<long long>(batch) * row_count * folded;
  }
  return multiply_adds;
}

// The distinct rows of one part: each row's likelihood is the sum of its
// final weights over the states in order, each read from its folded state,
// and its -log goes to the row's slot.
void score_leaves(LikelihoodState& state, const PrefixPart& part, PartWork& work) {
  const int n = state.tree.table.n;
  const int states = state.states;
  const int width = state.width;
  const int* state_rows = state.state_rows.data();
  for (std::size_t leaf = part.node_begin[size(n)]; leaf < part.node_begin[size(n) + 1]; ++leaf) {
    const double* sums = sums_of(state, work, part, n - 1, part.parent[leaf]);
    const double* factors = state.emission.data() + offset(part.code[leaf], width);
    double likelihood = 0.0;
    for (int k = 0; k < states; ++k) likelihood += sums[state_rows[k]] * factors[state_rows[k]];
    state.neg_log[size(part.leaf_row[leaf - part.node_begin[size(n)]])] = -std::log(likelihood);
  }
}

void run_part(LikelihoodState& state, std::size_t k, int first_depth) {
  const PrefixPart& part = state.levels->parts[k];
  PartWork& work = state.parts[k];
  long long multiply_adds = 0;
  for (int d = first_depth; d <= state.tree.table.n; ++d)
    multiply_adds += step_depth(state, part, work, d);
  work.multiply_adds = multiply_adds;
  score_leaves(state, part, work);
}

// The first forward step to run when interval t is the first whose
// parameter changed: step d reads the sums of depth d - 2, which must be a
// checkpoint (depth 0 always is) or the starting weights (d = 1).
int restart_step(const LikelihoodState& state, int t) {
  if (!state.cache_on || t <= 1) return 1;
  return 2 + (t - 2) / state.spacing * state.spacing;
}

// Multiply-adds of the depths first_depth..n if no row were skipped: every
// state's row times the folded columns.
long long work_estimate(const LikelihoodState& state, int first_depth) {
  long long parents = 0;
  for (const PrefixPart& part : state.levels->parts) {
    parents += static_cast<long long>(part.node_begin[size(state.tree.table.n)] -
                                      part.node_begin[size(first_depth - 1)]);
  }
  return parents * state.states * folded_state_count(state.p);
}

// Rows of no intervals keep the starting weights: each row's likelihood is
// their sum, added per row as the step-by-step recursion does.
double rows_without_intervals(int p) {
  const int states = sub_state_count * p;
  std::vector<double> start(size(states), 0.0);
  fill_initial_weights(DoubleVector{start.data(), 1, states}, p);
  double likelihood = 0.0;
  for (const double weight : start) likelihood += weight;
  double total = 0.0;
  for (int i = 0; i < observation_count; ++i) total += -std::log(likelihood);
  return total;
}

bool is_laid_out(const LikelihoodState& state, int p) {
  return state.laid_out && state.p == p && state.layout_generation == layout_generation;
}

// The intervals whose parameter changed since the cached point (all of
// them when nothing is cached), noted in state.changed and taken into the
// cached point; returns the first of them (n + 1: none), where the forward
// recursion must start again.
int find_changed_intervals(LikelihoodState& state, DoubleVector point) {
  const int n = state.tree.table.n;
  int first_depth = n + 1;
  state.changed.clear();
  for (int t = 1; t <= n; ++t) {
    double& cached = state.cached_point[size(t - 1)];
    if (state.cache_valid && same_bits(cached, point[t])) continue;
    state.changed.push_back(t);
    cached = point[t];
    first_depth = std::min(first_depth, t);
  }
  return first_depth;
}

// Builds the changed matrices and runs every part from first_depth, on the
// worker threads when the work is large enough; returns the multiply-adds.
long long run_parts(LikelihoodState& state, DoubleVector point, int first_depth) {
  const auto parts = static_cast<int>(state.parts.size());
  if (parts > 1 && work_estimate(state, first_depth) >= parallel_threshold) {
    // The parts' threads build the matrices between them first: each
    // claims the next one not yet claimed, and once none is left waits
    // for those the others are still building (claimed only by running
    // tasks, so always finished).  The counter's release and acquire make
    // every built matrix visible to every part.
    std::atomic<std::size_t> next_matrix{0};
    std::atomic<std::size_t> built{0};
    const std::size_t wanted = state.changed.size();
    run_in_parallel(parts, [&](int k) {
      MatrixScratch& scratch = state.parts[size(k)].scratch;
      for (std::size_t j = next_matrix.fetch_add(1); j < wanted; j = next_matrix.fetch_add(1)) {
        const int t = state.changed[j];
        build_transition(state, scratch, t, point[t]);
        built.fetch_add(1, std::memory_order_release);
      }
      while (built.load(std::memory_order_acquire) < wanted) std::this_thread::yield();
      run_part(state, size(k), first_depth);
    });
  } else {
    for (const int t : state.changed) build_transition(state, state.parts[0].scratch, t, point[t]);
    for (int k = 0; k < parts; ++k) run_part(state, size(k), first_depth);
  }
  long long multiply_adds = 0;
  for (const PartWork& work : state.parts) multiply_adds += work.multiply_adds;
  return multiply_adds;
}

// Each observation's term, in table order from 0.0, one addition after
// another (foundation/ordered_sum.hpp adds long stretches at once with the
// same bits).
double sum_observations(const LikelihoodState& state) {
  const double total = add_in_order(0.0, state.neg_log, state.levels->distinct_index_of);
  return std::isnan(total) ? objective_not_a_number : total;
}

}  // namespace

LikelihoodWork last_likelihood_work() { return last_work; }

void set_likelihood_part_count(int parts) { requested_parts = parts < 0 ? 0 : parts; }

void set_likelihood_cache_limit(std::size_t bytes) {
  cache_limit = bytes;
  ++layout_generation;
}

void set_likelihood_checkpoint_spacing(int spacing) {
  checkpoint_spacing = spacing < 1 ? 1 : spacing;
  ++layout_generation;
}

void set_likelihood_parallel_threshold(long long multiply_adds) {
  parallel_threshold = multiply_adds;
}

double negative_log_likelihood(DoubleVector point) {
  return negative_log_likelihood_of_order(model_order, point);
}

double negative_log_likelihood_of_order(int p, DoubleVector point) {
  // A model without latent states has no likelihood; the run refuses such
  // an order before fitting, and this keeps a stray call harmless.
  if (p < 1) return objective_not_a_number;
  last_work = LikelihoodWork{};
  if (observation_count <= 0) return 0.0;
  if (interval_count < 1) return rows_without_intervals(p);

  LikelihoodState& state = this_thread_state;
  if (!tree_is_current(state, p)) use_tree(state, p);
  if (!is_laid_out(state, p)) lay_out(state, p);

  int first_depth = find_changed_intervals(state, point);
  long long multiply_adds = 0;
  if (first_depth <= state.tree.table.n || !state.cache_valid) {
    first_depth = restart_step(state, first_depth);
    state.cache_valid = false;
    multiply_adds = run_parts(state, point, first_depth);
    state.cached_total = sum_observations(state);
    state.cache_valid = true;
  }

  last_work.distinct_rows = static_cast<long long>(state.levels->distinct_row.size());
  last_work.forward_steps = state.levels->forward_steps;
  last_work.multiply_adds = multiply_adds;
  last_work.first_depth = first_depth;
  last_work.cache_bytes = state.cache_bytes;
  return state.cached_total;
}
