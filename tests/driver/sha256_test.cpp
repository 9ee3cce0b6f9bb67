// The digest that names a data file in the scan's summary, against the
// standard's own examples: one block, the padding that spills into a second
// block (56 bytes), and a message fed in pieces across block boundaries.
#include "driver/sha256.hpp"

#include <gtest/gtest.h>

#include <string>

TEST(Sha256, GivesTheStandardsDigestsWhereverThePaddingFalls) {
  Sha256 empty;
  EXPECT_EQ(empty.hex_digest(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  Sha256 abc;
  abc.add("abc");
  EXPECT_EQ(abc.hex_digest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  Sha256 whole;
  whole.add(two_blocks);
  EXPECT_EQ(whole.hex_digest(), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  Sha256 pieces;
  for (std::size_t k = 0; k < two_blocks.size(); k += 7) pieces.add(two_blocks.substr(k, 7));
  EXPECT_EQ(pieces.hex_digest(),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  Sha256 million;
  for (int k = 0; k < 1000; ++k) million.add(std::string(1000, 'a'));
  EXPECT_EQ(million.hex_digest(),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}
