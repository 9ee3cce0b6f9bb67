#include "model/likelihood_gradient.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

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
  unsigned generation = 0;
  const unsigned char* table = nullptr;
  int count = -1;
  int n = -1;
  std::vector<unsigned char> codes;  // rows of n code rows 0..3
  std::vector<int> multiplicity;
  std::vector<int> first_new_depth;
};

// Per order and size: the class emission factors, the initial class
// weights, the per-interval D, E and their derivatives, the accumulated
// dL/dD and dL/dE, and the forward stack.
struct GradientWork {
  int p = 0;
  int n = -1;
  int levels_by_class = 0;  // 3p
  int offsets = 0;          // 2p - 1
  double factors[code_row_count][class_count] = {};
  std::vector<double> initial;                                  // 3p
  std::vector<double> terms, term_slopes;                       // P(lambda, k), dP/dlambda
  std::vector<double> same_weights, cross_weights;              // m = 0..T
  std::vector<double> same_weight_slopes, cross_weight_slopes;  // dW/dmu
  std::vector<double> d, e, d_slope, e_slope;                   // n x offsets
  std::vector<double> d_escape_slope, e_escape_slope;           // n x offsets, in mu
  std::vector<double> d_reversed, e_reversed;                   // n x offsets, c = offsets..1
  std::vector<double> d_adjoint, e_adjoint;                     // n x offsets
  std::vector<double> stack;                                    // (n + 1) x 3p
  std::vector<double> beta, next_beta, g, g_total, spread;
};

// Per thread, so that several orders can be fitted at once.
thread_local DistinctRows rows;
thread_local GradientWork work;

void build_distinct_rows() {
  const int count = observation_count;
  const int n = interval_count;
  std::vector<unsigned char> all(at(count, n, 0));
  for (int i = 0; i < count; ++i) {
    for (int t = 0; t < n; ++t) {
      all[at(i, n, t)] = static_cast<unsigned char>(code_row(observations[i * n + t]));
    }
  }
  std::vector<int> order(at(count));
  for (int i = 0; i < count; ++i) order[at(i)] = i;
  const unsigned char* base = all.data();
  auto row = [base, n](int i) { return base + at(i, n, 0); };
  std::sort(order.begin(), order.end(), [row, n](int a, int b) {
    return std::lexicographical_compare(row(a), row(a) + n, row(b), row(b) + n);
  });

  rows.codes.clear();
  rows.multiplicity.clear();
  rows.first_new_depth.clear();
  const unsigned char* previous = nullptr;
  for (const int i : order) {
    const unsigned char* current = row(i);
    int shared = 0;
    if (previous != nullptr) {
      while (shared < n && previous[shared] == current[shared]) ++shared;
    }
    if (previous != nullptr && shared == n) {
      ++rows.multiplicity.back();
    } else {
      rows.codes.insert(rows.codes.end(), current, current + n);
      rows.multiplicity.push_back(1);
      rows.first_new_depth.push_back(shared + 1);
    }
    previous = current;
  }
  rows.generation = observation_generation;
  rows.table = observations.origin;
  rows.count = count;
  rows.n = n;
}

bool rows_are_current() {
  return rows.generation == observation_generation && rows.table == observations.origin &&
         rows.count == observation_count && rows.n == interval_count;
}

