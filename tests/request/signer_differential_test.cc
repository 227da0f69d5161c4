// Checks the builder against an independent signer written from the
// service's published rules, with OpenSSL computing the HMAC and Base64: the
// query we send is parsed back, decoded, re-canonicalised and re-signed the way
// the service does it, and both the parameters and the signature must match.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "request/signer.h"
#include "request/signer_v3.h"
#include "tests/support/secret_audit.h"

namespace kestrune::request {
namespace {

using Params = std::vector<std::pair<std::string, std::string>>;

std::string ServiceEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == '~';
    if (unreserved) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Strict decoding: a "%" must start a valid escape, and anything a browser or
// server would read differently ("+", raw space, raw non-ASCII) is an error.
bool Decode(const std::string& text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      int high = HexValue(text[i + 1]);
      int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return false;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else if (c <= 0x20 || c >= 0x7F || c == '+' || c == '&' || c == '=' || c == '#' || c == '?') {
      return false;
    } else {
      out += static_cast<char>(c);
    }
  }
  return true;
}

std::string ReferenceSignature(const std::string& secret, Params params,
                               const std::string& method = "GET") {
  std::stable_sort(params.begin(), params.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string canonical;
  for (const auto& [name, value] : params) {
    if (!canonical.empty()) canonical += '&';
    canonical += ServiceEncode(name) + "=" + ServiceEncode(value);
  }
  const std::string to_sign = method + "&" + ServiceEncode("/") + "&" + ServiceEncode(canonical);
  const std::string key = secret + "&";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_length = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(to_sign.data()), to_sign.size(), digest,
       &digest_length);
  unsigned char base64[64] = {};
  const int length = EVP_EncodeBlock(base64, digest, static_cast<int>(digest_length));
  return std::string(reinterpret_cast<char*>(base64), static_cast<std::size_t>(length));
}

// Splits the request line's query, or a POST's form body, into decoded
// parameters. Empty pieces (the doubled "&" before Signature) carry nothing,
// as on the server.
bool ParseRequest(const std::string& request, Params& params, std::string& error) {
  const std::string prefix = "GET /?";
  const std::size_t line_end = request.find(" HTTP/1.1\r\n");
  const std::size_t head_end = request.find("\r\n\r\n");
  std::string query;
  if (request.rfind("POST / HTTP/1.1\r\n", 0) == 0 && head_end != std::string::npos) {
    query = request.substr(head_end + 4);
    const std::string length = "\r\nContent-Length: " + std::to_string(query.size()) + "\r\n";
    const std::string type = "\r\nContent-Type: application/x-www-form-urlencoded\r\n";
    if (request.find(length) > head_end || request.find(type) > head_end) {
      error = "POST without its form body's headers";
      return false;
    }
  } else if (request.rfind(prefix, 0) == 0 && line_end != std::string::npos) {
    query = request.substr(prefix.size(), line_end - prefix.size());
  } else {
    error = "bad request line";
    return false;
  }
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string piece = query.substr(start, end - start);
    if (!piece.empty()) {
      const std::size_t equals = piece.find('=');
      if (equals == std::string::npos) {
        error = "piece without '=': " + piece;
        return false;
      }
      std::string name;
      std::string value;
      if (!Decode(piece.substr(0, equals), name) || !Decode(piece.substr(equals + 1), value)) {
        error = "undecodable piece: " + piece;
        return false;
      }
      params.emplace_back(name, value);
    }
    start = end + 1;
  }
  return true;
}

std::string RandomValue(std::mt19937& rng) {
  static const char* kChinese[] = {"\xE4\xB8\xAD", "\xE6\x96\x87", "\xE6\xB5\x8B",
                                   "\xE8\xAF\x95", "\xE5\x8C\x97", "\xE4\xBA\xAC"};
  std::uniform_int_distribution<int> length(0, 16);
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_int_distribution<int> printable(0x20, 0x7E);
  std::uniform_int_distribution<int> chinese(0, 5);
  std::string value;
  for (int i = length(rng); i > 0; --i) {
    int k = kind(rng);
    if (k == 0) {
      value += ' ';
    } else if (k == 1) {
      value += kChinese[chinese(rng)];
    } else {
      value += static_cast<char>(printable(rng));
    }
  }
  return value;
}

