#include "request/signer_v3.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "core/sha256.h"

namespace kestrune::request {
namespace {

using namespace std::string_view_literals;

// The hex SHA-256 of nothing: the body of every GET.
constexpr std::string_view kEmptyBodyHash =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// The signed header names, joined, without and with a security token: the
// set is fixed, so the list is too.
constexpr std::string_view kSignedNames =
    "host;x-acs-action;x-acs-content-sha256;x-acs-date;x-acs-signature-nonce;x-acs-version";
constexpr std::string_view kSignedNamesWithToken =
    "host;x-acs-action;x-acs-content-sha256;x-acs-date;x-acs-security-token;"
    "x-acs-signature-nonce;x-acs-version";

constexpr std::size_t kHexDigestLength = 64;

// The Authorization field's value up to the AccessKey id, in one piece.
constexpr std::string_view kAuthorizationHead = "ACS3-HMAC-SHA256 Credential=";
static_assert(kAuthorizationHead.starts_with(kV3Algorithm));

// The bytes RFC 3986 leaves as they are.
constexpr std::array<bool, 256> kUnreserved = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[c] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.' || c == '~';
  }
  return table;
}();

bool FitsHeaderValue(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char ch) {
    const auto byte = static_cast<unsigned char>(ch);
    return byte < 0x20 || byte == 0x7F;
  });
}

struct Header {
  std::string_view name;  // lower case, as signed
  std::string_view value;
};

using QueryPair = std::pair<std::string_view, std::string_view>;

// Most requests carry a handful of parameters: their list stays on the stack.
constexpr std::size_t kStackQueryPairs = 8;

}  // namespace

std::optional<SignatureVersion> ParseSignatureVersion(std::string_view text) {
  if (text == "v1") return SignatureVersion::kV1;
  if (text == "v3") return SignatureVersion::kV3;
  return std::nullopt;
}

void AppendPercentEncoded(std::string_view text, std::string& out) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  // Runs of bytes that stay as they are go in whole.
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (kUnreserved[byte]) continue;
    out.append(text.data() + run, i - run);
    const char escaped[3] = {'%', kDigits[byte >> 4], kDigits[byte & 0x0F]};
    out.append(escaped, sizeof escaped);
    run = i + 1;
  }
  out.append(text.data() + run, text.size() - run);
}

