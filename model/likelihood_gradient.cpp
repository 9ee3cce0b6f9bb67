#include "model/likelihood_gradient.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "model/latent_state.hpp"
#include "model/observations.hpp"
#include "model/poisson.hpp"

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
  std::vector<double> initial;                 // 3p
  std::vector<double> terms, term_slopes;      // P(lambda, k), dP/dlambda
  std::vector<double> d, e, d_slope, e_slope;  // n x offsets
  std::vector<double> d_adjoint, e_adjoint;    // n x offsets
  std::vector<double> stack;                   // (n + 1) x 3p
  std::vector<double> beta, next_beta, g, g_total, level_total;
};

DistinctRows rows;
GradientWork work;

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
      work.initial[at(level, class_count, j)] = states[at(first)] + states[at(twin)];
    }
  }
  const std::size_t per_interval = at(n, work.offsets, 0);
  for (std::vector<double>* v :
       {&work.d, &work.e, &work.d_slope, &work.e_slope, &work.d_adjoint, &work.e_adjoint}) {
    v->assign(per_interval, 0.0);
  }
  work.terms.assign(at(largest_event_count(p) + 1), 0.0);
  work.term_slopes.assign(work.terms.size(), 0.0);
  work.stack.assign(at(n + 1, work.levels_by_class, 0), 0.0);
  std::copy(work.initial.begin(), work.initial.end(), work.stack.begin());
  for (std::vector<double>* v : {&work.beta, &work.next_beta, &work.g}) {
    v->assign(at(work.levels_by_class), 0.0);
  }
  work.g_total.assign(at(p), 0.0);
  work.level_total.assign(at(p), 0.0);
}

// D, E and their slopes for every interval.  With the offset sums
//   S[c] = sum_{m = m0..T} P(lambda, c - p + p m) W_same(m)
//   C[c] = sum_{m = m0..T} P(lambda, c - p + p m) W_cross(m)
// D = 2S - C/2 and E = C/2; the slopes are the same sums of dP/dlambda.
void build_interval_coefficients(DoubleVector point) {
  const int p = work.p;
  const int wraps = wrap_limit(p);
  const int largest = largest_event_count(p);
  for (int t = 1; t <= work.n; ++t) {
    const double lambda = point[t];
    for (int k = 0; k <= largest; ++k) work.terms[at(k)] = poisson_term(lambda, k);
    // dP(lambda, k)/dlambda = P(lambda, k - 1) - P(lambda, k)
    work.term_slopes[0] = -work.terms[0];
    for (int k = 1; k <= largest; ++k) {
      work.term_slopes[at(k)] = work.terms[at(k - 1)] - work.terms[at(k)];
    }
    for (int c = 1; c <= work.offsets; ++c) {
      const int m0 = c < p ? 1 : 0;
      double same = 0.0, cross = 0.0, same_slope = 0.0, cross_slope = 0.0;
      for (int m = m0; m <= wraps; ++m) {
        const std::size_t k = at(p * m + c - p);
        same += work.terms[k] * W_same(m);
        cross += work.terms[k] * W_cross(m);
        same_slope += work.term_slopes[k] * W_same(m);
        cross_slope += work.term_slopes[k] * W_cross(m);
      }
      const std::size_t slot = at(t - 1, work.offsets, c - 1);
      work.d[slot] = same_class_share * same - other_class_share * cross;
      work.e[slot] = other_class_share * cross;
      work.d_slope[slot] = same_class_share * same_slope - other_class_share * cross_slope;
      work.e_slope[slot] = other_class_share * cross_slope;
    }
  }
}

// One interval forward: next[L][j] = f_j (sum_K D[c] v[K][j] + E[c] V[K]).
void forward_step(const double* v, const double* d, const double* e, const double* factors,
                  double* next) {
  const int p = work.p;
  double* level_total = work.level_total.data();
  for (int k = 0; k < p; ++k) {
    const double* w = v + at(k, class_count, 0);
    level_total[k] = w[0] + w[1] + w[2];
  }
  for (int to = 0; to < p; ++to) {
    double sums[class_count] = {0.0, 0.0, 0.0};
    double spread = 0.0;
    for (int from = 0; from < p; ++from) {
      const std::size_t c = at(p - 1 + to - from);
      const double* w = v + at(from, class_count, 0);
      for (int j = 0; j < class_count; ++j) sums[j] += d[c] * w[j];
      spread += e[c] * level_total[from];
    }
    for (int j = 0; j < class_count; ++j) {
      next[at(to, class_count, j)] = factors[j] * (sums[j] + spread);
    }
  }
}

// One interval backward for interval t (1-based): accumulates dL/dD_t and
// dL/dE_t from the forward weights before the interval and beta after it,
// and leaves beta before the interval in work.next_beta.
void backward_step(int t, const double* v, const double* factors) {
  const int p = work.p;
  const std::size_t first = at(t - 1, work.offsets, 0);
  const double* d = work.d.data() + first;
  const double* e = work.e.data() + first;
  double* d_adjoint = work.d_adjoint.data() + first;
  double* e_adjoint = work.e_adjoint.data() + first;
  double* g = work.g.data();
  for (int to = 0; to < p; ++to) {
    double total = 0.0;
    for (int j = 0; j < class_count; ++j) {
      const std::size_t s = at(to, class_count, j);
      g[s] = factors[j] * work.beta[s];
      total += g[s];
    }
    work.g_total[at(to)] = total;
  }
  for (int from = 0; from < p; ++from) {
    const double* w = v + at(from, class_count, 0);
    const double level_total = w[0] + w[1] + w[2];
    double back[class_count] = {0.0, 0.0, 0.0};
    for (int to = 0; to < p; ++to) {
      const std::size_t c = at(p - 1 + to - from);
      const double* gt = g + at(to, class_count, 0);
      const double spread = e[c] * work.g_total[at(to)];
      for (int j = 0; j < class_count; ++j) back[j] += d[c] * gt[j] + spread;
      d_adjoint[c] += w[0] * gt[0] + w[1] * gt[1] + w[2] * gt[2];
      e_adjoint[c] += level_total * work.g_total[at(to)];
    }
    for (int j = 0; j < class_count; ++j) work.next_beta[at(from, class_count, j)] = back[j];
  }
  work.beta.swap(work.next_beta);
}

}  // namespace

double negative_log_likelihood_and_gradient(DoubleVector point, DoubleVector gradient) {
  const int p = model_order;
  const int n = interval_count;
  if (p < 1) return std::numeric_limits<double>::quiet_NaN();
  for (int t = 1; t <= n; ++t) gradient[t] = 0.0;
  if (observation_count <= 0) return 0.0;
  if (!rows_are_current()) build_distinct_rows();
  size_work(p, n);
  build_interval_coefficients(point);
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

  for (int t = 1; t <= n; ++t) {
    double slope = 0.0;
    for (int c = 0; c < work.offsets; ++c) {
      const std::size_t slot = at(t - 1, work.offsets, c);
      slope +=
          work.d_adjoint[slot] * work.d_slope[slot] + work.e_adjoint[slot] * work.e_slope[slot];
    }
    gradient[t] = -slope;
  }
  return total;
}

double negative_log_likelihood_and_gradient(const std::vector<double>& point,
                                            std::vector<double>& gradient) {
  const int n = static_cast<int>(point.size());
  std::vector<double> copy = point;
  gradient.assign(point.size(), 0.0);
  return negative_log_likelihood_and_gradient(DoubleVector{copy.data(), 1, n},
                                              DoubleVector{gradient.data(), 1, n});
}