const char* const kNames[] = {"RegionId",      "InstanceId", "InstanceName", "Description",
                              "ZoneId",        "PageSize",   "PageNumber",   "Tag.1.Key",
                              "Tag.1.Value",   "Tag2",       "Tag",          "DeviceName.1",
                              "DeviceName.2",  "GroupName",  "StageName",    "MessageContent",
                              "TopicFullName", "CurrenPage", "ApiIds",       "UserData"};

TEST(SignerDifferentialTest, RandomParameterSetsMatchAReferenceSigner) {
  std::mt19937 rng(20240305);
  std::uniform_int_distribution<int> count(0, 8);
  std::uniform_int_distribution<int> ms(0, 999);
  const ServiceEndpoint endpoint{"ecs.aliyuncs.com", "Host: ecs.aliyuncs.com\r\n",
                                 "Version=2014-05-26"};
  // Every secret starts with this mark, so one audit covers them all.
  const std::string secret_mark = "dfsecret";
  testsupport::SecretAudit audit({secret_mark});
  int built = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> names(std::begin(kNames), std::end(kNames));
    std::shuffle(names.begin(), names.end(), rng);
    names.resize(static_cast<std::size_t>(count(rng)));

    Params expected = {{"Action", "Describe" + std::to_string(round)}};
    for (const std::string& name : names) expected.emplace_back(name, RandomValue(rng));
    ActionParameterList list;
    for (const auto& [name, value] : expected) {
      ASSERT_TRUE(list.Append(name + "=" + value).ok());
    }
    const Credentials key{"id-" + RandomValue(rng).substr(0, 10), secret_mark + RandomValue(rng)};
    if (key.access_key_secret.size() > kMaxAccessKeySecretLength) continue;
    FixedClock clock(UtcInstant{2024, 12, 31, 23, 59, 59, ms(rng)});

    // Every third request is a POST, and one in a hundred carries user data
    // too long for a GET, which must turn into a POST by itself.
    const bool post = round % 3 == 0;
    if (round % 100 == 1) {
      ASSERT_TRUE(list.Append("Payload=" + std::string(6000, 'u')).ok());
      expected.emplace_back("Payload", std::string(6000, 'u'));
    }
    const bool long_one = round % 100 == 1;
    core::Result<SignedRequest> request = BuildSignedRequest(
        key, endpoint, list, clock, post ? HttpMethod::kPost : HttpMethod::kAuto);
    ASSERT_TRUE(request.ok()) << request.status().message();
    ++built;
    audit.CheckText("the request", request->text());
    audit.CheckText("the string to sign", request->string_to_sign);

    Params sent;
    std::string error;
    ASSERT_TRUE(ParseRequest(request->text(), sent, error)) << error << "\n" << request->text();
    auto signature = std::find_if(sent.begin(), sent.end(),
                                  [](const auto& p) { return p.first == "Signature"; });
    ASSERT_NE(signature, sent.end());
    const std::string sent_signature = signature->second;
    sent.erase(signature);

    Params all = {{"AccessKeyId", key.access_key_id}, {"Format", "xml"},
                  {"SignatureMethod", "HMAC-SHA1"},   {"SignatureNonce", MakeNonce(clock)},
                  {"SignatureVersion", "1.0"},        {"Timestamp", "2024-12-31T23:59:59Z"},
                  {"Version", "2014-05-26"}};
    all.insert(all.end(), expected.begin(), expected.end());
    ASSERT_EQ(sent, all) << request->text();

    EXPECT_EQ(request->method, post || long_one ? HttpMethod::kPost : HttpMethod::kGet);
    EXPECT_EQ(sent_signature, ReferenceSignature(std::string(key.access_key_secret.view()), sent,
                                                 post || long_one ? "POST" : "GET"))
        << request->text() << "\n"
        << request->string_to_sign;
    EXPECT_EQ(request->signature, sent_signature);
  }
  EXPECT_GT(built, 2500);
  audit.Finish();
}

