#include "model/likelihood_gradient.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <vector>

#include "foundation/instruction_sets.hpp"
#include "foundation/worker_threads.hpp"
#include "model/emission.hpp"
#include "model/latent_state.hpp"
#include "model/observations.hpp"
#include "model/poisson.hpp"
#include "model/transitions.hpp"
#include "model/wrap_weights.hpp"

namespace {

// Classes of twin sub-states: {1, 6}, {2, 5}, {3, 4}.  Sub-state j + 1 is the
// first member of class j.
constexpr int class_count = 3;
// Weight moved into the same class per unit of S, and into each other class
// per unit of C (see the header).
constexpr double same_class_share = 2.0;
constexpr double other_class_share = 0.5;

std::size_t at(int index) { return static_cast<std::size_t>(index); }
std::size_t at(int row, int stride, int column) {
  return static_cast<std::size_t>(row) * static_cast<std::size_t>(stride) +
         static_cast<std::size_t>(column);
}

// The distinct code rows of the table in lexicographic order, each with how
// often it occurs and the first interval (1-based) it does not share with
// the row before it.
struct DistinctRows {
  bool built = false;
  TableStamp table;
  std::vector<unsigned char> codes;  // rows of n code rows 0..3
  std::vector<int> multiplicity;
  std::vector<int> first_new_depth;
};

// What one part of the rows (a run of consecutive distinct rows) writes
// while it runs: its forward stack, its backward vectors and its own dL/dD
// and dL/dE, so that the parts can run on several threads at once.
struct GradientPart {
  std::vector<double> stack;  // (n + 1) x 3p, depth 0 the initial weights
  // With misreads: depth t holds the weights of interval t before its
  // emission factors, which the slope in the error rate needs.
  std::vector<double> pre_emission;  // (n + 1) x 3p
  // Depth t holds the adjoint d(sum m log L)/d(alpha_t) of the prefix node
  // at depth t on the current path, summed over the rows below it so far.
  std::vector<double> adjoints;  // (n + 1) x 3p
  std::vector<double> back, g, g_total, spread;
  std::vector<double> d_adjoint, e_adjoint;  // n x offsets
  double error_adjoint = 0.0;                // d(sum log L)/de, with misreads
  bool impossible = false;                   // some row has likelihood 0 (or NaN)
};

// Per order and size: the class emission factors, the initial class
// weights, the per-interval D, E and their derivatives, the accumulated
// dL/dD and dL/dE, and the parts the rows are cut into.
struct GradientWork {
  int p = 0;
  int n = -1;
  int levels_by_class = 0;  // 3p
  int offsets = 0;          // 2p - 1
  double factors[code_row_count][class_count] = {};
  bool misreads = false;                   // the error rate is a coordinate of this evaluation
  std::vector<double> initial;             // 3p
  std::vector<double> terms, term_slopes;  // P(lambda, k), dP/dlambda
  std::vector<double> same_weights, cross_weights;              // m = 0..T
  std::vector<double> same_weight_slopes, cross_weight_slopes;  // dW/dmu
  std::vector<double> d, e, d_slope, e_slope;                   // n x offsets
  std::vector<double> d_escape_slope, e_escape_slope;           // n x offsets, in mu
  std::vector<double> d_reversed, e_reversed;                   // n x offsets, c = offsets..1
  std::vector<double> d_adjoint, e_adjoint;                     // n x offsets, all parts
  double error_adjoint = 0.0;                                   // all parts
  // The parts: part k holds the distinct rows part_begin[k] ..
  // part_begin[k + 1] - 1, laid out for the rows of `parts_table` at this
  // order and part size.
  std::vector<GradientPart> parts;
  std::vector<std::size_t> part_begin;
  TableStamp parts_table;
  long long parts_work = 0;
  std::vector<double> row_terms;  // per distinct row: multiplicity x -log L
};

// What one table's evaluations keep between calls.
struct TableWork {
  DistinctRows rows;
  GradientWork work;
};

// Per thread, so that several orders (or data files) can be evaluated at
// once, and per table, so that files evaluated in turn keep their work.
// A part run on a worker thread reads and writes the storage of the thread
// that asked for the evaluation, handed to it by reference, never its own.
// The most recently used table comes first; beyond cached_tables the
// least recently used is dropped, and a replaced installed table at once.
constexpr std::size_t cached_tables = 32;
thread_local std::vector<std::unique_ptr<TableWork>> table_works;
// The evaluation in progress on this thread: its table's rows and work.
thread_local DistinctRows* rows = nullptr;
thread_local GradientWork* work = nullptr;
long long part_work = default_gradient_part_work;

// Makes the work of the table `stamp` current, new when there is none.
void select_table(const TableStamp& stamp) {
  const auto same = [&stamp](const std::unique_ptr<TableWork>& w) {
    return w->rows.built && w->rows.table == stamp;
  };
  auto found = std::find_if(table_works.begin(), table_works.end(), same);
  if (found == table_works.end()) {
    if (stamp.held == 0) {
      // An installed table that was replaced is never asked for again.
      const TableStamp installed = stamp;
      std::erase_if(table_works, [&installed](const std::unique_ptr<TableWork>& w) {
        return w->rows.table.held == 0 && w->rows.table != installed;
      });
    }
    if (table_works.size() >= cached_tables) table_works.pop_back();
    table_works.insert(table_works.begin(), std::make_unique<TableWork>());
  } else if (found != table_works.begin()) {
    std::rotate(table_works.begin(), found, found + 1);
  }
  rows = &table_works.front()->rows;
  work = &table_works.front()->work;
}

void build_distinct_rows(const std::vector<unsigned char>& all, int count, int n,
                         const TableStamp& stamp) {
  const std::vector<int> order = lexicographic_order(all, count, n);
  auto row = [&all, n](int i) { return all.data() + at(i, n, 0); };

  rows->codes.clear();
  rows->multiplicity.clear();
  rows->first_new_depth.clear();
  const unsigned char* previous = nullptr;
  for (const int i : order) {
    const unsigned char* current = row(i);
    int shared = 0;
    if (previous != nullptr) {
      while (shared < n && previous[shared] == current[shared]) ++shared;
    }
    if (previous != nullptr && shared == n) {
      ++rows->multiplicity.back();
    } else {
      rows->codes.insert(rows->codes.end(), current, current + n);
      rows->multiplicity.push_back(1);
      rows->first_new_depth.push_back(shared + 1);
    }
    previous = current;
  }
  rows->table = stamp;
  rows->built = true;
}

void size_work(int p, int n) {
  if (work->p == p && work->n == n) return;
  // Orders fitted at once on several threads share the factorial table:
  // it is filled before this thread's first evaluation.
  fill_factorial_table();
  work->p = p;
  work->n = n;
  work->levels_by_class = class_count * p;
  work->offsets = 2 * p - 1;
  // Class factors: the emission factors of sub-states 1, 2, 3 (order 1).
  std::vector<double> table_storage(at(code_row_count * sub_state_count));
  std::vector<double*> table_rows(at(code_row_count));
  for (int r = 0; r < code_row_count; ++r) {
    table_rows[at(r)] = table_storage.data() + at(r, sub_state_count, 0);
  }
  fill_emission_table(DoubleMatrix{table_rows.data(), 0, code_row_count - 1, 1, sub_state_count},
                      1);
  for (int r = 0; r < code_row_count; ++r) {
    for (int j = 0; j < class_count; ++j) work->factors[r][j] = table_rows[at(r)][j];
  }
  // Initial class weights: each class holds its two sub-states' weights.
  std::vector<double> states(at(sub_state_count * p));
  fill_initial_weights(DoubleVector{states.data(), 1, sub_state_count * p}, p);
  work->initial.assign(at(work->levels_by_class), 0.0);
  for (int level = 0; level < p; ++level) {
    for (int j = 0; j < class_count; ++j) {
      const int first = sub_state_count * level + j;
      const int twin = sub_state_count * level + (sub_state_count - 1 - j);
      work->initial[at(j, p, level)] = states[at(first)] + states[at(twin)];
    }
  }
  const std::size_t per_interval = at(n, work->offsets, 0);
  for (std::vector<double>* v : {&work->d, &work->e, &work->d_slope, &work->e_slope,
                                 &work->d_escape_slope, &work->e_escape_slope, &work->d_reversed,
                                 &work->e_reversed, &work->d_adjoint, &work->e_adjoint}) {
    v->assign(per_interval, 0.0);
  }
  for (std::vector<double>* v : {&work->same_weights, &work->cross_weights,
                                 &work->same_weight_slopes, &work->cross_weight_slopes}) {
    v->assign(at(wrap_limit(p) + 1), 0.0);
  }
  work->terms.assign(at(largest_event_count(p) + 1), 0.0);
  work->term_slopes.assign(work->terms.size(), 0.0);
  work->parts.clear();
  work->part_begin.clear();
}

// Multiply-adds of one distinct row: the prefix nodes it adds to the tree,
// each a forward step (4p^2: three classes and the spread, over every pair
// of levels) and a backward step (8p^2: the adjoints and the step back).
long long row_work(int p, int n, int first_new_depth) {
  const long long pairs = static_cast<long long>(p) * p;
  return 12 * pairs * (n - first_new_depth + 1);
}

// Cuts the distinct rows into parts of consecutive rows of similar work,
// about part_work each (at most max_gradient_parts).  The cut depends on the
// rows, the order and part_work only, never on the thread count.
void lay_out_parts(const DistinctRows& table_rows) {
  const int p = work->p;
  const int n = work->n;
  const std::size_t distinct = table_rows.multiplicity.size();
  long long total = 0;
  for (std::size_t r = 0; r < distinct; ++r) total += row_work(p, n, table_rows.first_new_depth[r]);
  const long long wanted = std::max(1LL, total / std::max(1LL, part_work));
  const auto count = static_cast<std::size_t>(
      std::min({wanted, static_cast<long long>(max_gradient_parts),
                static_cast<long long>(std::max<std::size_t>(distinct, 1))}));
  work->part_begin.assign(1, 0);
  long long done = 0;
  std::size_t r = 0;
  for (std::size_t k = 1; k < count; ++k) {
    const long long goal = total / static_cast<long long>(count) * static_cast<long long>(k);
    while (r < distinct && (r == work->part_begin.back() || done < goal)) {
      done += row_work(p, n, table_rows.first_new_depth[r]);
      ++r;
    }
    work->part_begin.push_back(r);
  }
  work->part_begin.push_back(distinct);
  work->parts.assign(count, GradientPart{});
  for (GradientPart& part : work->parts) {
    part.stack.assign(at(n + 1, work->levels_by_class, 0), 0.0);
    part.pre_emission.assign(part.stack.size(), 0.0);
    std::copy(work->initial.begin(), work->initial.end(), part.stack.begin());
    part.adjoints.assign(part.stack.size(), 0.0);
    for (std::vector<double>* v : {&part.back, &part.g}) v->assign(at(work->levels_by_class), 0.0);
    part.g_total.assign(at(p), 0.0);
    part.spread.assign(at(p), 0.0);
    part.d_adjoint.assign(work->d_adjoint.size(), 0.0);
    part.e_adjoint.assign(work->e_adjoint.size(), 0.0);
  }
  work->row_terms.assign(distinct, 0.0);
  work->parts_table = table_rows.table;
  work->parts_work = part_work;
}

// D, E and their slopes for every interval.  With the offset sums
//   S[c] = sum_{m = m0..T} P(lambda, c - p + p m) W_same(m)
//   C[c] = sum_{m = m0..T} P(lambda, c - p + p m) W_cross(m)
// D = 2S - C/2 and E = C/2; the slopes in lambda are the same sums of
// dP/dlambda.  With escape the weights are those of the interval's escape
// factor, and the slopes in mu are the same sums with dW/dmu.
// `factors` is null without escape.
void build_interval_coefficients(const double* lambdas, const double* factors) {
  const int p = work->p;
  const int wraps = wrap_limit(p);
  const int largest = largest_event_count(p);
  for (int t = 1; t <= work->n; ++t) {
    const double lambda = lambdas[t - 1];
    const double exp_minus_lambda = std::exp(-lambda);
    for (int k = 0; k <= largest; ++k) {
      work->terms[at(k)] = poisson_term(lambda, k, exp_minus_lambda);
    }
    // dP(lambda, k)/dlambda = P(lambda, k - 1) - P(lambda, k)
    work->term_slopes[0] = -work->terms[0];
    for (int k = 1; k <= largest; ++k) {
      work->term_slopes[at(k)] = work->terms[at(k - 1)] - work->terms[at(k)];
    }
    for (int m = 0; m <= wraps; ++m) {
      if (factors == nullptr) {
        work->same_weights[at(m)] = W_same(m);
        work->cross_weights[at(m)] = W_cross(m);
      } else {
        work->same_weights[at(m)] = W_same(m, factors[t - 1]);
        work->cross_weights[at(m)] = W_cross(m, factors[t - 1]);
        work->same_weight_slopes[at(m)] = W_same_escape_slope(m, factors[t - 1]);
        work->cross_weight_slopes[at(m)] = W_cross_escape_slope(m, factors[t - 1]);
      }
    }
    for (int c = 1; c <= work->offsets; ++c) {
      const int m0 = first_wrap_count(c, p);
      double same = 0.0, cross = 0.0, same_slope = 0.0, cross_slope = 0.0;
      double same_escape = 0.0, cross_escape = 0.0;
      for (int m = m0; m <= wraps; ++m) {
        const std::size_t k = at(p * m + c - p);
        same += work->terms[k] * work->same_weights[at(m)];
        cross += work->terms[k] * work->cross_weights[at(m)];
        same_slope += work->term_slopes[k] * work->same_weights[at(m)];
        cross_slope += work->term_slopes[k] * work->cross_weights[at(m)];
        if (factors != nullptr) {
          same_escape += work->terms[k] * work->same_weight_slopes[at(m)];
          cross_escape += work->terms[k] * work->cross_weight_slopes[at(m)];
        }
      }
      const std::size_t slot = at(t - 1, work->offsets, c - 1);
      work->d[slot] = same_class_share * same - other_class_share * cross;
      work->e[slot] = other_class_share * cross;
      work->d_slope[slot] = same_class_share * same_slope - other_class_share * cross_slope;
      work->e_slope[slot] = other_class_share * cross_slope;
      work->d_escape_slope[slot] =
          same_class_share * same_escape - other_class_share * cross_escape;
      work->e_escape_slope[slot] = other_class_share * cross_escape;
      const std::size_t mirror = at(t - 1, work->offsets, work->offsets - c);
      work->d_reversed[mirror] = work->d[slot];
      work->e_reversed[mirror] = work->e[slot];
    }
  }
}

// Weights are stored class by class: class j at level K (0-based) is entry
// j p + K.  Offset c (1-based) of a move from K to L is p + L - K, so with
// the 0-based offset arrays the coefficient is d[p - 1 + L - K]: for a fixed
// from-level the to-levels read a contiguous slice of d, and for a fixed
// to-level the from-levels read a contiguous slice of the reversed array.
// Every inner loop below is an update of a contiguous slice (no running
// sum), which the compiler vectorises without reordering any sum.

// One interval forward: next[L][j] = f_j (sum_K D[c] v[K][j] + E[c] V[K]),
// and the bracket itself into `pre` unless it is null.
[[gnu::always_inline]] inline void class_forward_step(int p, GradientPart& part, const double* v,
                                                      const double* d, const double* e,
                                                      const double* factors, double* next,
                                                      double* pre) {
  double* spread = part.spread.data();
  std::fill(next, next + at(class_count * p), 0.0);
  std::fill(spread, spread + p, 0.0);
  double* next0 = next;
  double* next1 = next + p;
  double* next2 = next + at(2 * p);
  for (int from = 0; from < p; ++from) {
    const double* dc = d + (p - 1 - from);  // dc[to] = D[p - 1 + to - from]
    const double* ec = e + (p - 1 - from);
    const double a0 = v[from];
    const double a1 = v[p + from];
    const double a2 = v[at(2 * p + from)];
    const double level_total = a0 + a1 + a2;
    for (int to = 0; to < p; ++to) {
      next0[to] += dc[to] * a0;
      next1[to] += dc[to] * a1;
      next2[to] += dc[to] * a2;
      spread[to] += ec[to] * level_total;
    }
  }
  if (pre != nullptr) {
    for (int j = 0; j < class_count; ++j) {
      double* row = next + at(j * p);
      double* bracket = pre + at(j * p);
      for (int to = 0; to < p; ++to) {
        bracket[to] = row[to] + spread[to];
        row[to] = factors[j] * bracket[to];
      }
    }
    return;
  }
  for (int j = 0; j < class_count; ++j) {
    double* row = next + at(j * p);
    for (int to = 0; to < p; ++to) row[to] = factors[j] * (row[to] + spread[to]);
  }
}

// The slopes of an interval's class factors in the error rate e: an R's
// factors are e, 1 - e, e for classes {1, 6}, {2, 5}, {3, 4}, an N's the
// other way round, so df_j/de = sign (1, -1, 1) with sign +1 for R, -1 for
// N and 0 for the codes misreads leave alone.
constexpr double misread_slope_sign[code_row_count] = {1.0, -1.0, 0.0, 0.0};
constexpr double misread_class_slope[class_count] = {1.0, -1.0, 1.0};

// d(m log L)/de of interval t's factors: sum_j df_j/de sum_L pre[L][j] beta[L][j],
// beta = dL/d(alpha_t) scaled by m / L.
double misread_slope(int p, int code, const double* pre, const double* beta) {
  double sum = 0.0;
  for (int j = 0; j < class_count; ++j) {
    double class_sum = 0.0;
    for (int to = 0; to < p; ++to) class_sum += pre[j * p + to] * beta[j * p + to];
    sum += misread_class_slope[j] * class_sum;
  }
  return misread_slope_sign[code] * sum;
}

// One interval backward for interval t (1-based): accumulates dL/dD_t and
// dL/dE_t from the forward weights v before the interval and the adjoint
// beta after it, then adds the adjoint before the interval into `parent`
// unless it is null:
//   parent[K][j] += sum_L D[c] g[L][j] + E[c] G[L],  g = f beta,  G = sum_j g.
[[gnu::always_inline]] inline void class_backward_step(const GradientWork& shared,
                                                       GradientPart& part, int t, const double* v,
                                                       const double* factors, const double* beta,
                                                       double* parent) {
  const int p = shared.p;
  const std::size_t first = at(t - 1, shared.offsets, 0);
  const double* d_reversed = shared.d_reversed.data() + first;
  const double* e_reversed = shared.e_reversed.data() + first;
  double* d_adjoint = part.d_adjoint.data() + first;
  double* e_adjoint = part.e_adjoint.data() + first;
  double* g = part.g.data();
  double* g_total = part.g_total.data();
  for (int j = 0; j < class_count; ++j) {
    for (int to = 0; to < p; ++to) g[at(j * p + to)] = factors[j] * beta[j * p + to];
  }
  for (int to = 0; to < p; ++to) g_total[to] = g[to] + g[p + to] + g[at(2 * p + to)];
  const double* g0 = g;
  const double* g1 = g + p;
  const double* g2 = g + at(2 * p);

  for (int from = 0; from < p; ++from) {
    double* dc = d_adjoint + (p - 1 - from);  // dc[to] is offset p - 1 + to - from
    double* ec = e_adjoint + (p - 1 - from);
    const double a0 = v[from];
    const double a1 = v[p + from];
    const double a2 = v[at(2 * p + from)];
    const double level_total = a0 + a1 + a2;
    for (int to = 0; to < p; ++to) {
      dc[to] += a0 * g0[to] + a1 * g1[to] + a2 * g2[to];
      ec[to] += level_total * g_total[to];
    }
  }

  if (parent == nullptr) return;
  double* back = part.back.data();
  double* spread = part.spread.data();
  std::fill(back, back + at(class_count * p), 0.0);
  std::fill(spread, spread + p, 0.0);
  for (int to = 0; to < p; ++to) {
    // reversed[k] = D[2p - 2 - k], so D[p - 1 + to - from] = reversed[p - 1 - to + from].
    const double* dr = d_reversed + (p - 1 - to);
    const double* er = e_reversed + (p - 1 - to);
    const double b0 = g0[to];
    const double b1 = g1[to];
    const double b2 = g2[to];
    const double bt = g_total[to];
    for (int from = 0; from < p; ++from) {
      back[from] += dr[from] * b0;
      back[p + from] += dr[from] * b1;
      back[2 * p + from] += dr[from] * b2;
      spread[from] += er[from] * bt;
    }
  }
  for (int j = 0; j < class_count; ++j) {
    for (int from = 0; from < p; ++from) parent[j * p + from] += back[j * p + from] + spread[from];
  }
}

// Closes the prefix nodes at depths `deepest` down to `shallowest` of the
// path whose codes are `codes`: every row below them is done, so their
// adjoints are complete.  Each steps back into its parent (none at depth 1,
// whose parent holds the fixed initial weights) and is cleared for the next
// node at its depth.
[[gnu::always_inline]] inline void close_nodes(const GradientWork& shared, GradientPart& part,
                                               const unsigned char* codes, int deepest,
                                               int shallowest) {
  const int width = shared.levels_by_class;
  double* stack = part.stack.data();
  double* adjoints = part.adjoints.data();
  const double* pre_emission = shared.misreads ? part.pre_emission.data() : nullptr;
  for (int t = deepest; t >= shallowest; --t) {
    double* beta = adjoints + at(t, width, 0);
    const int code = codes[t - 1];
    if (pre_emission != nullptr && misread_slope_sign[code] != 0.0) {
      part.error_adjoint += misread_slope(shared.p, code, pre_emission + at(t, width, 0), beta);
    }
    class_backward_step(shared, part, t, stack + at(t - 1, width, 0), shared.factors[code], beta,
                        t > 1 ? adjoints + at(t - 1, width, 0) : nullptr);
    std::fill(beta, beta + width, 0.0);
  }
}

// The distinct rows first .. last - 1 of one part: each row's forward
// weights (from depth 1 for the part's first row, whose stack holds no
// prefix yet), its term multiplicity x -log L in row_terms[r], and the
// backward pass, which adds d(sum m log L)/dD and /dE into the part's
// adjoints.
//
// The backward pass runs over the prefix tree, not row by row: the adjoint
// of a node is linear in the adjoints of its children, so the rows below a
// node add theirs into it, and the node takes one step back with the sum
// once its last row is done (in lexicographic order, when a row leaves it).
// A row then costs backward steps only for the nodes it adds, as its
// forward steps do.
// Compiled for each instruction set foundation/instruction_sets names, the
// steps inlined: the same operations in the same order, more at once.
INTERVAL_WIDEST_TARGETS
void run_part(const GradientWork& shared, const DistinctRows& table_rows, GradientPart& part,
              std::size_t first, std::size_t last, double* row_terms) {
  const int n = shared.n;
  const int width = shared.levels_by_class;
  std::fill(part.d_adjoint.begin(), part.d_adjoint.end(), 0.0);
  std::fill(part.e_adjoint.begin(), part.e_adjoint.end(), 0.0);
  part.impossible = false;
  part.error_adjoint = 0.0;
  double* stack = part.stack.data();
  double* pre_emission = shared.misreads ? part.pre_emission.data() : nullptr;
  // The nodes at depths 1 .. open of the previous row's path are open.
  int open = 0;
  const unsigned char* previous = nullptr;
  for (std::size_t r = first; r < last; ++r) {
    const unsigned char* codes = table_rows.codes.data() + at(static_cast<int>(r), n, 0);
    const int from = r == first ? 1 : table_rows.first_new_depth[r];
    // The previous row's nodes from depth `from` down are not this row's.
    if (open >= from) close_nodes(shared, part, previous, open, from);
    open = from - 1;
    previous = codes;
    for (int t = from; t <= n; ++t) {
      const std::size_t slot = at(t - 1, shared.offsets, 0);
      class_forward_step(shared.p, part, stack + at(t - 1, width, 0), shared.d.data() + slot,
                         shared.e.data() + slot, shared.factors[codes[t - 1]],
                         stack + at(t, width, 0),
                         pre_emission == nullptr ? nullptr : pre_emission + at(t, width, 0));
    }
    const double* weights = stack + at(n, width, 0);
    double likelihood = 0.0;
    for (int s = 0; s < width; ++s) likelihood += weights[s];
    const double multiplicity = static_cast<double>(table_rows.multiplicity[r]);
    row_terms[r] = 0.0;
    if (!(likelihood > 0.0)) {
      part.impossible = true;
      continue;
    }
    row_terms[r] = multiplicity * -std::log(likelihood);
    // The leaf's adjoint dL/d(alpha_n) = 1, scaled at once by multiplicity
    // / L so the adjoints accumulate d(sum of log L)/dD directly.
    double* leaf = part.adjoints.data() + at(n, width, 0);
    std::fill(leaf, leaf + width, multiplicity / likelihood);
    open = n;
  }
  if (open >= 1) close_nodes(shared, part, previous, open, 1);
}

// -log L at the interval rates lambda_t (and escape factors, when not
// null); on return d_adjoint and e_adjoint hold d(sum log L)/dD and /dE.
// The parts run on the worker threads when there are several; then, on
// this thread, the rows' terms are added in row order from 0.0 and the
// parts' adjoints in part order, so the bits depend on the cut alone.
double value_and_adjoints(const double* lambdas, const double* factors) {
  build_interval_coefficients(lambdas, factors);
  GradientWork& shared = *work;
  const DistinctRows& table_rows = *rows;
  const auto parts = static_cast<int>(shared.parts.size());
  run_in_parallel(parts, [&shared, &table_rows](int k) {
    run_part(shared, table_rows, shared.parts[at(k)], shared.part_begin[at(k)],
             shared.part_begin[at(k + 1)], shared.row_terms.data());
  });
  shared.d_adjoint = shared.parts[0].d_adjoint;
  shared.e_adjoint = shared.parts[0].e_adjoint;
  shared.error_adjoint = shared.parts[0].error_adjoint;
  bool impossible = shared.parts[0].impossible;
  for (std::size_t k = 1; k < shared.parts.size(); ++k) {
    const GradientPart& part = shared.parts[k];
    impossible = impossible || part.impossible;
    shared.error_adjoint += part.error_adjoint;
    for (std::size_t i = 0; i < shared.d_adjoint.size(); ++i) {
      shared.d_adjoint[i] += part.d_adjoint[i];
      shared.e_adjoint[i] += part.e_adjoint[i];
    }
  }
  if (impossible) return std::numeric_limits<double>::infinity();
  double total = 0.0;
  for (const double term : shared.row_terms) total += term;
  return total;
}

// d(sum log L)/dlambda_t (slopes = d_slope, e_slope) or d/dmu_t (the escape
// slopes) from the adjoints.
double interval_slope(int t, const std::vector<double>& d_slopes,
                      const std::vector<double>& e_slopes) {
  double slope = 0.0;
  for (int c = 0; c < work->offsets; ++c) {
    const std::size_t slot = at(t - 1, work->offsets, c);
    slope += work->d_adjoint[slot] * d_slopes[slot] + work->e_adjoint[slot] * e_slopes[slot];
  }
  return slope;
}

// The class factors of the R and N rows at error rate e, and whether the
// evaluation follows the slope in e.  At e = 0 they are the plain factors.
void set_misreads(bool misreads, double error_rate) {
  work->misreads = misreads;
  for (const int r : {code_row('R'), code_row('N')}) {
    for (int j = 0; j < class_count; ++j) {
      work->factors[r][j] = emission_factor(r, j + 1, error_rate);
    }
  }
}

// Makes the work of a table (the installed one where `held` is null) current
// and fits it to the order; false when there is nothing to evaluate (no
// observation).
bool prepare(int p, const HeldTable* held) {
  const int count = held == nullptr ? observation_count : held->count();
  const int n = held == nullptr ? interval_count : held->intervals();
  if (count <= 0) return false;
  const TableStamp stamp = held == nullptr ? installed_table() : held->stamp();
  select_table(stamp);
  if (!rows->built) {
    build_distinct_rows(held == nullptr ? code_row_matrix() : held->code_rows(), count, n, stamp);
  }
  size_work(p, n);
  if (work->parts.empty() || work->parts_table != rows->table || work->parts_work != part_work) {
    lay_out_parts(*rows);
  }
  return true;
}

}  // namespace

