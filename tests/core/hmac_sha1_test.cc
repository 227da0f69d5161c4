#include "core/hmac_sha1.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/core/digest_corpus.h"

namespace kestrune::core {
namespace {

std::string Hex(const Sha1Digest& digest) {
  return testing::HexOf(std::string(digest.begin(), digest.end()));
}

std::string Repeat(char byte, std::size_t count) { return std::string(count, byte); }

// The seven HMAC-SHA1 test cases of RFC 2202, section 3.
TEST(HmacSha1Test, Rfc2202Cases) {
  EXPECT_EQ(Hex(HmacSha1(Repeat('\x0b', 20), "Hi There")),
            "b617318655057264e28bc0b6fb378c8ef146be00");
  EXPECT_EQ(Hex(HmacSha1("Jefe", "what do ya want for nothing?")),
            "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
  EXPECT_EQ(Hex(HmacSha1(Repeat('\xaa', 20), Repeat('\xdd', 50))),
            "125d7342b9ac11cd91a39af48aa17b4f63f175d3");
  std::string key4;
  for (int i = 1; i <= 25; ++i) key4.push_back(static_cast<char>(i));
  EXPECT_EQ(Hex(HmacSha1(key4, Repeat('\xcd', 50))), "4c9007f4026250c6bc8414f9bf50c86c2d7235da");
  EXPECT_EQ(Hex(HmacSha1(Repeat('\x0c', 20), "Test With Truncation")),
            "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04");
  EXPECT_EQ(
      Hex(HmacSha1(Repeat('\xaa', 80), "Test Using Larger Than Block-Size Key - Hash Key First")),
      "aa4ae5e15272d00e95705637ce8a3b55ed402112");
  EXPECT_EQ(Hex(HmacSha1(Repeat('\xaa', 80),
                         "Test Using Larger Than Block-Size Key and Larger Than One "
                         "Block-Size Data")),
            "e8e99d0f45237d786d6bbaa7965c7808bbff1a91");
}

TEST(HmacSha1Test, LongKeyEqualsItsDigestAsKey) {
  const std::string key = Repeat('\xaa', 80);
  const Sha1Digest hashed = Sha1(key);
  const std::string hashed_key(hashed.begin(), hashed.end());
  EXPECT_EQ(HmacSha1(key, "message"), HmacSha1(hashed_key, "message"));
  // A 64-byte key is used as it is, not hashed.
  const std::string block_key = Repeat('k', 64);
  const Sha1Digest block_hashed = Sha1(block_key);
  EXPECT_NE(HmacSha1(block_key, "m"),
            HmacSha1(std::string(block_hashed.begin(), block_hashed.end()), "m"));
}

TEST(HmacSha1Test, TheAmpersandBelongsToTheKey) {
  EXPECT_NE(HmacSha1("s&", "GET&%2F&x"), HmacSha1("s", "GET&%2F&x"));
}

TEST(HmacSha1Test, EmptyKeyIsAllowed) {
  // Computed with: printf '' | openssl dgst -sha1 -hmac ''
  EXPECT_EQ(Hex(HmacSha1("", "")), "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d");
}

}  // namespace
}  // namespace kestrune::core
