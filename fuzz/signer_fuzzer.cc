// The signed request builder over arbitrary credentials, parameter items and
// instants, checked against the test-side reference signer (its own encoder,
// OpenSSL's HMAC-SHA1 and Base64).
//
// For every input:
//   - each item is accepted by the parameter list exactly when it is within
//     the list's limits;
//   - the build is refused exactly when an input breaks a limit or names a
//     parameter the builder writes itself, and a refusal for length only
//     comes when a stage of the reference's request text would reach the
//     request text limit;
//   - a built request carries only unreserved bytes and %XX escapes in its
//     query, decodes to the common parameters followed by the items in their
//     order, and its signature is the one the reference computes from what
//     was sent (so the service would accept it).
// Any mismatch aborts with both texts.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "request/clock.h"
#include "request/query.h"
#include "request/signer.h"
#include "tests/sim/reference_signer.h"

namespace {

namespace request = kestrune::request;
using kestrune::sim::testing::Params;
using kestrune::sim::testing::RefSignature;
using kestrune::sim::testing::RefStringToSign;

[[noreturn]] void Fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "mismatch: %s\n%.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decodes one name or value of the sent query. Only unreserved bytes may stand
// as they are: anything else would be read differently by some server.
bool StrictDecode(std::string_view text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return false;
      out.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else if (request::IsUnreserved(static_cast<unsigned char>(c))) {
      out.push_back(c);
    } else {
      return false;
    }
  }
  return true;
}

// Splits the query of the request line into decoded parameters (empty pieces,
// as the doubled "&" before Signature, carry nothing).
bool ParseSentQuery(std::string_view query, Params& params) {
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    const std::string_view piece = query.substr(start, end - start);
    if (!piece.empty()) {
      const std::size_t equals = piece.find('=');
      if (equals == std::string_view::npos) return false;
      std::string name;
      std::string value;
      if (!StrictDecode(piece.substr(0, equals), name) ||
          !StrictDecode(piece.substr(equals + 1), value)) {
        return false;
      }
      params.emplace_back(std::move(name), std::move(value));
    }
    start = end + 1;
  }
  return true;
}

