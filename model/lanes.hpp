// One vector register's worth of doubles, and the element-by-element
// operations the vectorised recursions build on.
#pragma once

#include <cstddef>
#include <cstring>

// Doubles per vector lane group, the width of the widest vector register
// (AVX-512); transition rows and weight vectors are padded to a multiple.
inline constexpr int lane_width = 8;

// GCC and clang get their vector extension, whose arithmetic is element by
// element with the IEEE operations of scalar code (and, with
// contraction off, never fuses a multiply and an add): it keeps a block's
// accumulators in registers where GCC's vectoriser would shuffle plain
// arrays.  Any other compiler, and the test build that proves this path
// (INTERVAL_PLAIN_LANES), gets plain fixed-size arrays in loops of known
// length, which it vectorises as it can; the bits are the same.
#if defined(__GNUC__) && !defined(INTERVAL_PLAIN_LANES)
typedef double Lanes __attribute__((vector_size(sizeof(double) * std::size_t{lane_width})));

[[gnu::always_inline]] inline void load_lanes(Lanes& lanes, const double* from) {
  std::memcpy(&lanes, from, sizeof lanes);
}
[[gnu::always_inline]] inline void store_lanes(double* to, const Lanes& lanes) {
  std::memcpy(to, &lanes, sizeof lanes);
}
// acc[k] += w row[k], a multiply then an add
[[gnu::always_inline]] inline void add_products(Lanes& accumulator, double weight,
                                                const Lanes& row) {
  accumulator = accumulator + weight * row;
}
// product[k] = a[k] b[k]
[[gnu::always_inline]] inline void multiply_lanes(Lanes& product, const Lanes& a, const Lanes& b) {
  product = a * b;
}
// acc[k] += x[k]
[[gnu::always_inline]] inline void add_lanes(Lanes& accumulator, const Lanes& x) {
  accumulator = accumulator + x;
}
#else
struct Lanes {
  double lane[lane_width];
};

[[gnu::always_inline]] inline void load_lanes(Lanes& lanes, const double* from) {
  for (int k = 0; k < lane_width; ++k) lanes.lane[k] = from[k];
}
[[gnu::always_inline]] inline void store_lanes(double* to, const Lanes& lanes) {
  for (int k = 0; k < lane_width; ++k) to[k] = lanes.lane[k];
}
// acc[k] += w row[k], a multiply then an add
[[gnu::always_inline]] inline void add_products(Lanes& accumulator, double weight,
                                                const Lanes& row) {
  for (int k = 0; k < lane_width; ++k) accumulator.lane[k] += weight * row.lane[k];
}
// product[k] = a[k] b[k]
[[gnu::always_inline]] inline void multiply_lanes(Lanes& product, const Lanes& a, const Lanes& b) {
  for (int k = 0; k < lane_width; ++k) product.lane[k] = a.lane[k] * b.lane[k];
}
// acc[k] += x[k]
[[gnu::always_inline]] inline void add_lanes(Lanes& accumulator, const Lanes& x) {
  for (int k = 0; k < lane_width; ++k) accumulator.lane[k] += x.lane[k];
}
#endif

// The operations both kinds of lanes share, written with the ones above.
// acc[k] += a[k] b[k], a multiply then an add
[[gnu::always_inline]] inline void add_lane_products(Lanes& accumulator, const Lanes& a,
                                                     const Lanes& b) {
  Lanes product;
  multiply_lanes(product, a, b);
  add_lanes(accumulator, product);
}