std::string OpenSslHex(const unsigned char* bytes, unsigned length) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < length; ++i) {
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 15];
  }
  return out;
}

std::string OpenSslSha256Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
  return OpenSslHex(digest, length);
}

// The canonical requests written out by hand from the published rules, then
// hashed and keyed by OpenSSL: a GET with temporary credentials, and a POST
// whose form body carries the query.
TEST(SignerDifferentialTest, VersionThreeMatchesAReferenceSigner) {
  const ServiceEndpoint endpoint{"ecs.cn-hangzhou.aliyuncs.com",
                                 "Host: ecs.cn-hangzhou.aliyuncs.com\r\n", "Version=2014-05-26"};
  ActionParameterList list;
  for (const char* item : {"Action=DescribeInstances", "RegionId=cn-hangzhou",
                           "InstanceName=web 1/\xE4\xB8\xAD*~", "PageSize=10"}) {
    ASSERT_TRUE(list.Append(item).ok());
  }
  const std::string query =
      "Format=xml&InstanceName=web%201%2F%E4%B8%AD%2A~&PageSize=10&RegionId=cn-hangzhou";
  for (const bool post : {false, true}) {
    const Credentials key{"LTAI-test", "v3-secret", post ? "" : "sts-token"};
    const std::string body_hash = OpenSslSha256Hex(post ? query : "");
    const std::string token_header = post ? "" : "x-acs-security-token:sts-token\n";
    const std::string names = post ? "host;x-acs-action;x-acs-content-sha256;x-acs-date;"
                                     "x-acs-signature-nonce;x-acs-version"
                                   : "host;x-acs-action;x-acs-content-sha256;x-acs-date;"
                                     "x-acs-security-token;x-acs-signature-nonce;x-acs-version";
    const std::string canonical =
        std::string(post ? "POST" : "GET") + "\n/\n" + (post ? "" : query) +
        "\nhost:ecs.cn-hangzhou.aliyuncs.com\nx-acs-action:DescribeInstances\n"
        "x-acs-content-sha256:" +
        body_hash + "\nx-acs-date:2024-03-01T08:09:10Z\n" + token_header +
        "x-acs-signature-nonce:nonce-1\nx-acs-version:2014-05-26\n\n" + names + "\n" + body_hash;
    const std::string to_sign = "ACS3-HMAC-SHA256\n" + OpenSslSha256Hex(canonical);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned mac_length = 0;
    HMAC(EVP_sha256(), key.access_key_secret.data(), static_cast<int>(key.access_key_secret.size()),
         reinterpret_cast<const unsigned char*>(to_sign.data()), to_sign.size(), mac, &mac_length);
    const std::string signature = OpenSslHex(mac, mac_length);

    core::Result<SignedRequest> built =
        BuildV3SignedRequestWith(key, endpoint, list, "nonce-1", "2024-03-01T08:09:10Z",
                                 post ? HttpMethod::kPost : HttpMethod::kAuto);
    ASSERT_TRUE(built.ok()) << built.status().message();
    EXPECT_EQ(built->canonical_request, canonical);
    EXPECT_EQ(built->signature, signature);
    const std::string text = built->text();
    EXPECT_EQ(text.rfind(post ? "POST / HTTP/1.1\r\n" : "GET /?" + query + " HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(text.find("\r\nAuthorization: ACS3-HMAC-SHA256 Credential=LTAI-test,SignedHeaders=" +
                        names + ",Signature=" + signature + "\r\n"),
              std::string::npos);
    EXPECT_EQ(text.find("Action="), std::string::npos);
    EXPECT_EQ(text.ends_with("\r\n\r\n" + query), post);
  }
  // A line break in the id would forge headers: refused, nothing built.
  EXPECT_FALSE(BuildV3SignedRequestWith({"id\r\nX-Evil: 1", "s"}, endpoint, list, "n",
                                        "2024-03-01T08:09:10Z")
                   .ok());
}

}  // namespace
}  // namespace kestrune::request
