#include "request/signer_v3.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "core/sha256.h"

namespace kestrune::request {
namespace {

// The hex SHA-256 of nothing: the body of every GET.
constexpr std::string_view kEmptyBodyHash =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

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

}  // namespace

std::optional<SignatureVersion> ParseSignatureVersion(std::string_view text) {
  if (text == "v1") return SignatureVersion::kV1;
  if (text == "v3") return SignatureVersion::kV3;
  return std::nullopt;
}

void AppendPercentEncoded(std::string_view text, std::string& out) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' || byte == '.' || byte == '~') {
      out += ch;
    } else {
      out += '%';
      out += kDigits[byte >> 4];
      out += kDigits[byte & 0x0F];
    }
  }
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
  std::string_view action;
  std::vector<std::pair<std::string_view, std::string_view>> query;
  query.reserve(parameters.size() + 1);
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const std::string_view item = parameters.items()[i];
    const std::size_t name_length = parameters.shapes()[i].name_length;
    const std::string_view name = item.substr(0, name_length);
    const std::string_view value = item.substr(std::min(item.size(), name_length + 1));
    if (name == "Action") {
      action = value;
    } else {
      query.emplace_back(name, value);
    }
  }
  if (action.empty() || !FitsHeaderValue(action)) {
    return core::Status::InvalidInput("a version 3 request needs an Action parameter");
  }
  query.emplace_back("Format", format == ReplyFormat::kJson ? "JSON" : "xml");
  std::sort(query.begin(), query.end());
  std::string joined;
  for (const auto& [name, value] : query) {
    if (!joined.empty()) joined += '&';
    AppendPercentEncoded(name, joined);
    joined += '=';
    AppendPercentEncoded(value, joined);
  }
  if (joined.size() >= kRequestTextLimit) {
    return core::Status::InvalidInput("the request would be over its limit of " +
                                      std::to_string(kRequestTextLimit) + " bytes");
  }
  if (method == HttpMethod::kAuto) {
    method = joined.size() + 16 >= kMaxGetRequestLine ? HttpMethod::kPost : HttpMethod::kGet;
  }
  const bool post = method == HttpMethod::kPost;
  const std::string body_hash =
      post ? core::LowerHex(core::Sha256(joined)) : std::string(kEmptyBodyHash);
  const std::string_view version =
      std::string_view(endpoint.version_item).substr(endpoint.version_item.find('=') + 1);

  // In order of their names, as the canonical request lists them.
  std::array<Header, 7> headers{{{"host", endpoint.host},
                                 {"x-acs-action", action},
                                 {"x-acs-content-sha256", body_hash},
                                 {"x-acs-date", date},
                                 {"x-acs-security-token", credentials.security_token},
                                 {"x-acs-signature-nonce", nonce},
                                 {"x-acs-version", version}}};
  const std::size_t header_count =
      std::remove_if(headers.begin(), headers.end(),
                     [](const Header& header) {
                       return header.name == "x-acs-security-token" && header.value.empty();
                     }) -
      headers.begin();

  SignedRequest result;
  result.method = method;
  std::string signed_names;
  std::string& canonical = result.canonical_request;
  canonical.reserve(joined.size() + 512);
  canonical += post ? "POST\n/\n" : "GET\n/\n";
  if (!post) canonical += joined;
  canonical += '\n';
  for (std::size_t i = 0; i < header_count; ++i) {
    canonical += headers[i].name;
    canonical += ':';
    canonical += headers[i].value;
    canonical += '\n';
    if (i > 0) signed_names += ';';
    signed_names += headers[i].name;
  }
  canonical += '\n';
  canonical += signed_names;
  canonical += '\n';
  canonical += body_hash;

  result.string_to_sign =
      std::string(kV3Algorithm) + "\n" + core::LowerHex(core::Sha256(canonical));
  result.signature =
      core::LowerHex(core::HmacSha256(credentials.access_key_secret, result.string_to_sign));

  std::string& text = result.text;
  text.reserve(joined.size() + 768);
  if (post) {
    text += "POST / HTTP/1.1\r\n";
  } else {
    text += "GET /?";
    text += joined;
    text += " HTTP/1.1\r\n";
  }
  text += endpoint.host_line;
  for (std::size_t i = 1; i < header_count; ++i) {
    text += headers[i].name;
    text += ": ";
    text += headers[i].value;
    text += "\r\n";
  }
  text += "Authorization: ";
  text += kV3Algorithm;
  text += " Credential=";
  text += credentials.access_key_id;
  text += ",SignedHeaders=";
  text += signed_names;
  text += ",Signature=";
  text += result.signature;
  text += "\r\n";
  if (post) {
    text += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: ";
    text += std::to_string(joined.size());
    text += "\r\n";
  }
  text += "Connection: close\r\n\r\n";
  if (post) text += joined;
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
  // The sent timestamp with its colons back: "YYYY-MM-DDTHH:MM:SSZ".
  std::string date;
  const std::string_view url_form = stamps.url_form();
  for (std::size_t i = 0; i < url_form.size(); ++i) {
    if (url_form.substr(i, 3) == "%3A") {
      date += ':';
      i += 2;
    } else {
      date += url_form[i];
    }
  }
  return BuildV3SignedRequestWith(credentials, endpoint, parameters, stamps.nonce(), date, method,
                                  format);
}

}  // namespace kestrune::request
