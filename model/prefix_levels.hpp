// The distinct code rows of the observation table as a prefix tree, laid
// out one depth at a time for the forward recursion.
//
// The forward weights after t intervals depend only on the first t codes of
// a row, so every distinct prefix of length t is one node at depth t, and
// its weights are the forward step of its parent's weights (depth t - 1)
// through interval t's matrix, scored by its own code.  The root (depth 0)
// holds the starting weights; the nodes at depth n are the distinct rows.
//
// The rows are sorted lexicographically, which is depth-first preorder of
// the tree.  The distinct rows are split into parts of consecutive rows
// (one per thread at least, and small enough that a part's working depths
// stay in the processor's caches); each part gets its own tree of the prefixes of its rows,
// so the parts can be evaluated independently (a prefix shared by two parts
// is a node of both, computed twice with the same bits).
//
// Within a part and a depth the nodes are numbered by code, and within one
// code by their parent's number: nodes of one code, whose weights share the
// zeros the code's emission factors leave, are consecutive and can be
// batched, and a pass over them reads their parents in ascending order and
// writes their own results in ascending order, which the memory system
// streams.
#pragma once

#include <cstddef>
#include <vector>

// The emission row a root pretends to have: the root is grouped apart from
// every code when nodes are batched by code.
inline constexpr int root_code = 4;

struct PrefixPart {
  // Per depth d = 0..n: the first node of depth d in the flat arrays below;
  // node_begin[n + 1] is the node count.  Depth 0 is the root alone.
  std::vector<std::size_t> node_begin;
  std::vector<unsigned char> code;  // per node: its code row (root: root_code)
  std::vector<std::size_t> parent;  // per node: its parent (flat index; root: 0)
  std::vector<int> leaf_row;        // per node of depth n, from node_begin[n]: its distinct row

  std::size_t nodes_at(int depth) const {
    return node_begin[static_cast<std::size_t>(depth) + 1] -
           node_begin[static_cast<std::size_t>(depth)];
  }
};

struct PrefixLevels {
  int n = 0;
  std::vector<unsigned char> codes;    // observation_count rows of n code rows
  std::vector<int> distinct_row;       // per distinct row (preorder): an observation
  std::vector<int> distinct_index_of;  // per observation: its distinct row
  std::vector<PrefixPart> parts;
  long long forward_steps = 0;  // nodes below the root, over all parts
};

// Builds the levels of the rows codes[i * n .. i * n + n - 1], i < count,
// each a code row 0..3, split into parts of similar size: part_count of
// them, or more where a part would hold more than leaves_per_part distinct
// rows (never more parts than distinct rows).
void build_prefix_levels(std::vector<unsigned char> codes, int count, int n, int part_count,
                         int leaves_per_part, PrefixLevels& levels);

// One part's tree alone: distinct rows first .. last - 1 of `distinct_codes`
// (rows of n code rows in lexicographic order), shared_with_previous[r] the
// length of the prefix row r shares with row r - 1.
void build_prefix_part(const unsigned char* distinct_codes, int n,
                       const std::vector<int>& shared_with_previous, int first, int last,
                       PrefixPart& part);