void size_work(int p, int n) {
  if (work.p == p && work.n == n) return;
  // Orders fitted at once on several threads share the factorial table:
  // it is filled before this thread's first evaluation.
  fill_factorial_table();
  work.p = p;
  work.n = n;
  work.levels_by_class = class_count * p;
  work.offsets = 2 * p - 1;
  // Class factors: the emission factors of sub-states 1, 2, 3 (order 1).
  std::vector<double> table_storage(at(code_row_count * sub_state_count));
  std::vector<double*> table_rows(at(code_row_count));
  for (int r = 0; r < code_row_count; ++r) {
    table_rows[at(r)] = table_storage.data() + at(r, sub_state_count, 0);
  }
  fill_emission_table(DoubleMatrix{table_rows.data(), 0, code_row_count - 1, 1, sub_state_count},
                      1);
  for (int r = 0; r < code_row_count; ++r) {
    for (int j = 0; j < class_count; ++j) work.factors[r][j] = table_rows[at(r)][j];
  }
  // Initial class weights: each class holds its two sub-states' weights.
  std::vector<double> states(at(sub_state_count * p));
  fill_initial_weights(DoubleVector{states.data(), 1, sub_state_count * p}, p);
  work.initial.assign(at(work.levels_by_class), 0.0);
  for (int level = 0; level < p; ++level) {
    for (int j = 0; j < class_count; ++j) {
      const int first = sub_state_count * level + j;
      const int twin = sub_state_count * level + (sub_state_count - 1 - j);
      work.initial[at(j, p, level)] = states[at(first)] + states[at(twin)];
    }
  }
  const std::size_t per_interval = at(n, work.offsets, 0);
  for (std::vector<double>* v :
       {&work.d, &work.e, &work.d_slope, &work.e_slope, &work.d_escape_slope, &work.e_escape_slope,
        &work.d_reversed, &work.e_reversed, &work.d_adjoint, &work.e_adjoint}) {
    v->assign(per_interval, 0.0);
  }
  for (std::vector<double>* v : {&work.same_weights, &work.cross_weights, &work.same_weight_slopes,
                                 &work.cross_weight_slopes}) {
    v->assign(at(wrap_limit(p) + 1), 0.0);
  }
  work.terms.assign(at(largest_event_count(p) + 1), 0.0);
  work.term_slopes.assign(work.terms.size(), 0.0);
  work.stack.assign(at(n + 1, work.levels_by_class, 0), 0.0);
  std::copy(work.initial.begin(), work.initial.end(), work.stack.begin());
  for (std::vector<double>* v : {&work.beta, &work.next_beta, &work.g}) {
    v->assign(at(work.levels_by_class), 0.0);
  }
  work.g_total.assign(at(p), 0.0);
  work.spread.assign(at(p), 0.0);
}

