#include "driver/sha256.hpp"

#include <cstdio>
#include <cstring>

namespace {

// The first 32 bits of the fractional parts of the cube roots of the first
// 64 primes.
constexpr std::uint32_t round_constants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotate_right(std::uint32_t x, int bits) {
  return (x >> bits) | (x << (32 - bits));
}

}  // namespace

Sha256::Sha256()
    // The first 32 bits of the fractional parts of the square roots of the
    // first 8 primes.
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19},
      block_{} {}

void Sha256::compress(const unsigned char* block) {
  std::uint32_t w[64];
  for (std::size_t t = 0; t < 16; ++t) {
    w[t] = (std::uint32_t{block[4 * t]} << 24) | (std::uint32_t{block[4 * t + 1]} << 16) |
           (std::uint32_t{block[4 * t + 2]} << 8) | std::uint32_t{block[4 * t + 3]};
  }
  for (int t = 16; t < 64; ++t) {
    const std::uint32_t s0 =
        rotate_right(w[t - 15], 7) ^ rotate_right(w[t - 15], 18) ^ (w[t - 15] >> 3);
    const std::uint32_t s1 =
        rotate_right(w[t - 2], 17) ^ rotate_right(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  std::uint32_t v[8];
  std::memcpy(v, state_, sizeof v);
  for (int t = 0; t < 64; ++t) {
    const std::uint32_t e = v[4];
    const std::uint32_t a = v[0];
    const std::uint32_t s1 = rotate_right(e, 6) ^ rotate_right(e, 11) ^ rotate_right(e, 25);
    const std::uint32_t choice = (e & v[5]) ^ (~e & v[6]);
    const std::uint32_t first = v[7] + s1 + choice + round_constants[t] + w[t];
    const std::uint32_t s0 = rotate_right(a, 2) ^ rotate_right(a, 13) ^ rotate_right(a, 22);
    const std::uint32_t majority = (a & v[1]) ^ (a & v[2]) ^ (v[1] & v[2]);
    for (int k = 7; k > 0; --k) v[k] = v[k - 1];
    v[4] += first;
    v[0] = first + s0 + majority;
  }
  for (int k = 0; k < 8; ++k) state_[k] += v[k];
}

void Sha256::add(std::string_view bytes) {
  total_bytes_ += bytes.size();
  for (const char c : bytes) {
    block_[filled_++] = static_cast<unsigned char>(c);
    if (filled_ == sizeof block_) {
      compress(block_);
      filled_ = 0;
    }
  }
}

std::string Sha256::hex_digest() {
  // The padding: a one bit, zeros, and the message length in bits as a
  // 64-bit big-endian number, filling the last block.
  const std::uint64_t bits = total_bytes_ * 8;
  unsigned char padding[72] = {0x80};
  const std::size_t zeros = (filled_ < 56 ? 56 : 120) - filled_;
  for (int k = 0; k < 8; ++k) {
    padding[zeros + static_cast<std::size_t>(k)] = static_cast<unsigned char>(bits >> (56 - 8 * k));
  }
  add(std::string_view(reinterpret_cast<const char*>(padding), zeros + 8));
  std::string hex;
  for (const std::uint32_t word : state_) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(word));
    hex += digits;
  }
  return hex;
}
