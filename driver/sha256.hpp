// SHA-256 (FIPS 180-4) of a file, for the provenance of a result: the
// summary names each data file by its digest, so that a reader can tell
// later whether a file is still the one that was fitted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class Sha256 {
 public:
  Sha256();
  void add(std::string_view bytes);
  // The digest of everything added, as 64 lower-case hexadecimal digits.
  // The object is spent afterwards.
  std::string hex_digest();

 private:
  void compress(const unsigned char* block);

  std::uint32_t state_[8];
  unsigned char block_[64];
  std::size_t filled_ = 0;         // bytes in block_
  std::uint64_t total_bytes_ = 0;  // added so far
};
