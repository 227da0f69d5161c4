#include "core/sha1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/sha1_blocks.h"
#include "tests/core/digest_corpus.h"

namespace kestrune::core {
namespace {

std::string Hex(const Sha1Digest& digest) {
  return testing::HexOf(std::string(digest.begin(), digest.end()));
}

// Every vector runs on the portable code and on the fastest path this
// processor offers (the SHA instructions where it has them).
class Sha1Test : public ::testing::TestWithParam<Sha1Path> {
 protected:
  void SetUp() override { SelectSha1Path(GetParam()); }
  void TearDown() override { SelectSha1Path(Sha1Path::kFastest); }
};

INSTANTIATE_TEST_SUITE_P(Paths, Sha1Test,
                         ::testing::Values(Sha1Path::kPortable, Sha1Path::kFastest),
                         [](const ::testing::TestParamInfo<Sha1Path>& path) {
                           return path.param == Sha1Path::kPortable ? "Portable" : "Fastest";
                         });

// The two compression functions agree block for block from any state, over
// runs of 1 to 9 blocks of varied bytes.
TEST(Sha1BlocksTest, HardwareMatchesPortable) {
  const Sha1BlockFunction hardware = Sha1BlocksHardware();
  if (hardware == nullptr) GTEST_SKIP() << "this processor has no SHA instructions";
  std::string data(9 * 64, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + i / 7);
  for (std::size_t count = 1; count <= 9; ++count) {
    std::uint32_t a[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u,
                          static_cast<std::uint32_t>(0xC3D2E1F0u + count)};
    std::uint32_t b[5] = {a[0], a[1], a[2], a[3], a[4]};
    const auto* blocks = reinterpret_cast<const std::uint8_t*>(data.data());
    Sha1BlocksPortable(a, blocks, count);
    hardware(b, blocks, count);
    EXPECT_TRUE(std::equal(a, a + 5, b)) << count << " blocks";
  }
}

// Example messages from FIPS 180-4 and its published examples.
TEST_P(Sha1Test, Fips180Examples) {
  EXPECT_EQ(Hex(Sha1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Hex(Sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Hex(Sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(Hex(Sha1("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmn"
                     "hijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu")),
            "a49b2446a02c645bf419f995b67091253a04a259");
}

TEST_P(Sha1Test, OneMillionA) {
  Sha1Context context;
  std::string chunk(1000, 'a');
  for (int i = 0; i < 1000; ++i) context.Update(chunk);
  EXPECT_EQ(Hex(context.Finish()), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

// Reference digests of runs of 'a' around the padding boundaries, computed
// with `printf 'a%.0s' {1..N} | sha1sum`.
TEST_P(Sha1Test, PaddingBoundaries) {
  EXPECT_EQ(Hex(Sha1(std::string(55, 'a'))), "c1c8bbdc22796e28c0e15163d20899b65621d65a");
  EXPECT_EQ(Hex(Sha1(std::string(56, 'a'))), "c2db330f6083854c99d4b5bfb6e8f29f201be699");
  EXPECT_EQ(Hex(Sha1(std::string(64, 'a'))), "0098ba824b5c16427bd7a1122a5a442a25ec644d");
}

TEST_P(Sha1Test, PiecewiseFeedingMatchesOneShot) {
  std::string message;
  for (int i = 0; i < 1000; ++i) message.push_back(static_cast<char>(i * 7 + 3));
  const Sha1Digest whole = Sha1(message);
  for (std::size_t piece : {1u, 63u, 64u, 65u, 7u, 127u}) {
    Sha1Context context;
    for (std::size_t at = 0; at < message.size(); at += piece) {
      context.Update(std::string_view(message).substr(at, piece));
    }
    EXPECT_EQ(context.Finish(), whole) << "piece size " << piece;
  }
  // Odd, uneven splits.
  Sha1Context context;
  std::size_t at = 0;
  for (std::size_t piece = 1; at < message.size(); piece = piece * 3 % 101 + 1) {
    context.Update(std::string_view(message).substr(at, piece));
    at += piece;
  }
  EXPECT_EQ(context.Finish(), whole);
}

TEST_P(Sha1Test, ResetStartsAFreshDigest) {
  Sha1Context context;
  context.Update("garbage that must be forgotten");
  context.Reset();
  context.Update("abc");
  EXPECT_EQ(Hex(context.Finish()), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

}  // namespace
}  // namespace kestrune::core

#include "core/base64.h"
#include "core/hmac_sha1.h"
#include "tests/core/digest_corpus.h"

namespace kestrune::core {
namespace {

// The same corpus fingerprint the Linux build checks with OpenSSL: this is how
// the Windows builds prove they digest exactly as Linux does.
TEST(Sha1Test, OurFingerprintOfTheSharedCorpus) {
  testing::DigestFunctions ours{[](const std::string& m) {
                                  Sha1Digest d = Sha1(m);
                                  return std::string(d.begin(), d.end());
                                },
                                [](const std::string& k, const std::string& m) {
                                  Sha1Digest d = HmacSha1(k, m);
                                  return std::string(d.begin(), d.end());
                                },
                                [](const std::string& m) { return Base64Encode(m); }};
  Sha1Digest fingerprint = Sha1(testing::CorpusOutputs(ours));
  EXPECT_EQ(testing::HexOf(std::string(fingerprint.begin(), fingerprint.end())),
            testing::kCorpusFingerprint);
}

}  // namespace
}  // namespace kestrune::core
