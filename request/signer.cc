#include "request/signer.h"

#include <cstdint>
#include <utility>

#include "core/base64.h"
#include "core/hmac_sha1.h"
#include "request/escape.h"

namespace kestrune::request {
namespace {

constexpr std::string_view kAccessKeyIdName = "AccessKeyId=";
constexpr std::string_view kNonceName = "SignatureNonce=";
constexpr std::string_view kTimestampName = "Timestamp=";
constexpr std::string_view kSignatureName = "&Signature=";
constexpr std::string_view kSecurityTokenName = "SecurityToken=";

core::Status CheckInputs(const Credentials& credentials, const ActionParameterList& parameters) {
  if (credentials.access_key_id.size() > kMaxAccessKeyIdLength) {
    return core::Status::InvalidInput(
        "the AccessKey id is " + std::to_string(credentials.access_key_id.size()) +
        " characters long; the limit is " + std::to_string(kMaxAccessKeyIdLength) + " characters");
  }
  if (credentials.access_key_secret.size() > kMaxAccessKeySecretLength) {
    // Only the length: the secret itself never goes into a message.
    return core::Status::InvalidInput("the AccessKey secret is " +
                                      std::to_string(credentials.access_key_secret.size()) +
                                      " characters long; the limit is " +
                                      std::to_string(kMaxAccessKeySecretLength) + " characters");
  }
  if (parameters.size() == 0) {
    return core::Status::InvalidInput("a request needs at least one action parameter (Action=...)");
  }
  if (parameters.size() > kMaxActionParameters) {
    return core::Status::InvalidInput("a request takes at most " +
                                      std::to_string(kMaxActionParameters) + " action parameters");
  }
  // Without a token of its own the builder leaves SecurityToken to the
  // action's parameters; with one, a second copy would contradict it.
  if (!credentials.security_token.empty()) {
    for (const std::string& item : parameters.items()) {
      if (ItemName(item) == "SecurityToken") {
        return core::Status::InvalidInput(
            "the credentials carry a security token, so SecurityToken cannot also be an action "
            "parameter");
      }
    }
  }
  // A second copy of a name the builder writes would either be signed but
  // lose to ours on the wire or carry a signature the service cannot match:
  // a request the user never meant, so none is built.
  for (const std::string& item : parameters.items()) {
    const std::string_view name = ItemName(item);
    if (IsBuilderOwned(name)) {
      std::string message = "\"";
      message += name;
      message += "\" is set by the request builder and cannot be an action parameter";
      return core::Status::InvalidInput(std::move(message));
    }
  }
  return core::Status::Ok();
}

// The seven common items in their fixed order, then the security token of
// temporary credentials; `timestamp` is the form of the pass. The AccessKey
// id and the token are user text.
core::Status AppendCommonItems(QueryItemList& items, const Credentials& credentials,
                               std::string_view nonce, std::string_view timestamp,
                               const ServiceEndpoint& endpoint, ReplyFormat format) {
  struct Item {
    std::string_view head;
    std::string_view tail;
    bool user_text;
  };
  const Item common[] = {
      {kAccessKeyIdName, credentials.access_key_id, true},
      {format == ReplyFormat::kJson ? kJsonFormatItem : kFormatItem, {}, false},
      {kSignatureMethodItem, {}, false},
      {kNonceName, nonce, false},
      {kSignatureVersionItem, {}, false},
      {kTimestampName, timestamp, false},
      {endpoint.version_item, {}, false},
  };
  for (const Item& item : common) {
    if (core::Status status = items.Append(item.head, item.tail, item.user_text); !status.ok()) {
      return status;
    }
  }
  if (credentials.security_token.empty()) return core::Status::Ok();
  return items.Append(kSecurityTokenName, credentials.security_token, true);
}

}  // namespace

bool IsBuilderOwned(std::string_view name) {
  static constexpr std::string_view kBuilderOwned[] = {
      "AccessKeyId",      "Format",    "SignatureMethod", "SignatureNonce",
      "SignatureVersion", "Timestamp", "Version",         "Signature"};
  for (const std::string_view owned : kBuilderOwned) {
    if (name == owned) return true;
  }
  return false;
}

std::string SigningKey(std::string_view secret) {
  std::string key;
  key.reserve(secret.size() + 1);
  key += secret;
  key += '&';
  return key;
}

core::Status MakeCanonicalQuery(QueryItemList& items, RequestText& text) {
  SortQueryItems(items);
  return text.Join(items, "&", EscapeForm::kSign);
}

core::Status MakeStringToSign(RequestText& text, HttpMethod method) {
  // Table A must run before the prefix goes in front (the prefix keeps its
  // two raw "&"); SignEscapes would find nothing in the prefix, so both
  // tables run as one before it is put in front.
  return text.EscapeAndPrepend(kCanonicalQueryEscapes, method == HttpMethod::kPost
                                                           ? kPostStringToSignPrefix
                                                           : kStringToSignPrefix);
}

std::string MakeSignature(std::string_view signing_key, std::string_view string_to_sign) {
  const core::Sha1Digest digest = core::HmacSha1(signing_key, string_to_sign);
  return core::Base64Encode(digest.data(), digest.size());
}

std::string EscapeSignature(std::string signature) {
  ApplyEscapes(signature, kSignatureEscapes);
  return signature;
}

core::Status MakeRequestText(const QueryItemList& items, const ServiceEndpoint& endpoint,
                             RequestText& text) {
  if (core::Status status =
          text.JoinEscaped(items, "&", EscapeForm::kSend, kUrlEscapes, kRequestLinePrefix);
      !status.ok()) {
    return status;
  }
  for (std::string_view line :
       {std::string_view(" HTTP/1.1\r\n"), std::string_view(endpoint.host_line),
        std::string_view("Connection: close\r\n\r\n")}) {
    if (core::Status status = text.Append(line); !status.ok()) return status;
  }
  return core::Status::Ok();
}

core::Status MakePostRequestText(const QueryItemList& items, const ServiceEndpoint& endpoint,
                                 RequestText& text) {
  if (core::Status status = text.JoinEscaped(items, "&", EscapeForm::kSend, kUrlEscapes, {});
      !status.ok()) {
    return status;
  }
  std::string head = "POST / HTTP/1.1\r\n";
  head += endpoint.host_line;
  head += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: ";
  head += std::to_string(text.size());
  head += "\r\nConnection: close\r\n\r\n";
  return text.Prepend(head);
}

namespace {

// The first pass's HMAC key, the secret and "&", kept on the stack: the
// secret's length is checked before any build.
class StackSigningKey {
 public:
  explicit StackSigningKey(std::string_view secret) : size_(secret.size() + 1) {
    secret.copy(bytes_, secret.size());
    bytes_[secret.size()] = '&';
  }
  std::string_view view() const { return {bytes_, size_}; }

