// A fixed, pseudo-random corpus of messages and keys, digested into one
// fingerprint. The Linux build checks the fingerprint of OpenSSL's SHA-1,
// HMAC-SHA1 and Base64 against kCorpusFingerprint, and every build (the
// Windows ones under Wine included) checks ours against the same value, so
// all platforms are proven to compute the same digests.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>

namespace kestrune::core::testing {

// Hex SHA-1 of the concatenated outputs below, as OpenSSL computes them.
inline constexpr const char* kCorpusFingerprint = "adc6a5cca7ec976d00f86209427c36bdfb2bf452";

struct DigestFunctions {
  std::function<std::string(const std::string&)> sha1;                      // 20 raw bytes
  std::function<std::string(const std::string&, const std::string&)> hmac;  // key, message
  std::function<std::string(const std::string&)> base64;
};

inline std::string CorpusOutputs(const DigestFunctions& f) {
  // mt19937's sequence is fixed by the standard; no distribution objects,
  // whose results may differ between standard libraries.
  std::mt19937 rng(180);
  std::string outputs;
  for (int round = 0; round < 400; ++round) {
    std::string message(rng() % 3000, '\0');
    for (auto& c : message) c = static_cast<char>(rng() & 0xFF);
    std::string key(rng() % 100, '\0');
    for (auto& c : key) c = static_cast<char>(rng() & 0xFF);
    outputs += f.sha1(message);
    outputs += f.hmac(key, message);
    outputs += f.base64(message.substr(0, 64));
  }
  return outputs;
}

inline std::string HexOf(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

}  // namespace kestrune::core::testing
