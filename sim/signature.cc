#include "sim/signature.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>

namespace kestrune::sim {
namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '~';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

core::Result<std::string> PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%') {
      if (i + 2 >= text.size()) {
        return core::Status::Error("truncated escape");
      }
      const int hi = HexValue(text[i + 1]);
      const int lo = HexValue(text[i + 2]);
      if (hi < 0 || lo < 0) return core::Status::Error("bad escape");
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

core::Result<std::vector<QueryParam>> ParseQuery(std::string_view raw_query) {
  std::vector<QueryParam> params;
  std::size_t start = 0;
  while (start <= raw_query.size()) {
    std::size_t end = raw_query.find('&', start);
    if (end == std::string_view::npos) end = raw_query.size();
    const std::string_view segment = raw_query.substr(start, end - start);
    start = end + 1;
    if (segment.empty()) continue;
    const std::size_t eq = segment.find('=');
    const std::string_view raw_name = segment.substr(0, eq);
    const std::string_view raw_value =
        eq == std::string_view::npos ? std::string_view() : segment.substr(eq + 1);
    auto name = PercentDecode(raw_name);
    if (!name.ok()) return core::Status::Error(std::string(raw_name));
    auto value = PercentDecode(raw_value);
    if (!value.ok()) return core::Status::Error(*name);
    params.push_back({std::move(name).value(), std::move(value).value()});
  }
  return params;
}

std::string CanonicalQuery(const std::vector<QueryParam>& params) {
  std::vector<const QueryParam*> sorted;
  sorted.reserve(params.size());
  for (const QueryParam& p : params) {
    if (p.name != "Signature") sorted.push_back(&p);
  }
  std::stable_sort(sorted.begin(), sorted.end(), [](const QueryParam* a, const QueryParam* b) {
    if (a->name != b->name) return a->name < b->name;
    return a->value < b->value;
  });
  std::string out;
  for (const QueryParam* p : sorted) {
    if (!out.empty()) out.push_back('&');
    out += PercentEncode(p->name);
    out.push_back('=');
    out += PercentEncode(p->value);
  }
  return out;
}

std::string StringToSign(std::string_view method, std::string_view canonical_query) {
  std::string out(method);
  out += "&%2F&";
  out += PercentEncode(canonical_query);
  return out;
}

std::string ComputeSignature(std::string_view secret, std::string_view string_to_sign) {
  std::string key(secret);
  key.push_back('&');
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_length = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(string_to_sign.data()), string_to_sign.size(), digest,
       &digest_length);
  unsigned char encoded[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
  const int encoded_length = EVP_EncodeBlock(encoded, digest, static_cast<int>(digest_length));
  return std::string(reinterpret_cast<const char*>(encoded),
                     static_cast<std::size_t>(encoded_length));
}

std::string Base64(std::string_view data) {
  std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(data.data()),
                                static_cast<int>(data.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

core::Result<V3Authorization> ParseV3Authorization(std::string_view header) {
  constexpr std::string_view kPrefix = "ACS3-HMAC-SHA256 ";
  if (!header.starts_with(kPrefix)) return core::Status::Error("not ACS3-HMAC-SHA256");
  header.remove_prefix(kPrefix.size());
  V3Authorization parsed;
  bool has_credential = false, has_names = false, has_signature = false;
  while (!header.empty()) {
    const std::size_t comma = header.find(',');
    std::string_view part = header.substr(0, comma);
    header = comma == std::string_view::npos ? std::string_view() : header.substr(comma + 1);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    const std::size_t eq = part.find('=');
    if (eq == std::string_view::npos) return core::Status::Error("malformed");
    const std::string_view name = part.substr(0, eq);
    const std::string_view value = part.substr(eq + 1);
    if (name == "Credential") {
      parsed.credential = std::string(value);
      has_credential = true;
    } else if (name == "SignedHeaders") {
      has_names = true;
      for (std::size_t start = 0; start <= value.size();) {
        std::size_t end = value.find(';', start);
        if (end == std::string_view::npos) end = value.size();
        parsed.signed_headers.emplace_back(value.substr(start, end - start));
        start = end + 1;
      }
    } else if (name == "Signature") {
      parsed.signature = std::string(value);
      has_signature = true;
    }
  }
  if (!has_credential || !has_names || !has_signature) return core::Status::Error("incomplete");
  return parsed;
}

std::string Sha256Hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out.push_back(kHex[digest[i] >> 4]);
    out.push_back(kHex[digest[i] & 0x0F]);
  }
  return out;
}

std::string V3CanonicalRequest(std::string_view method, std::string_view canonical_query,
                               const std::vector<std::pair<std::string, std::string>>& headers,
                               std::string_view body_hash) {
  std::string out(method);
  out += "\n/\n";
  out += canonical_query;
  out += '\n';
  std::string names;
  for (const auto& [name, value] : headers) {
    out += name;
    out += ':';
    out += value;
    out += '\n';
    if (!names.empty()) names += ';';
    names += name;
  }
  out += '\n';
  out += names;
  out += '\n';
  out += body_hash;
  return out;
}

std::string V3Signature(std::string_view secret, std::string_view canonical_request) {
  const std::string to_sign = "ACS3-HMAC-SHA256\n" + Sha256Hex(canonical_request);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
       reinterpret_cast<const unsigned char*>(to_sign.data()), to_sign.size(), digest, &length);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out.push_back(kHex[digest[i] >> 4]);
    out.push_back(kHex[digest[i] & 0x0F]);
  }
  return out;
}

bool SignaturesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return diff == 0;
}

}  // namespace kestrune::sim
