// Our digests against OpenSSL's, byte for byte, over thousands of random
// messages and keys. OpenSSL is used here only as an independent oracle.
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/base64.h"
#include "core/hmac_sha1.h"
#include "core/sha1.h"
#include "core/sha1_blocks.h"
#include "core/sha256.h"
#include "tests/core/digest_corpus.h"

namespace kestrune::core {
namespace {

std::string RandomBytes(std::mt19937& rng, std::size_t length) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::string out(length, '\0');
  for (auto& c : out) c = static_cast<char>(byte(rng));
  return out;
}

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(DigestDifferentialTest, Sha1HmacAndBase64AgreeWithOpenSsl) {
  std::mt19937 rng(20161101);
  std::uniform_int_distribution<std::size_t> message_length(0, 5000);
  std::uniform_int_distribution<std::size_t> key_length(0, 200);
  for (int round = 0; round < 3000; ++round) {
    const std::string message = RandomBytes(rng, message_length(rng));
    const std::string key = RandomBytes(rng, key_length(rng));

    unsigned char expected_sha[SHA_DIGEST_LENGTH];
    SHA1(Bytes(message), message.size(), expected_sha);
    const Sha1Digest sha = Sha1(message);
    ASSERT_EQ(0, memcmp(sha.data(), expected_sha, sha.size())) << "round " << round;

    unsigned char expected_mac[EVP_MAX_MD_SIZE];
    unsigned int mac_length = 0;
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), Bytes(message), message.size(),
         expected_mac, &mac_length);
    const Sha1Digest mac = HmacSha1(key, message);
    ASSERT_EQ(mac_length, mac.size());
    ASSERT_EQ(0, memcmp(mac.data(), expected_mac, mac.size())) << "round " << round;

    std::string expected_base64(4 * ((message.size() + 2) / 3) + 1, '\0');
    int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(expected_base64.data()),
                                  Bytes(message), static_cast<int>(message.size()));
    expected_base64.resize(static_cast<std::size_t>(written));
    ASSERT_EQ(Base64Encode(message), expected_base64) << "round " << round;
  }
}

// Both block paths (the portable one and, where the processor has them, the
// SHA instructions), over lengths that end at and around block and padding
// edges as well as random ones.
TEST(DigestDifferentialTest, Sha256AndHmacSha256AgreeWithOpenSslOnEveryPath) {
  for (const Sha1Path path : {Sha1Path::kFastest, Sha1Path::kPortable}) {
    SelectSha1Path(path);
    std::mt19937 rng(20230518);
    std::uniform_int_distribution<std::size_t> message_length(0, 3000);
    std::uniform_int_distribution<std::size_t> key_length(0, 150);
    for (std::size_t round = 0; round < 1500; ++round) {
      const std::string message = RandomBytes(rng, round < 200 ? round : message_length(rng));
      const std::string key = RandomBytes(rng, key_length(rng));
      unsigned char expected[EVP_MAX_MD_SIZE];
      SHA256(Bytes(message), message.size(), expected);
      ASSERT_EQ(0, memcmp(Sha256(message).data(), expected, 32)) << "round " << round;
      unsigned int length = 0;
      HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), Bytes(message), message.size(),
           expected, &length);
      ASSERT_EQ(32u, length);
      ASSERT_EQ(LowerHex(HmacSha256(key, message)),
                testing::HexOf(std::string(reinterpret_cast<char*>(expected), 32)))
          << "round " << round;
    }
  }
  SelectSha1Path(Sha1Path::kFastest);
}

}  // namespace
}  // namespace kestrune::core

namespace kestrune::core {
namespace {

TEST(DigestDifferentialTest, OpenSslFingerprintOfTheSharedCorpus) {
  testing::DigestFunctions openssl{
      [](const std::string& m) {
        unsigned char out[SHA_DIGEST_LENGTH];
        SHA1(Bytes(m), m.size(), out);
        return std::string(reinterpret_cast<char*>(out), sizeof out);
      },
      [](const std::string& k, const std::string& m) {
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        HMAC(EVP_sha1(), k.data(), static_cast<int>(k.size()), Bytes(m), m.size(), out, &length);
        return std::string(reinterpret_cast<char*>(out), length);
      },
      [](const std::string& m) {
        std::string out(4 * ((m.size() + 2) / 3) + 1, '\0');
        int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), Bytes(m),
                                static_cast<int>(m.size()));
        out.resize(static_cast<std::size_t>(n));
        return out;
      }};
  const std::string outputs = testing::CorpusOutputs(openssl);
  unsigned char fingerprint[SHA_DIGEST_LENGTH];
  SHA1(Bytes(outputs), outputs.size(), fingerprint);
  EXPECT_EQ(testing::HexOf(std::string(reinterpret_cast<char*>(fingerprint), 20)),
            testing::kCorpusFingerprint);
}

}  // namespace
}  // namespace kestrune::core
