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
#include "model/gradient_passes.hpp"
#include "model/latent_state.hpp"
#include "model/observations.hpp"
#include "model/poisson.hpp"
#include "model/prefix_levels.hpp"
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
// often it occurs and the length of the prefix it shares with the row
// before it (0 for the first).
struct DistinctRows {
  bool built = false;
  TableStamp table;
  std::vector<unsigned char> codes;  // rows of n code rows 0..3
  std::vector<int> multiplicity;
  std::vector<int> shared_prefix;
};

// One part of the rows (a run of consecutive distinct rows): its prefix
// tree and what its passes write, so that the parts can run on several
// threads at once.
struct GradientPart {
  PrefixPart tree;
  ClassPasses passes;
  bool impossible = false;  // some row has likelihood 0 (or NaN)
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
  rows->shared_prefix.clear();
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
      rows->shared_prefix.push_back(shared);
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
  for (std::vector<double>* v :
       {&work->d, &work->e, &work->d_slope, &work->e_slope, &work->d_escape_slope,
        &work->e_escape_slope, &work->d_adjoint, &work->e_adjoint}) {
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
long long row_work(int p, int n, int shared_prefix) {
  const long long pairs = static_cast<long long>(p) * p;
  return 12 * pairs * (n - shared_prefix);
}

// Cuts the distinct rows into parts of consecutive rows of similar work,
// about part_work each (at most max_gradient_parts).  The cut depends on the
// rows, the order and part_work only, never on the thread count.
void lay_out_parts(const DistinctRows& table_rows) {
  const int p = work->p;
  const int n = work->n;
  const std::size_t distinct = table_rows.multiplicity.size();
  long long total = 0;
  for (std::size_t r = 0; r < distinct; ++r) total += row_work(p, n, table_rows.shared_prefix[r]);
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
      done += row_work(p, n, table_rows.shared_prefix[r]);
      ++r;
    }
    work->part_begin.push_back(r);
  }
  work->part_begin.push_back(distinct);
  work->parts.assign(count, GradientPart{});
  for (std::size_t k = 0; k < count; ++k) {
    build_prefix_part(table_rows.codes.data(), n, table_rows.shared_prefix,
                      static_cast<int>(work->part_begin[k]),
                      static_cast<int>(work->part_begin[k + 1]), work->parts[k].tree);
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
    }
  }
}

// One part: the forward weights of its tree, each of its rows' term
// multiplicity x -log L into row_terms, and the backward pass from the
// leaves, which leaves d(sum m log L)/dD and /dE in the part's adjoints.
void run_part(const GradientWork& shared, const DistinctRows& table_rows, GradientPart& part,
              double* row_terms) {
  const int n = shared.n;
  const ClassCoefficients coefficients{.p = shared.p,
                                       .offsets = shared.offsets,
                                       .d = shared.d.data(),
                                       .e = shared.e.data(),
                                       .factors = &shared.factors[0][0],
                                       .initial = shared.initial.data(),
                                       .misreads = shared.misreads};
  ClassPasses& passes = part.passes;
  if (passes.p != shared.p || passes.misreads != shared.misreads) {
    size_class_passes(part.tree, n, coefficients, passes);
  }
  class_forward_pass(part.tree, n, coefficients, passes);
  part.impossible = false;
  for (std::size_t m = 0; m < part.tree.leaf_row.size(); ++m) {
    const auto r = static_cast<std::size_t>(part.tree.leaf_row[m]);
    const double likelihood = leaf_weight_sum(n, passes, m);
    row_terms[r] = 0.0;
    if (!(likelihood > 0.0)) {
      part.impossible = true;
      continue;
    }
    const double multiplicity = static_cast<double>(table_rows.multiplicity[r]);
    row_terms[r] = multiplicity * -std::log(likelihood);
    // The leaf's adjoint dL/d(alpha_n) = 1, scaled at once by multiplicity
    // / L so the adjoints accumulate d(sum of log L)/dD directly.
    set_leaf_adjoint(n, passes, m, multiplicity / likelihood);
  }
  class_backward_pass(part.tree, n, coefficients, passes);
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
    run_part(shared, table_rows, shared.parts[at(k)], shared.row_terms.data());
  });
  shared.d_adjoint = shared.parts[0].passes.d_adjoint;
  shared.e_adjoint = shared.parts[0].passes.e_adjoint;
  shared.error_adjoint = shared.parts[0].passes.error_adjoint;
  bool impossible = shared.parts[0].impossible;
  for (std::size_t k = 1; k < shared.parts.size(); ++k) {
    const GradientPart& part = shared.parts[k];
    impossible = impossible || part.impossible;
    shared.error_adjoint += part.passes.error_adjoint;
    for (std::size_t i = 0; i < shared.d_adjoint.size(); ++i) {
      shared.d_adjoint[i] += part.passes.d_adjoint[i];
      shared.e_adjoint[i] += part.passes.e_adjoint[i];
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

void forget_gradient_work(const HeldTable& table) {
  const TableStamp stamp = table.stamp();
  std::erase_if(table_works, [&stamp](const std::unique_ptr<TableWork>& w) {
    return w->rows.built && w->rows.table == stamp;
  });
  rows = nullptr;
  work = nullptr;
}

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