core::Result<SignedRequest> BuildV3SignedRequestWith(const Credentials& credentials,
                                                     const ServiceEndpoint& endpoint,
                                                     const ActionParameterList& parameters,
                                                     std::string_view nonce, std::string_view date,
                                                     HttpMethod method, ReplyFormat format) {
  if (core::Status status = CheckSigningInputs(credentials, parameters); !status.ok()) {
    return status;
  }
  if (!FitsHeaderValue(credentials.access_key_id) || !FitsHeaderValue(credentials.security_token)) {
    return core::Status::InvalidInput(
        "the AccessKey id or the security token holds a control character, which no header may "
        "carry");
  }
  // The action names itself in a header; the rest go in the query.
  std::array<QueryPair, kStackQueryPairs> stack_pairs;
  std::vector<QueryPair> heap_pairs;
  QueryPair* query = stack_pairs.data();
  if (parameters.size() + 1 > stack_pairs.size()) {
    heap_pairs.resize(parameters.size() + 1);
    query = heap_pairs.data();
  }
  std::size_t query_count = 0;
  // Every byte escaped and every item joined: no encoded query is longer.
  std::size_t encoded_bound = 0;
  std::string_view action;
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const std::string_view item = parameters.items()[i];
    const std::size_t name_length = parameters.shapes()[i].name_length;
    const std::string_view name = item.substr(0, name_length);
    const std::string_view value = item.substr(std::min(item.size(), name_length + 1));
    if (name == "Action") {
      action = value;
    } else {
      query[query_count++] = {name, value};
      encoded_bound += 3 * item.size() + 2;
    }
  }
  if (action.empty() || !FitsHeaderValue(action)) {
    return core::Status::InvalidInput("a version 3 request needs an Action parameter");
  }
  query[query_count++] = {"Format", format == ReplyFormat::kJson ? "JSON" : "xml"};
  encoded_bound += 12;
  std::sort(query, query + query_count);

  const bool token = !credentials.security_token.empty();
  const std::string_view signed_names = token ? kSignedNamesWithToken : kSignedNames;
  const std::string_view version =
      std::string_view(endpoint.version_item).substr(endpoint.version_item.find('=') + 1);
  SignedRequest result;
  std::string& canonical = result.canonical_request;
  // The canonical request holds the query of a GET; a POST's goes in its
  // body, hashed for the canonical request, whose query is then empty.
  canonical.reserve(encoded_bound + endpoint.host.size() + action.size() + date.size() +
                    credentials.security_token.size() + nonce.size() + version.size() +
                    2 * signed_names.size() + 2 * kHexDigestLength + 16);
  std::string form_body;
  // The query goes in place, as a GET has it; a POST moves it to its body.
  canonical += "GET\n/\n"sv;
  const std::size_t query_start = canonical.size();
  for (std::size_t i = 0; i < query_count; ++i) {
    if (i > 0) canonical += '&';
    AppendPercentEncoded(query[i].first, canonical);
    canonical += '=';
    AppendPercentEncoded(query[i].second, canonical);
  }
  const std::size_t query_size = canonical.size() - query_start;
  if (query_size >= kRequestTextLimit) {
    return core::Status::InvalidInput("the request would be over its limit of " +
                                      std::to_string(kRequestTextLimit) + " bytes");
  }
  if (method == HttpMethod::kAuto) {
    method = query_size + 16 >= kMaxGetRequestLine ? HttpMethod::kPost : HttpMethod::kGet;
  }
  const bool post = method == HttpMethod::kPost;
  std::array<char, kHexDigestLength> body_hash_digits;
  std::string_view body_hash = kEmptyBodyHash;
  if (post) {
    form_body.assign(canonical, query_start, query_size);
    canonical.assign("POST\n/\n"sv);
    core::WriteLowerHex(core::Sha256(form_body), body_hash_digits);
    body_hash = std::string_view(body_hash_digits.data(), body_hash_digits.size());
  }
  canonical += '\n';

  // In order of their names, as the canonical request lists them.
  std::array<Header, 7> headers;
  std::size_t header_count = 0;
  headers[header_count++] = {"host", endpoint.host};
  headers[header_count++] = {"x-acs-action", action};
  headers[header_count++] = {"x-acs-content-sha256", body_hash};
  headers[header_count++] = {"x-acs-date", date};
  if (token) headers[header_count++] = {"x-acs-security-token", credentials.security_token};
  headers[header_count++] = {"x-acs-signature-nonce", nonce};
  headers[header_count++] = {"x-acs-version", version};
  for (std::size_t i = 0; i < header_count; ++i) {
    canonical += headers[i].name;
    canonical += ':';
    canonical += headers[i].value;
    canonical += '\n';
  }
  canonical += '\n';
  canonical += signed_names;
  canonical += '\n';
  canonical += body_hash;

  // "ACS3-HMAC-SHA256\n" and the hex digest; each string is allocated once.
  std::array<char, kHexDigestLength> hex;
  core::WriteLowerHex(core::Sha256(canonical), hex);
  std::string& to_sign = result.string_to_sign;
  to_sign.reserve(kV3Algorithm.size() + 1 + hex.size());
  to_sign += kV3Algorithm;
  to_sign += '\n';
  to_sign.append(hex.data(), hex.size());
  core::WriteLowerHex(core::HmacSha256(credentials.access_key_secret, to_sign), hex);
  result.signature.assign(hex.data(), hex.size());
  result.method = method;

  const std::string_view query_text =
      post ? std::string_view(form_body)
           : std::string_view(canonical).substr(query_start, query_size);
  HttpRequest& http = result.http;
  http.fields.reserve(header_count + 1);
  http.method = post ? "POST" : "GET";
  http.form = query_text;
  if (!endpoint.host_line.empty()) http.fields.push_back(FieldOfLine(endpoint.host_line));
  for (std::size_t i = 1; i < header_count; ++i) {
    http.fields.push_back({std::string(headers[i].name), std::string(headers[i].value)});
  }
  std::string authorization(kAuthorizationHead);
  authorization += credentials.access_key_id;
  authorization += ",SignedHeaders="sv;
  authorization += signed_names;
  authorization += ",Signature="sv;
  authorization += result.signature;
  http.fields.push_back({"Authorization", std::move(authorization)});
  return result;
}

core::Result<SignedRequest> BuildSignedRequestAs(SignatureVersion version,
                                                 const Credentials& credentials,
                                                 const ServiceEndpoint& endpoint,
                                                 const ActionParameterList& parameters,
                                                 const Clock& clock, HttpMethod method,
                                                 ReplyFormat format) {
  if (version == SignatureVersion::kV1) {
    return BuildSignedRequest(credentials, endpoint, parameters, clock, method, format);
  }
  const RequestStamps stamps(clock.NowUtc(), clock.NonceSalt());
  // The sent timestamp with its colons back, "YYYY-MM-DDTHH:MM:SSZ", on the
  // stack.
  const std::string_view url_form = stamps.url_form();
  std::array<char, kUrlTimestampLength> date{};
  std::size_t date_size = 0;
  for (std::size_t i = 0; i < url_form.size() && date_size < date.size(); ++i) {
    if (url_form.substr(i, 3) == "%3A") {
      date[date_size++] = ':';
      i += 2;
    } else {
      date[date_size++] = url_form[i];
    }
  }
  return BuildV3SignedRequestWith(credentials, endpoint, parameters, stamps.nonce(),
                                  std::string_view(date.data(), date_size), method, format);
}

}  // namespace kestrune::request
