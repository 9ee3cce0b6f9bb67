#include "model/observations.hpp"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <numeric>

#include "model/emission.hpp"

int observation_count = 0;
int interval_count = 0;
ObservationTable observations;
int model_order = 0;
unsigned observation_generation = 0;

namespace {

// Code rows 0..3 packed two bits each into one 64-bit word.
constexpr int codes_per_word = 32;

std::size_t offset(int index, int stride) {
  return static_cast<std::size_t>(index) * static_cast<std::size_t>(stride);
}

}  // namespace

void set_observations(ObservationTable table, int count, int intervals) {
  observations = table;
  observation_count = count;
  interval_count = intervals;
  ++observation_generation;
}

TableStamp installed_table() {
  return TableStamp{0, observation_generation, observation_count, interval_count,
                    observations.origin};
}

HeldTable::HeldTable(const unsigned char* codes, int count, int n)
    : count_(count), n_(n), code_rows_(offset(count, n), 0) {
  static std::atomic<unsigned> held_tables{0};
  for (std::size_t k = 0; k < code_rows_.size(); ++k) {
    code_rows_[k] = static_cast<unsigned char>(code_row(codes[k]));
  }
  stamp_ = TableStamp{++held_tables, 0, count, n, nullptr};
}

std::vector<unsigned char> code_row_matrix() {
  const int count = observation_count;
  const int n = interval_count;
  std::vector<unsigned char> codes(offset(count, n), 0);
  for (int i = 0; i < count; ++i) {
    for (int t = 0; t < n; ++t) {
      codes[offset(i, n) + static_cast<std::size_t>(t)] =
          static_cast<unsigned char>(code_row(observations[i * n + t]));
    }
  }
  return codes;
}

// A code is two bits, so each row is packed into words of 32 codes, the
// first code in the highest bits: comparing the words in turn as numbers is
// comparing the codes in turn.  The words are then sorted by radix, a byte
// at a time from the last byte any row uses to the first; each pass is
// stable, so the passes together give the order of the whole rows, in time
// linear in the table.
std::vector<int> lexicographic_order(const std::vector<unsigned char>& codes, int count, int n) {
  const int words = (n + codes_per_word - 1) / codes_per_word;
  std::vector<std::uint64_t> packed(offset(count, words), 0);
  for (int i = 0; i < count; ++i) {
    for (int t = 0; t < n; ++t) {
      const unsigned char code = codes[offset(i, n) + static_cast<std::size_t>(t)];
      assert(code < 4);
      const int shift = 2 * (codes_per_word - 1 - t % codes_per_word);
      packed[offset(i, words) + static_cast<std::size_t>(t / codes_per_word)] |= std::uint64_t{code}
                                                                                 << shift;
    }
  }
  std::vector<int> order(static_cast<std::size_t>(count));
  std::iota(order.begin(), order.end(), 0);
  std::vector<int> sorted(order.size());
  std::vector<std::size_t> first(std::size_t{1} << 8);
  for (int w = words - 1; w >= 0; --w) {
    // The codes in word w fill its top 2 x used bits; the rest are zero.
    const int used = std::min(codes_per_word, n - w * codes_per_word);
    for (int shift = (64 - 2 * used) / 8 * 8; shift < 64; shift += 8) {
      auto digit = [&](int i) {
        return static_cast<std::size_t>(
            (packed[offset(i, words) + static_cast<std::size_t>(w)] >> shift) & 0xffu);
      };
      std::fill(first.begin(), first.end(), 0);
      for (const int i : order) ++first[digit(i)];
      std::size_t at = 0;
      for (std::size_t& slot : first) {
        const std::size_t here = slot;
        slot = at;
        at += here;
      }
      for (const int i : order) sorted[first[digit(i)]++] = i;
      order.swap(sorted);
    }
  }
  return order;
}
