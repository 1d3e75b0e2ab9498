// SHA-256 in pieces: known digests, any split of the bytes gives the same
// digest, and taking a digest leaves the state to carry on.
#include <gtest/gtest.h>

#include <string>

#include "velmo/file/Sha256Hasher.h"

namespace velmo {
namespace {

TEST(Sha256HasherTest, KnownDigestsInAnySplit) {
  EXPECT_EQ(Sha256Hex(Sha256Of("", 0)),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  const std::string abc = "abc";
  EXPECT_EQ(Sha256Hex(Sha256Of(abc.data(), abc.size())),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  const std::string expected = "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";
  for (std::size_t split = 0; split <= text.size(); ++split) {
    Sha256Hasher hasher;
    hasher.Update(text.data(), split);
    EXPECT_EQ(Sha256Hex(hasher.DigestWith(text.data() + split, text.size() - split)), expected)
        << split;
    hasher.Update(text.data() + split, text.size() - split);
    EXPECT_EQ(Sha256Hex(hasher.Digest()), expected) << split;
  }
}

TEST(Sha256HasherTest, DigestsLeaveTheStateAndCopiesCarryOnAlone) {
  Sha256Hasher hasher;
  hasher.Update("ab", 2);
  const Sha256Digest prefix = hasher.Digest();
  EXPECT_EQ(hasher.Digest(), prefix);
  EXPECT_EQ(hasher.DigestWith("c", 1), Sha256Of("abc", 3));
  EXPECT_EQ(hasher.Digest(), prefix);  // DigestWith took nothing in

  Sha256Hasher copy(hasher);
  copy.Update("c", 1);
  EXPECT_EQ(copy.Digest(), Sha256Of("abc", 3));
  EXPECT_EQ(hasher.Digest(), prefix);
  hasher = copy;
  EXPECT_EQ(hasher.Digest(), Sha256Of("abc", 3));
  hasher.Reset();
  EXPECT_EQ(hasher.Digest(), Sha256Of("", 0));
}

}  // namespace
}  // namespace velmo