 private:
  char bytes_[kMaxAccessKeySecretLength + 1];
  std::size_t size_;
};

// Both passes for a method already chosen (kGet or kPost) into `result`,
// whose nonce and timestamps the caller sets.
core::Status BuildPasses(const Credentials& credentials, const ServiceEndpoint& endpoint,
                         const ActionParameterList& parameters, std::string_view nonce,
                         const Timestamps& timestamps, HttpMethod method, ReplyFormat format,
                         SignedRequest& result) {
  QueryItemList items;
  RequestText text;
  // First pass: what the service recomputes and compares.
  if (core::Status status =
          AppendCommonItems(items, credentials, nonce, timestamps.sign_form, endpoint, format);
      !status.ok()) {
    return status;
  }
  if (core::Status status = items.TakeActionParameters(parameters); !status.ok()) return status;
  if (core::Status status = MakeCanonicalQuery(items, text); !status.ok()) return status;
  result.canonical_query = text.text();
  if (core::Status status = MakeStringToSign(text, method); !status.ok()) return status;
  result.string_to_sign = text.text();
  const core::Sha1Digest digest =
      core::HmacSha1(StackSigningKey(credentials.access_key_secret).view(), result.string_to_sign);
  result.signature = core::Base64Encode(digest.data(), digest.size());

  // Second pass: what is sent. The signature item starts with "&", so it is
  // joined after a doubled ampersand, and the action parameters follow it in
  // the order they were appended. Every escape of a Base64 character is
  // three bytes.
  char escaped[3 * 28];
  std::size_t escaped_size = 0;
  for (const char c : result.signature) {
    const std::uint8_t rule = kSignatureEscapes.rule_of[static_cast<unsigned char>(c)];
    const std::string_view replacement =
        rule == 0 ? std::string_view(&c, 1) : kSignatureEscapes.rules[rule - 1].replacement;
    escaped_size += replacement.copy(escaped + escaped_size, sizeof(escaped) - escaped_size);
  }
  result.method = method;
  items.Clear();
  if (core::Status status =
          AppendCommonItems(items, credentials, nonce, timestamps.url_form, endpoint, format);
      !status.ok()) {
    return status;
  }
  if (core::Status status =
          items.Append(kSignatureName, std::string_view(escaped, escaped_size), false);
      !status.ok()) {
    return status;
  }
  if (core::Status status = items.TakeActionParameters(parameters); !status.ok()) return status;
  if (core::Status status = method == HttpMethod::kPost ? MakePostRequestText(items, endpoint, text)
                                                        : MakeRequestText(items, endpoint, text);
      !status.ok()) {
    return status;
  }
  result.text = std::move(text).Release();
  return core::Status::Ok();
}

}  // namespace

core::Result<SignedRequest> BuildSignedRequestWith(const Credentials& credentials,
                                                   const ServiceEndpoint& endpoint,
                                                   const ActionParameterList& parameters,
                                                   std::string nonce, Timestamps timestamps,
                                                   HttpMethod method, ReplyFormat format) {
  if (core::Status status = CheckInputs(credentials, parameters); !status.ok()) return status;
  SignedRequest result;
  core::Status status;
  if (method == HttpMethod::kAuto) {
    status = BuildPasses(credentials, endpoint, parameters, nonce, timestamps, HttpMethod::kGet,
                         format, result);
    // The request line ends at the first CR; only a GET too long for one
    // (or too long to build at all) goes as a POST.
    if (!status.ok() || result.text.find('\r') >= kMaxGetRequestLine) {
      result = SignedRequest();
      status = BuildPasses(credentials, endpoint, parameters, nonce, timestamps, HttpMethod::kPost,
                           format, result);
    }
  } else {
    status =
        BuildPasses(credentials, endpoint, parameters, nonce, timestamps, method, format, result);
  }
  if (!status.ok()) return status;
  result.nonce = std::move(nonce);
  result.timestamps = std::move(timestamps);
  return result;
}

core::Result<SignedRequest> BuildSignedRequest(const Credentials& credentials,
                                               const ServiceEndpoint& endpoint,
                                               const ActionParameterList& parameters,
                                               const Clock& clock, HttpMethod method,
                                               ReplyFormat format) {
  std::string nonce = MakeNonce(clock);
  return BuildSignedRequestWith(credentials, endpoint, parameters, std::move(nonce),
                                MakeTimestamps(clock), method, format);
}

void KeepConnectionAlive(std::string& request_text) {
  constexpr std::string_view kClose = "\r\nConnection: close\r\n\r\n";
  constexpr std::string_view kKeepAlive = "\r\nConnection: keep-alive\r\n\r\n";
  // The header's end is its first empty line; a POST's body follows it.
  const std::size_t end = request_text.find("\r\n\r\n");
  if (end == std::string::npos || end + 4 < kClose.size()) return;
  const std::size_t line = end + 4 - kClose.size();
  if (std::string_view(request_text).substr(line, kClose.size()) != kClose) return;
  request_text.replace(line, kClose.size(), kKeepAlive);
}

}  // namespace kestrune::request
