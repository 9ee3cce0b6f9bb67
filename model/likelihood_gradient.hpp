// The negative log-likelihood together with its exact gradient with respect
// to every interval parameter lambda_t, for searches that use derivatives.
//
// Conventions: the same model and observation table as
// negative_log_likelihood (the process-wide values), and its order unless
// one is given (the forms with p, for fits of several orders at once on
// several threads; each thread keeps its own working storage); parameters
// 1..n.  The
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
// Rows sharing a prefix share its forward steps (the rows are visited in
// lexicographic order with a stack of forward weights by depth); each
// distinct row counts once, weighted by how often it occurs.
#pragma once

#include <vector>

#include "foundation/index_ranged_arrays.hpp"

// Returns -log L at the point (entries 1..n) and writes its partial
// derivatives into gradient[1..n].  Where some observation has likelihood 0
// the value is +infinity and the gradient is not meaningful.
double negative_log_likelihood_and_gradient(DoubleVector point, DoubleVector gradient);

// The same over 0-based vectors (parameter t at index t - 1), the form the
// searches with derivatives take; `gradient` is resized to the point's size.
double negative_log_likelihood_and_gradient(const std::vector<double>& point,
                                            std::vector<double>& gradient);
double negative_log_likelihood_and_gradient(int p, const std::vector<double>& point,
                                            std::vector<double>& gradient);

// The model with an escape fraction q (see model/latent_state.hpp): the
// point holds x_1..x_n, then q (size n + 1).  x_t = 2p L_t keeps the
// meaning of the parameter above, the expected class moves of interval t
// times p, now shared between the counting process, lambda_t = (1 - q) x_t
// events, and the escape process, mu_t = q x_t / p moves.  The gradient has
// the same layout.  q outside [0, 1] gives NaN.  At q = 0 the value and the
// interval gradient are those of the function above, to the bit.
double negative_log_likelihood_and_gradient_with_escape(const std::vector<double>& point,
                                                        std::vector<double>& gradient);
double negative_log_likelihood_and_gradient_with_escape(int p, const std::vector<double>& point,
                                                        std::vector<double>& gradient);