std::string ExpectedTimestamp(const request::UtcInstant& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

bool ItemWithinLimits(std::string_view item, std::size_t items_so_far) {
  const std::size_t equals = item.find('=');
  return equals != std::string_view::npos && equals > 0 && item.size() < request::kItemLimit &&
         items_so_far < request::kMaxActionParameters;
}

const request::ServiceEndpoint kEndpoints[] = {
    {"ecs.aliyuncs.com", "Host: ecs.aliyuncs.com\r\n", "Version=2014-05-26"},
    {"iot.cn-shanghai.aliyuncs.com", "Host: iot.cn-shanghai.aliyuncs.com\r\n",
     "Version=2016-05-30"},
    {"apigateway.cn-hangzhou.aliyuncs.com", "Host: apigateway.cn-hangzhou.aliyuncs.com\r\n",
     "Version=2016-07-14"},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const request::ServiceEndpoint& endpoint =
      kEndpoints[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kEndpoints) - 1)];
  request::UtcInstant instant;
  instant.year = input.ConsumeIntegralInRange(0, 9999);
  instant.month = input.ConsumeIntegralInRange(1, 12);
  instant.day = input.ConsumeIntegralInRange(1, 31);
  instant.hour = input.ConsumeIntegralInRange(0, 23);
  instant.minute = input.ConsumeIntegralInRange(0, 59);
  instant.second = input.ConsumeIntegralInRange(0, 60);
  instant.millisecond = input.ConsumeIntegralInRange(0, 999);
  request::Credentials credentials;
  credentials.access_key_id = input.ConsumeRandomLengthString(request::kMaxAccessKeyIdLength + 8);
  credentials.access_key_secret =
      input.ConsumeRandomLengthString(request::kMaxAccessKeySecretLength + 8);

  request::ActionParameterList parameters;
  Params expected_items;
  const int wanted =
      input.ConsumeIntegralInRange(0, static_cast<int>(request::kMaxActionParameters) + 2);
  for (int i = 0; i < wanted; ++i) {
    const std::string item = input.ConsumeRandomLengthString(request::kItemLimit + 16);
    const bool within = ItemWithinLimits(item, parameters.size());
    const bool accepted = parameters.Append(item).ok();
    if (accepted != within) Fail("the parameter list's limit check", item);
    if (accepted) {
      const std::size_t equals = item.find('=');
      expected_items.emplace_back(item.substr(0, equals), item.substr(equals + 1));
    }
  }
  const request::FixedClock clock(instant);
  const auto built = request::BuildSignedRequest(credentials, endpoint, parameters, clock);

  // A parameter of the user's named like one the builder writes would collide
  // with it on the service's side: such a request must never be built.
  for (const auto& [name, value] : expected_items) {
    for (const std::string_view owned :
         {"AccessKeyId", "Format", "SignatureMethod", "SignatureNonce", "SignatureVersion",
          "Timestamp", "Version", "Signature"}) {
      if (name != owned) continue;
      if (built.ok()) Fail("a parameter the builder writes itself was accepted", built->text());
      return 0;
    }
  }
  const bool inputs_valid =
      credentials.access_key_id.size() <= request::kMaxAccessKeyIdLength &&
      credentials.access_key_secret.size() <= request::kMaxAccessKeySecretLength &&
      parameters.size() > 0;

  // What the reference would send and sign for these inputs.
  Params common = {{"AccessKeyId", credentials.access_key_id},
                   {"Format", "xml"},
                   {"SignatureMethod", "HMAC-SHA1"},
                   {"SignatureNonce", request::MakeNonce(clock)},
                   {"SignatureVersion", "1.0"},
                   {"Timestamp", ExpectedTimestamp(instant)},
                   {"Version", endpoint.version_item.substr(endpoint.version_item.find('=') + 1)}};
  Params all = common;
  all.insert(all.end(), expected_items.begin(), expected_items.end());
  const std::string reference_to_sign = RefStringToSign(all);

  if (!built.ok()) {
    if (!inputs_valid) return 0;
    // Valid inputs may only be refused for length: the string to sign is the
    // longest stage but one, the sent request the other candidate.
    // An upper bound: the signature item is at most "&Signature=" and 28
    // characters escaped to three bytes each.
    std::size_t sent_length = 6 + 11 + endpoint.host_line.size() + 21 + 11 + 3 * 28;
    for (const auto& [name, value] : all) {
      sent_length += kestrune::sim::testing::RefEncode(name).size() +
                     kestrune::sim::testing::RefEncode(value).size() + 2;
    }
    if (reference_to_sign.size() < request::kRequestTextLimit &&
        sent_length < request::kRequestTextLimit) {
      Fail("a request within every limit was refused", built.status().message());
    }
    return 0;
  }
  if (!inputs_valid) Fail("a request beyond a limit was built", built->text());

  const std::string text = built->text();
  if (text.size() >= request::kRequestTextLimit) Fail("a request over the text limit", text);
  const std::string_view prefix = "GET /?";
  const std::string_view line_end = " HTTP/1.1\r\n";
  const std::size_t query_end = text.find(line_end);
  if (text.rfind(prefix, 0) != 0 || query_end == std::string::npos) {
    Fail("a malformed request line", text);
  }
  const std::string headers = endpoint.host_line + "Connection: close\r\n\r\n";
  if (text.substr(query_end + line_end.size()) != headers) Fail("unexpected header lines", text);

  Params sent;
  if (!ParseSentQuery(std::string_view(text).substr(prefix.size(), query_end - prefix.size()),
                      sent)) {
    Fail("an undecodable or unsafe query", text);
  }
  // The common items, then Signature, then the action's items in order.
  if (sent.size() != all.size() + 1 || sent[common.size()].first != "Signature") {
    Fail("unexpected parameters", text);
  }
  const std::string sent_signature = sent[common.size()].second;
  sent.erase(sent.begin() + static_cast<std::ptrdiff_t>(common.size()));
  if (sent != all) Fail("the parameters sent differ from those given", text);

  if (built->string_to_sign != reference_to_sign) {
    Fail("the string to sign differs from the reference's",
         built->string_to_sign + "\n" + reference_to_sign);
  }
  if (sent_signature !=
      RefSignature(std::string(credentials.access_key_secret.view()), reference_to_sign)) {
    Fail("the reference rejects the signature", text);
  }
  return 0;
}
