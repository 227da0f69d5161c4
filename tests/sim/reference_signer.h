// Test-side reference signer for signature version 1.0, written separately
// from the simulator's (its own encoder; OpenSSL for HMAC-SHA1 and Base64), so
// a fault in one cannot hide behind the same fault in the other.
#pragma once

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kestrune::sim::testing {

using Params = std::vector<std::pair<std::string, std::string>>;

inline std::string RefEncode(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) != 0 && c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      char buffer[4];
      std::snprintf(buffer, sizeof buffer, "%%%02X", c);
      out += buffer;
    }
  }
  return out;
}

inline std::string RefCanonical(Params params) {
  std::sort(params.begin(), params.end());
  std::string out;
  for (const auto& [name, value] : params) {
    if (name == "Signature") continue;
    if (!out.empty()) out += "&";
    out += RefEncode(name) + "=" + RefEncode(value);
  }
  return out;
}

inline std::string RefStringToSign(const Params& params) {
  return "GET&%2F&" + RefEncode(RefCanonical(params));
}

inline std::string RefSignature(const std::string& secret, const std::string& string_to_sign) {
  const std::string key = secret + "&";
  unsigned char digest[20];
  unsigned int length = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(string_to_sign.data()), string_to_sign.size(), digest,
       &length);
  unsigned char text[64] = {};
  const int n = EVP_EncodeBlock(text, digest, static_cast<int>(length));
  return std::string(reinterpret_cast<char*>(text), static_cast<std::size_t>(n));
}

// The common parameters of a request, to be completed with the action's own.
inline Params CommonParams(const std::string& key_id, const std::string& action,
                           const std::string& version, const std::string& timestamp,
                           const std::string& nonce) {
  return {{"AccessKeyId", key_id},          {"Action", action},        {"Format", "XML"},
          {"SignatureMethod", "HMAC-SHA1"}, {"SignatureNonce", nonce}, {"SignatureVersion", "1.0"},
          {"Timestamp", timestamp},         {"Version", version}};
}

// Signs and returns the query to send: the parameters in the given order
// (each encoded), then Signature.
inline std::string SignedQuery(const Params& params, const std::string& secret) {
  const std::string signature = RefSignature(secret, RefStringToSign(params));
  std::string out;
  for (const auto& [name, value] : params) {
    out += RefEncode(name) + "=" + RefEncode(value) + "&";
  }
  return out + "Signature=" + RefEncode(signature);
}

}  // namespace kestrune::sim::testing