void set_gradient_part_work(long long multiply_adds) { part_work = std::max(1LL, multiply_adds); }

double negative_log_likelihood_and_gradient(int p, const std::vector<double>& point,
                                            std::vector<double>& gradient) {
  return negative_log_likelihood_and_gradient(p, ModelTerms{}, point, gradient);
}

double negative_log_likelihood_and_gradient_with_escape(int p, const std::vector<double>& point,
                                                        std::vector<double>& gradient) {
  return negative_log_likelihood_and_gradient(p, ModelTerms{.escape = true}, point, gradient);
}

namespace {

// One table's value and gradient, the installed table's where `held` is
// null.
double evaluate(const HeldTable* held, int p, ModelTerms terms, const std::vector<double>& point,
                std::vector<double>& gradient) {
  const int n = held == nullptr ? interval_count : held->intervals();
  gradient.assign(point.size(), 0.0);
  assert(point.size() == at(n) + (terms.escape ? 1 : 0) + (terms.misreads ? 1 : 0));
  std::size_t next = at(n);
  const std::size_t q_at = terms.escape ? next++ : 0;
  const std::size_t e_at = terms.misreads ? next : 0;
  const double q = terms.escape ? point[q_at] : 0.0;
  const double error_rate = terms.misreads ? point[e_at] : 0.0;
  if (p < 1 || !(q >= 0.0 && q <= 1.0) || !(error_rate >= 0.0 && error_rate <= 0.5)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  if (!prepare(p, held)) return 0.0;
  set_misreads(terms.misreads, error_rate);
  double total = 0.0;
  if (!terms.escape) {
    total = value_and_adjoints(point.data(), nullptr);
    if (!std::isfinite(total)) return total;
    for (int t = 1; t <= n; ++t) {
      gradient[at(t - 1)] = -interval_slope(t, work->d_slope, work->e_slope);
    }
  } else {
    // lambda_t = (1 - q) x_t counting events and mu_t = q x_t / p escape
    // moves, x_t = 2p L_t: 2 L_t class moves expected either way.
    const double per_level = 1.0 / static_cast<double>(p);
    std::vector<double> lambdas(at(n)), factors(at(n));
    for (int t = 0; t < n; ++t) {
      lambdas[at(t)] = (1.0 - q) * point[at(t)];
      factors[at(t)] = escape_factor(q * point[at(t)] / static_cast<double>(p));
    }
    total = value_and_adjoints(lambdas.data(), factors.data());
    if (!std::isfinite(total)) return total;
    // dlambda_t/dx_t = 1 - q, dmu_t/dx_t = q / p;
    // dlambda_t/dq = -x_t,    dmu_t/dq = x_t / p.
    double q_slope = 0.0;
    for (int t = 1; t <= n; ++t) {
      const double lambda_slope = interval_slope(t, work->d_slope, work->e_slope);
      const double mu_slope = interval_slope(t, work->d_escape_slope, work->e_escape_slope);
      const double x = point[at(t - 1)];
      gradient[at(t - 1)] = -(lambda_slope * (1.0 - q) + mu_slope * (q * per_level));
      q_slope += mu_slope * (x * per_level) - lambda_slope * x;
    }
    gradient[q_at] = -q_slope;
  }
  if (terms.misreads) gradient[e_at] = -work->error_adjoint;
  return total;
}

}  // namespace

double negative_log_likelihood_and_gradient(int p, ModelTerms terms,
                                            const std::vector<double>& point,
                                            std::vector<double>& gradient) {
  return evaluate(nullptr, p, terms, point, gradient);
}

double negative_log_likelihood_and_gradient(const HeldTable& table, int p, ModelTerms terms,
                                            const std::vector<double>& point,
                                            std::vector<double>& gradient) {
  return evaluate(&table, p, terms, point, gradient);
}

double negative_log_likelihood_and_gradient(const std::vector<const HeldTable*>& tables, int p,
                                            ModelTerms terms, const std::vector<double>& point,
                                            std::vector<double>& gradient) {
  const std::size_t count = tables.size();
  std::size_t intervals = 0;
  for (const HeldTable* table : tables) intervals += static_cast<std::size_t>(table->intervals());
  const std::size_t fractions = std::size_t{terms.escape} + std::size_t{terms.misreads};
  assert(point.size() == intervals + fractions);
  gradient.assign(point.size(), 0.0);
  // Each table's own point, its lengths and then the common fractions, and
  // its value and gradient, in a slot of its own.
  std::vector<std::vector<double>> points(count), gradients(count);
  std::vector<double> values(count, 0.0);
  std::vector<std::size_t> first(count + 1, 0);
  for (std::size_t k = 0; k < count; ++k)
    first[k + 1] = first[k] + static_cast<std::size_t>(tables[k]->intervals());
  const auto fraction_begin = point.begin() + static_cast<std::ptrdiff_t>(intervals);
  run_in_parallel(static_cast<int>(count), [&](int task) {
    const auto k = static_cast<std::size_t>(task);
    std::vector<double>& own = points[k];
    own.assign(point.begin() + static_cast<std::ptrdiff_t>(first[k]),
               point.begin() + static_cast<std::ptrdiff_t>(first[k + 1]));
    own.insert(own.end(), fraction_begin, point.end());
    values[k] = evaluate(tables[k], p, terms, own, gradients[k]);
  });
  // Summed in table order, so that the bits do not depend on the threads.
  double total = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    total += values[k];
    const std::size_t n = first[k + 1] - first[k];
    std::copy_n(gradients[k].begin(), n, gradient.begin() + static_cast<std::ptrdiff_t>(first[k]));
    for (std::size_t j = 0; j < fractions; ++j) gradient[intervals + j] += gradients[k][n + j];
  }
  return total;
}
