// The negative log-likelihood together with its exact gradient with respect
// to every interval parameter lambda_t, for searches that use derivatives.
//
// Conventions: the same model and observation table as
// negative_log_likelihood (the process-wide values), at the order p given,
// so that several orders can be fitted at once on several threads (each
// thread keeps its own working storage); parameter t at index t - 1.  The
// value agrees with negative_log_likelihood to rounding, not bit for bit:
// the fitting program's numbers come from that function alone.
//
// Method.  The initial weights and every emission factor are the same for a
// sub-state and its twin, and every transition treats twins alike, so twins
// always carry equal weight and the chain can be followed per level K and
// class j (three classes) instead of per state: 3p numbers instead of 6p.
// A class j at level K sends to level L, with c = p + L - K,
//   to the same class       2 S_t[c]                 (a -> a and a -> twin)
//   to each other class     C_t[c] / 2               (two of the four others)
// where S_t and C_t are the offset sums of the transition matrix.  Writing
// D = 2S - C/2, E = C/2 and V[K] = sum_j v[K][j], one interval is
//   v'[L][j] = f_j (sum_K D[c] v[K][j] + E[c] V[K])
// with f_j the emission factor of the interval's code for class j.
//
// Forward weights alpha_t and backward weights beta_t = dL/d(alpha_t) of
// each distinct code row give, for every interval t and offset c,
//   dL/dD_t[c] = sum_{K, L: c} sum_j alpha_{t-1}[K][j] f_j beta_t[L][j]
//   dL/dE_t[c] = sum_{K, L: c} V_{t-1}[K] sum_j f_j beta_t[L][j]
// and the chain rule through the offset sums, with
//   dP(lambda, k)/dlambda = P(lambda, k - 1) - P(lambda, k),  P(lambda, -1) = 0,
// gives d(-log L)/dlambda_t = -(1/L) sum_c (dL/dD_t[c] dD_t[c]/dlambda_t
//                                          + dL/dE_t[c] dE_t[c]/dlambda_t).
// Rows sharing a prefix share its forward step, and its backward step too:
// the backward weights of a prefix are the sum of those its rows send
// back, so each node of the rows' prefix tree takes one step each way
// (model/gradient_passes.hpp, a depth at a time, several nodes per
// vector); each distinct row counts once, weighted by how often it occurs.
//
// The distinct rows are cut into parts of consecutive rows, each with its
// own prefix tree and its own sums of dL/dD and dL/dE, and the parts run
// on the worker threads (foundation/worker_threads.hpp; inside a task of
// an outer parallel run, such as the scan's orders, they run in order on
// that task's thread).  The rows' terms are then added in row order and
// the parts' sums in part order.  The cut depends on the table, the order
// and the part size only, so the bits do not depend on the thread count.
#pragma once

#include <vector>

#include "model/observations.hpp"

// The rows are cut into parts of about this many multiply-adds, and never
// more than max_gradient_parts.  Tests set a small value to cut small
// tables into many parts; evaluations that follow use the new cut.
inline constexpr long long default_gradient_part_work = 1LL << 18;
inline constexpr int max_gradient_parts = 64;
void set_gradient_part_work(long long multiply_adds);

// Returns -log L at order p and the point (parameter t at index t - 1) and
// writes its partial derivatives into `gradient`, resized to the point's
// size.  Where some observation has likelihood 0 the value is +infinity
// and the gradient is not meaningful.
double negative_log_likelihood_and_gradient(int p, const std::vector<double>& point,
                                            std::vector<double>& gradient);

// The model with an escape fraction q (see model/latent_state.hpp): the
// point holds x_1..x_n, then q (size n + 1).  x_t = 2p L_t keeps the
// meaning of the parameter above, the expected class moves of interval t
// times p, now shared between the counting process, lambda_t = (1 - q) x_t
// events, and the escape process, mu_t = q x_t / p moves.  The gradient has
// the same layout.  q outside [0, 1] gives NaN.  At q = 0 the value and the
// interval gradient are those of the function above, to the bit.
double negative_log_likelihood_and_gradient_with_escape(int p, const std::vector<double>& point,
                                                        std::vector<double>& gradient);

// The coordinates a point holds after x_1..x_n, in this order.
struct ModelTerms {
  bool escape = false;    // q, as above
  bool misreads = false;  // the error rate e (model/emission.hpp)
};

// The model with the terms asked for: the point holds x_1..x_n, then q when
// `escape`, then e when `misreads`, and the gradient has the same layout.
// Each R or N reading is the other with probability e: the R and N factors
// of a class become e or 1 - e, so with
//   A_t[j] = sum_L pre_t[L][j] beta_t[L][j],
// pre_t the forward weights of interval t before its factors, the slope is
//   dL/de = sum_t s_t (A_t[{1, 6}] - A_t[{2, 5}] + A_t[{3, 4}]),
// s_t = +1 at an R, -1 at an N and 0 elsewhere.  e outside [0, 1/2] (or q
// outside [0, 1]) gives NaN.  At e = 0 the value and the other coordinates'
// gradient are those without misreads, to the bit.
double negative_log_likelihood_and_gradient(int p, ModelTerms terms,
                                            const std::vector<double>& point,
                                            std::vector<double>& gradient);

// The same for a table held apart from the installed one.
double negative_log_likelihood_and_gradient(const HeldTable& table, int p, ModelTerms terms,
                                            const std::vector<double>& point,
                                            std::vector<double>& gradient);

// Several tables fitted together, each with lengths of its own and with q
// and e in common: the point holds the first table's x_1..x_n, then the
// next table's and so on, then q and e as `terms` asks.  -log L is the sum
// of the tables' values, and the gradient in q and e the sum of theirs,
// added in table order; the tables are evaluated on the worker threads.
double negative_log_likelihood_and_gradient(const std::vector<const HeldTable*>& tables, int p,
                                            ModelTerms terms, const std::vector<double>& point,
                                            std::vector<double>& gradient);

// Drops the work the calling thread keeps for `table`, which it will not
// evaluate again (each thread keeps the work of the tables it evaluated
// last, up to a few dozen).
void forget_gradient_work(const HeldTable& table);
