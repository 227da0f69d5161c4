// The service's side of signature version 1.0 (HMAC-SHA1), written from the
// service's canonicalisation rules and OpenSSL's HMAC, so that a fault in the
// client's own signer cannot be mirrored here.
//
// Stateless; safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/status.h"

namespace kestrune::sim {

struct QueryParam {
  std::string name;
  std::string value;
};

// UTF-8 bytes; A-Z a-z 0-9 - _ . ~ unchanged, every other byte as %XX with
// upper-case hex (space is %20, never "+").
std::string PercentEncode(std::string_view text);

// Decodes %XX escapes; "+" reads as a space, as the service's form decoder
// does (SDKs that send form-encoded queries rely on it). A "%" not followed by
// two hex digits is an error.
core::Result<std::string> PercentDecode(std::string_view text);

// Splits a raw query ("a=1&b=2") into decoded parameters, in arrival order.
// Empty segments (as in "x=1&&y=2") are skipped; a segment without "=" is a
// parameter with an empty value. On a bad escape the error message is the
// (raw) name of the offending parameter.
core::Result<std::vector<QueryParam>> ParseQuery(std::string_view raw_query);

// Every parameter except Signature, sorted by name and then by value (byte
// order), each encoded, joined as name=value with "&".
std::string CanonicalQuery(const std::vector<QueryParam>& params);

// method + "&%2F&" + PercentEncode(canonical_query).
std::string StringToSign(std::string_view method, std::string_view canonical_query);

// Base64(HMAC-SHA1(key = secret + "&", string_to_sign)).
std::string ComputeSignature(std::string_view secret, std::string_view string_to_sign);

// Standard Base64 with "=" padding.
std::string Base64(std::string_view data);

// Compares in time that depends only on the lengths.
bool SignaturesEqual(std::string_view a, std::string_view b);

// The service's side of version 3 (ACS3-HMAC-SHA256).
struct V3Authorization {
  std::string credential;                   // the AccessKey id
  std::vector<std::string> signed_headers;  // lower case, as listed
  std::string signature;                    // hex
};
// Reads "ACS3-HMAC-SHA256 Credential=..,SignedHeaders=a;b,Signature=.."; an
// error for anything else.
core::Result<V3Authorization> ParseV3Authorization(std::string_view header);
// Lower-case hex of the SHA-256 of `data`.
std::string Sha256Hex(std::string_view data);
// METHOD\n/\n canonical query \n "name:value\n"... \n names;joined \n body
// hash, over `headers` (lower-case names, in the order listed).
std::string V3CanonicalRequest(std::string_view method, std::string_view canonical_query,
                               const std::vector<std::pair<std::string, std::string>>& headers,
                               std::string_view body_hash);
// Hex HMAC-SHA256 under the secret of "ACS3-HMAC-SHA256\n" + Sha256Hex(canonical).
std::string V3Signature(std::string_view secret, std::string_view canonical_request);

}  // namespace kestrune::sim
