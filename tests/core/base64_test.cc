#include "core/base64.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrune::core {
namespace {

// RFC 4648, section 10.
TEST(Base64Test, Rfc4648Vectors) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("f"), "Zg==");
  EXPECT_EQ(Base64Encode("fo"), "Zm8=");
  EXPECT_EQ(Base64Encode("foo"), "Zm9v");
  EXPECT_EQ(Base64Encode("foob"), "Zm9vYg==");
  EXPECT_EQ(Base64Encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
}

TEST(Base64Test, TwentyBytesGiveTwentySevenCharactersAndOneFill) {
  std::string digest(20, '\xff');
  std::string encoded = Base64Encode(digest);
  ASSERT_EQ(encoded.size(), 28u);
  EXPECT_EQ(encoded.back(), '=');
  EXPECT_EQ(encoded.find('='), 27u);
  EXPECT_EQ(encoded, "//////////////////////////8=");
}

TEST(Base64Test, UsesTheStandardAlphabetWithoutLineBreaks) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  std::string encoded = Base64Encode(all + all + all);
  EXPECT_EQ(encoded.find('\n'), std::string::npos);
  EXPECT_NE(encoded.find('+'), std::string::npos);
  EXPECT_NE(encoded.find('/'), std::string::npos);
  EXPECT_EQ(encoded.size(), 1024u);
}

}  // namespace
}  // namespace kestrune::core
