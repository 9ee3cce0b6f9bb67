// The gradient's class recursion over one part's prefix tree, a depth at a
// time, lane_width nodes in the lanes of each vector.
//
// The weights are stored class by class: class j (0..2, the twin pairs
// {1, 6}, {2, 5}, {3, 4}) at level K (0-based) is entry j p + K of a node's
// 3p.  One interval forward, with V[K] = sum_j v[j][K]:
//   pre[j][L] = sum_K D[p - 1 + L - K] v[j][K] + sum_K E[p - 1 + L - K] V[K]
//   alpha[j][L] = f_j pre[j][L]
// with D and E the interval's offset coefficients and f the class factors of
// the node's code.  Backward, from a node's adjoint beta = d(sum m log L) /
// d(alpha), with g = f beta and G[L] = sum_j g[j][L]:
//   dD[c] += sum_{L - K = c - p + 1} sum_j v[j][K] g[j][L],
//   dE[c] += sum_{L - K = c - p + 1} V[K] G[L],
//   parent[j][K] += sum_L D[p - 1 + L - K] g[j][L] + sum_L E[p - 1 + L - K] G[L].
// A node's adjoint is the sum of its children's steps back, so each node
// takes one step in each direction whatever the number of rows below it.
//
// The nodes of a depth share the interval's D and E, so they go through
// the step together, lane_width at a time: every coefficient loaded serves
// them all, whatever p is.  A part's bits depend on its tree alone: the
// children add into a parent in node order, and the adjoints' lanes are
// added in lane order at the end of each depth.
#pragma once

#include <cstddef>
#include <vector>

#include "model/observations.hpp"
#include "model/prefix_levels.hpp"

// One evaluation's coefficients, shared by every part.
struct ClassCoefficients {
  int p = 0;
  int offsets = 0;                  // 2p - 1
  const double* d = nullptr;        // n x offsets: interval t's D at (t - 1) offsets
  const double* e = nullptr;        // the same for E
  const double* factors = nullptr;  // code_row_count x 3: the class factors
  const double* initial = nullptr;  // 3p: the root's weights
  bool misreads = false;            // the slope in the error rate is wanted
};

// What one part's passes write.  The nodes' values are kept lane_width
// slots to a block, lane-major, so that a batch reads and writes its own
// as whole vectors: depth d's nodes take the slots slot_begin[d] + (node -
// node_begin[d]), each depth starting a block, and value i of slot s is
// entry (s / lane_width) 3p lane_width + i lane_width + s % lane_width.
struct ClassPasses {
  int p = 0;                                 // the order the passes are sized for
  bool misreads = false;                     // and whether they keep the pre-emission weights
  std::vector<std::size_t> slot_begin;       // per depth 0 .. n + 1
  std::vector<double> alpha;                 // the forward weights
  std::vector<double> pre_emission;          // with misreads: pre above
  std::vector<double> adjoint;               // beta above
  std::vector<double> d_adjoint, e_adjoint;  // n x offsets: dD and dE
  double error_adjoint = 0.0;                // d(sum m log L)/de, with misreads
  std::vector<double> scratch;               // the lanes of one batch
};

// Sizes `passes` for `part` at order p, the root's weights in place.
void size_class_passes(const PrefixPart& part, int n, const ClassCoefficients& coefficients,
                       ClassPasses& passes);

// The forward weights of every node below the root.
void class_forward_pass(const PrefixPart& part, int n, const ClassCoefficients& coefficients,
                        ClassPasses& passes);

// From the leaves' adjoints (set by the caller, every other node's zero):
// dD, dE and, with misreads, the slope in the error rate.  Every adjoint is
// zero again afterwards, ready for the next evaluation's leaves.
void class_backward_pass(const PrefixPart& part, int n, const ClassCoefficients& coefficients,
                         ClassPasses& passes);

// Leaf m (node node_begin[n] + m): the sum of its weights, in state order,
// and the setting of its adjoint's every entry.
double leaf_weight_sum(int n, const ClassPasses& passes, std::size_t m);
void set_leaf_adjoint(int n, ClassPasses& passes, std::size_t m, double value);