// D, E and their slopes for every interval.  With the offset sums
//   S[c] = sum_{m = m0..T} P(lambda, c - p + p m) W_same(m)
//   C[c] = sum_{m = m0..T} P(lambda, c - p + p m) W_cross(m)
// D = 2S - C/2 and E = C/2; the slopes in lambda are the same sums of
// dP/dlambda.  With escape the weights are those of the interval's escape
// factor, and the slopes in mu are the same sums with dW/dmu.
// `factors` is null without escape.
void build_interval_coefficients(const double* lambdas, const double* factors) {
  const int p = work.p;
  const int wraps = wrap_limit(p);
  const int largest = largest_event_count(p);
  for (int t = 1; t <= work.n; ++t) {
    const double lambda = lambdas[t - 1];
    const double exp_minus_lambda = std::exp(-lambda);
    for (int k = 0; k <= largest; ++k) {
      work.terms[at(k)] = poisson_term(lambda, k, exp_minus_lambda);
    }
    // dP(lambda, k)/dlambda = P(lambda, k - 1) - P(lambda, k)
    work.term_slopes[0] = -work.terms[0];
    for (int k = 1; k <= largest; ++k) {
      work.term_slopes[at(k)] = work.terms[at(k - 1)] - work.terms[at(k)];
    }
    for (int m = 0; m <= wraps; ++m) {
      if (factors == nullptr) {
        work.same_weights[at(m)] = W_same(m);
        work.cross_weights[at(m)] = W_cross(m);
      } else {
        work.same_weights[at(m)] = W_same(m, factors[t - 1]);
        work.cross_weights[at(m)] = W_cross(m, factors[t - 1]);
        work.same_weight_slopes[at(m)] = W_same_escape_slope(m, factors[t - 1]);
        work.cross_weight_slopes[at(m)] = W_cross_escape_slope(m, factors[t - 1]);
      }
    }
    for (int c = 1; c <= work.offsets; ++c) {
      const int m0 = first_wrap_count(c, p);
      double same = 0.0, cross = 0.0, same_slope = 0.0, cross_slope = 0.0;
      double same_escape = 0.0, cross_escape = 0.0;
      for (int m = m0; m <= wraps; ++m) {
        const std::size_t k = at(p * m + c - p);
        same += work.terms[k] * work.same_weights[at(m)];
        cross += work.terms[k] * work.cross_weights[at(m)];
        same_slope += work.term_slopes[k] * work.same_weights[at(m)];
        cross_slope += work.term_slopes[k] * work.cross_weights[at(m)];
        if (factors != nullptr) {
          same_escape += work.terms[k] * work.same_weight_slopes[at(m)];
          cross_escape += work.terms[k] * work.cross_weight_slopes[at(m)];
        }
      }
      const std::size_t slot = at(t - 1, work.offsets, c - 1);
      work.d[slot] = same_class_share * same - other_class_share * cross;
      work.e[slot] = other_class_share * cross;
      work.d_slope[slot] = same_class_share * same_slope - other_class_share * cross_slope;
      work.e_slope[slot] = other_class_share * cross_slope;
      work.d_escape_slope[slot] = same_class_share * same_escape - other_class_share * cross_escape;
      work.e_escape_slope[slot] = other_class_share * cross_escape;
      const std::size_t mirror = at(t - 1, work.offsets, work.offsets - c);
      work.d_reversed[mirror] = work.d[slot];
      work.e_reversed[mirror] = work.e[slot];
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

// One interval forward: next[L][j] = f_j (sum_K D[c] v[K][j] + E[c] V[K]).
void forward_step(const double* v, const double* d, const double* e, const double* factors,
                  double* next) {
  const int p = work.p;
  double* spread = work.spread.data();
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
  for (int j = 0; j < class_count; ++j) {
    double* row = next + at(j * p);
    for (int to = 0; to < p; ++to) row[to] = factors[j] * (row[to] + spread[to]);
  }
}

// One interval backward for interval t (1-based): accumulates dL/dD_t and
// dL/dE_t from the forward weights v before the interval and beta after
// it, then replaces beta by its value before the interval:
//   beta'[K][j] = sum_L D[c] g[L][j] + E[c] G[L],  g = f beta,  G = sum_j g.
void backward_step(int t, const double* v, const double* factors) {
  const int p = work.p;
  const std::size_t first = at(t - 1, work.offsets, 0);
  const double* d_reversed = work.d_reversed.data() + first;
  const double* e_reversed = work.e_reversed.data() + first;
  double* d_adjoint = work.d_adjoint.data() + first;
  double* e_adjoint = work.e_adjoint.data() + first;
  double* g = work.g.data();
  double* g_total = work.g_total.data();
  for (int j = 0; j < class_count; ++j) {
    for (int to = 0; to < p; ++to) g[at(j * p + to)] = factors[j] * work.beta[at(j * p + to)];
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

  double* back = work.next_beta.data();
  double* spread = work.spread.data();
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
    for (int from = 0; from < p; ++from) back[j * p + from] += spread[from];
  }
  work.beta.swap(work.next_beta);
}

// -log L at the interval rates lambda_t (and escape factors, when not
// null); on return d_adjoint and e_adjoint hold d(sum log L)/dD and /dE.
double value_and_adjoints(const double* lambdas, const double* factors) {
  const int n = work.n;
  build_interval_coefficients(lambdas, factors);
  std::fill(work.d_adjoint.begin(), work.d_adjoint.end(), 0.0);
  std::fill(work.e_adjoint.begin(), work.e_adjoint.end(), 0.0);

  const int width = work.levels_by_class;
  double* stack = work.stack.data();
  double total = 0.0;
  bool impossible = false;
  for (std::size_t r = 0; r < rows.multiplicity.size(); ++r) {
    const unsigned char* codes = rows.codes.data() + at(static_cast<int>(r), n, 0);
    for (int t = rows.first_new_depth[r]; t <= n; ++t) {
      const std::size_t first = at(t - 1, work.offsets, 0);
      forward_step(stack + at(t - 1, width, 0), work.d.data() + first, work.e.data() + first,
                   work.factors[codes[t - 1]], stack + at(t, width, 0));
    }
    const double* last = stack + at(n, width, 0);
    double likelihood = 0.0;
    for (int s = 0; s < width; ++s) likelihood += last[s];
    const double multiplicity = static_cast<double>(rows.multiplicity[r]);
    if (!(likelihood > 0.0)) {
      impossible = true;
      continue;
    }
    total += multiplicity * -std::log(likelihood);
    // beta_n = dL/d(alpha_n) = 1, scaled at once by multiplicity / L so the
    // adjoints accumulate d(sum of log L)/dD directly.
    std::fill(work.beta.begin(), work.beta.end(), multiplicity / likelihood);
    for (int t = n; t >= 1; --t) {
      backward_step(t, stack + at(t - 1, width, 0), work.factors[codes[t - 1]]);
    }
  }
  if (impossible) return std::numeric_limits<double>::infinity();
  return total;
}

// d(sum log L)/dlambda_t (slopes = d_slope, e_slope) or d/dmu_t (the escape
// slopes) from the adjoints.
double interval_slope(int t, const std::vector<double>& d_slopes,
                      const std::vector<double>& e_slopes) {
  double slope = 0.0;
  for (int c = 0; c < work.offsets; ++c) {
    const std::size_t slot = at(t - 1, work.offsets, c);
    slope += work.d_adjoint[slot] * d_slopes[slot] + work.e_adjoint[slot] * e_slopes[slot];
  }
  return slope;
}

// Whether the work fits the table and order; false when there is nothing
// to evaluate (no order, or no observation).
bool prepare(int p, int n) {
  if (observation_count <= 0) return false;
  if (!rows_are_current()) build_distinct_rows();
  size_work(p, n);
  return true;
}

// The value at order p, and its gradient in gradient[1..n].
double value_and_gradient(int p, DoubleVector point, DoubleVector gradient) {
  const int n = interval_count;
  if (p < 1) return std::numeric_limits<double>::quiet_NaN();
  for (int t = 1; t <= n; ++t) gradient[t] = 0.0;
  if (!prepare(p, n)) return 0.0;
  const double total = value_and_adjoints(&point[1], nullptr);
  if (!std::isfinite(total)) return total;
  for (int t = 1; t <= n; ++t) gradient[t] = -interval_slope(t, work.d_slope, work.e_slope);
  return total;
}

}  // namespace

double negative_log_likelihood_and_gradient(DoubleVector point, DoubleVector gradient) {
  return value_and_gradient(model_order, point, gradient);
}

double negative_log_likelihood_and_gradient(const std::vector<double>& point,
                                            std::vector<double>& gradient) {
  return negative_log_likelihood_and_gradient(model_order, point, gradient);
}

double negative_log_likelihood_and_gradient(int p, const std::vector<double>& point,
                                            std::vector<double>& gradient) {
  const int n = static_cast<int>(point.size());
  std::vector<double> copy = point;
  gradient.assign(point.size(), 0.0);
  return value_and_gradient(p, DoubleVector{copy.data(), 1, n},
                            DoubleVector{gradient.data(), 1, n});
}

double negative_log_likelihood_and_gradient_with_escape(const std::vector<double>& point,
                                                        std::vector<double>& gradient) {
  return negative_log_likelihood_and_gradient_with_escape(model_order, point, gradient);
}

double negative_log_likelihood_and_gradient_with_escape(int p, const std::vector<double>& point,
                                                        std::vector<double>& gradient) {
  const int n = interval_count;
  gradient.assign(point.size(), 0.0);
  assert(point.size() == at(n + 1));
  const double q = point[at(n)];
  if (p < 1 || !(q >= 0.0 && q <= 1.0)) return std::numeric_limits<double>::quiet_NaN();
  if (!prepare(p, n)) return 0.0;
  // lambda_t = (1 - q) x_t counting events and mu_t = q x_t / p escape
  // moves, x_t = 2p L_t: 2 L_t class moves expected either way.
  const double per_level = 1.0 / static_cast<double>(p);
  std::vector<double> lambdas(at(n)), factors(at(n));
  for (int t = 0; t < n; ++t) {
    lambdas[at(t)] = (1.0 - q) * point[at(t)];
    factors[at(t)] = escape_factor(q * point[at(t)] / static_cast<double>(p));
  }
  const double total = value_and_adjoints(lambdas.data(), factors.data());
  if (!std::isfinite(total)) return total;
  // dlambda_t/dx_t = 1 - q, dmu_t/dx_t = q / p;
  // dlambda_t/dq = -x_t,    dmu_t/dq = x_t / p.
  double q_slope = 0.0;
  for (int t = 1; t <= n; ++t) {
    const double lambda_slope = interval_slope(t, work.d_slope, work.e_slope);
    const double mu_slope = interval_slope(t, work.d_escape_slope, work.e_escape_slope);
    const double x = point[at(t - 1)];
    gradient[at(t - 1)] = -(lambda_slope * (1.0 - q) + mu_slope * (q * per_level));
    q_slope += mu_slope * (x * per_level) - lambda_slope * x;
  }
  gradient[at(n)] = -q_slope;
  return total;
}
