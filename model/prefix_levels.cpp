#include "model/prefix_levels.hpp"

#include <algorithm>
#include <numeric>

#include "model/observations.hpp"

namespace {

std::size_t offset(int index, int stride) {
  return static_cast<std::size_t>(index) * static_cast<std::size_t>(stride);
}

// Length of the common prefix of two code rows of length n.
int common_prefix(const unsigned char* a, const unsigned char* b, int n) {
  int depth = 0;
  while (depth < n && a[depth] == b[depth]) ++depth;
  return depth;
}

// The part's tree over distinct rows [first, last).  In preorder, a row
// whose common prefix with the previous row of the part is `shared` adds
// one node at each depth shared + 1 .. n, the child of the newest node one
// depth up.  Then each depth is renumbered by (code, parent's new number),
// keeping preorder among equals.
// row(r) gives distinct row r's codes.
template <typename RowOf>
void build_part(RowOf row_of, int n, const std::vector<int>& shared_with_previous, int first,
                int last, PrefixPart& part) {
  const auto depths = static_cast<std::size_t>(n) + 1;
  std::vector<std::vector<unsigned char>> codes_at(depths);
  std::vector<std::vector<std::size_t>> parent_at(depths);
  codes_at[0].push_back(static_cast<unsigned char>(root_code));
  parent_at[0].push_back(0);
  for (int r = first; r < last; ++r) {
    const unsigned char* row = row_of(r);
    const int shared = r == first ? 0 : shared_with_previous[static_cast<std::size_t>(r)];
    for (int d = shared + 1; d <= n; ++d) {
      const auto depth = static_cast<std::size_t>(d);
      codes_at[depth].push_back(row[d - 1]);
      parent_at[depth].push_back(codes_at[depth - 1].size() - 1);
    }
  }

  part.node_begin.assign(depths + 1, 0);
  for (std::size_t depth = 0; depth < depths; ++depth) {
    part.node_begin[depth + 1] = part.node_begin[depth] + codes_at[depth].size();
  }
  const std::size_t nodes = part.node_begin[depths];
  part.code.assign(nodes, 0);
  part.parent.assign(nodes, 0);
  part.code[0] = static_cast<unsigned char>(root_code);

  std::vector<std::size_t> number_above(1, 0);  // preorder index -> new number, one depth up
  std::vector<std::size_t> order;
  std::vector<std::size_t> number;
  for (std::size_t depth = 1; depth < depths; ++depth) {
    const std::vector<unsigned char>& codes = codes_at[depth];
    const std::vector<std::size_t>& parents = parent_at[depth];
    order.resize(codes.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      if (codes[a] != codes[b]) return codes[a] < codes[b];
      return number_above[parents[a]] < number_above[parents[b]];
    });
    number.assign(codes.size(), 0);
    for (std::size_t m = 0; m < order.size(); ++m) {
      number[order[m]] = m;
      part.code[part.node_begin[depth] + m] = codes[order[m]];
      part.parent[part.node_begin[depth] + m] =
          part.node_begin[depth - 1] + number_above[parents[order[m]]];
    }
    number_above.swap(number);
  }
  // The leaves in preorder are the part's distinct rows in order.
  part.leaf_row.assign(codes_at[depths - 1].size(), 0);
  for (std::size_t m = 0; m < order.size() && n > 0; ++m) {
    part.leaf_row[m] = first + static_cast<int>(order[m]);
  }
}

}  // namespace

void build_prefix_part(const unsigned char* distinct_codes, int n,
                       const std::vector<int>& shared_with_previous, int first, int last,
                       PrefixPart& part) {
  build_part([distinct_codes, n](int r) { return distinct_codes + offset(r, n); }, n,
             shared_with_previous, first, last, part);
}

void build_prefix_levels(std::vector<unsigned char> codes, int count, int n, int part_count,
                         int leaves_per_part, PrefixLevels& levels) {
  levels.n = n;
  levels.codes = std::move(codes);
  const unsigned char* rows = levels.codes.data();
  auto row = [rows, n](int i) { return rows + offset(i, n); };

  // Lexicographic order of the code rows is depth-first preorder of their
  // prefix tree; equal rows end up next to each other.
  const std::vector<int> order = lexicographic_order(levels.codes, count, n);

  levels.distinct_row.clear();
  levels.distinct_index_of.assign(static_cast<std::size_t>(count), 0);
  std::vector<int> shared_with_previous;
  for (std::size_t r = 0; r < order.size(); ++r) {
    const int i = order[r];
    const int shared = r == 0 ? -1 : common_prefix(row(order[r - 1]), row(i), n);
    if (shared < n) {
      levels.distinct_row.push_back(i);
      shared_with_previous.push_back(shared < 0 ? 0 : shared);
    }
    levels.distinct_index_of[static_cast<std::size_t>(i)] =
        static_cast<int>(levels.distinct_row.size()) - 1;
  }

  // Parts of similar cost: a row costs the nodes it adds.
  const int distinct = static_cast<int>(levels.distinct_row.size());
  long long total = 0;
  for (int r = 0; r < distinct; ++r) total += n - shared_with_previous[static_cast<std::size_t>(r)];
  const int leaves = std::max(1, leaves_per_part);
  const int for_size = distinct <= leaves ? 1 : (distinct - 1) / leaves + 1;
  const int parts = std::max(1, std::min(std::max(part_count, for_size), distinct));
  levels.parts.assign(static_cast<std::size_t>(parts), PrefixPart{});
  levels.forward_steps = 0;
  int first = 0;
  long long done = 0;
  for (int k = 0; k < parts; ++k) {
    int last = first;
    const long long goal = total * (k + 1) / parts;
    if (k == parts - 1) {
      last = distinct;
    } else {
      while (last < distinct && (last == first || done < goal)) {
        done += n - shared_with_previous[static_cast<std::size_t>(last)];
        ++last;
      }
    }
    PrefixPart& part = levels.parts[static_cast<std::size_t>(k)];
    build_part(
        [&levels, n](int r) {
          return levels.codes.data() + offset(levels.distinct_row[static_cast<std::size_t>(r)], n);
        },
        n, shared_with_previous, first, last, part);
    levels.forward_steps += static_cast<long long>(part.code.size()) - 1;
    first = last;
  }
}
