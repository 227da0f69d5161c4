#include "request/signer.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#include "core/base64.h"
#include "core/hmac_sha1.h"
#include "core/secret.h"
#include "request/escape.h"

namespace kestrune::request {
namespace {

constexpr std::string_view kAccessKeyIdName = "AccessKeyId=";
constexpr std::string_view kNonceName = "SignatureNonce=";
constexpr std::string_view kTimestampName = "Timestamp=";
constexpr std::string_view kSignatureName = "&Signature=";
constexpr std::string_view kSecurityTokenName = "SecurityToken=";
// Base64 of a 20-byte HMAC-SHA1.
constexpr std::size_t kSignatureLength = 28;

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
  // A second copy of a name the builder writes would either be signed but
  // lose to ours on the wire or carry a signature the service cannot match:
  // a request the user never meant, so none is built.
  const bool has_token = !credentials.security_token.empty();
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const std::string_view name =
        std::string_view(parameters.items()[i]).substr(0, parameters.shapes()[i].name_length);
    if (has_token && name == "SecurityToken") {
      return core::Status::InvalidInput(
          "the credentials carry a security token, so SecurityToken cannot also be an action "
          "parameter");
    }
    if (IsBuilderOwned(name)) {
      std::string message = "\"";
      message += name;
      message += "\" is set by the request builder and cannot be an action parameter";
      return core::Status::InvalidInput(std::move(message));
    }
  }
  return core::Status::Ok();
}

// The fixed items' shapes, worked out when compiled.
constexpr ItemShape kFormatShape = ShapeOf(kFormatItem, {}, false);
constexpr ItemShape kJsonFormatShape = ShapeOf(kJsonFormatItem, {}, false);
constexpr ItemShape kSignatureMethodShape = ShapeOf(kSignatureMethodItem, {}, false);
constexpr ItemShape kSignatureVersionShape = ShapeOf(kSignatureVersionItem, {}, false);
// The heads of the items with a value are "Name=" with a plain name.
static_assert([] {
  for (const std::string_view head :
       {kAccessKeyIdName, kNonceName, kTimestampName, kSecurityTokenName}) {
    const ItemShape shape = ShapeOf(head, {}, false);
    if (!shape.plain || shape.name_length + 1 != head.size()) return false;
  }
  return true;
}());

// The nonce and the two forms of the timestamp of one request, and whether
// they are known to be plain (written by RequestStamps).
struct Stamps {
  std::string_view nonce;
  std::string_view sign_timestamp;
  std::string_view url_timestamp;
  bool plain = false;
};

// The seven common items in their fixed order, then the security token of
// temporary credentials, each with its shape worked out once for both
// passes; only the timestamp's form differs between them. The AccessKey id
// and the token are user text.
class CommonItems {
 public:
  CommonItems(const Credentials& credentials, const Stamps& stamps, const ServiceEndpoint& endpoint,
              ReplyFormat format)
      : items_{{
            Valued(kAccessKeyIdName, credentials.access_key_id, true),
            format == ReplyFormat::kJson ? Whole(kJsonFormatItem, kJsonFormatShape)
                                         : Whole(kFormatItem, kFormatShape),
            Whole(kSignatureMethodItem, kSignatureMethodShape),
            Stamped(kNonceName, stamps.nonce, stamps.plain),
            Whole(kSignatureVersionItem, kSignatureVersionShape),
            Stamped(kTimestampName, stamps.sign_timestamp, stamps.plain),
            Item{endpoint.version_item, {}, false, ShapeOf(endpoint.version_item, {}, false)},
            Valued(kSecurityTokenName, credentials.security_token, true),
        }},
        url_timestamp_(Stamped(kTimestampName, stamps.url_timestamp, stamps.plain)),
        count_(credentials.security_token.empty() ? kTokenIndex : kTokenIndex + 1) {}

  // The items of the first pass (with the signed form of the timestamp) or
  // of the second (with the sent form).
  core::Status AppendTo(QueryItemList& list, bool url_form) const {
    for (std::size_t i = 0; i < count_; ++i) {
      const Item& item = url_form && i == kTimestampIndex ? url_timestamp_ : items_[i];
      if (core::Status status = list.AppendView(item.head, item.tail, item.user_text, item.shape);
          !status.ok()) {
        return status;
      }
    }
    return core::Status::Ok();
  }

 private:
  struct Item {
    std::string_view head;
    std::string_view tail;
    bool user_text;
    ItemShape shape;
  };
  static constexpr std::size_t kTimestampIndex = 5;
  static constexpr std::size_t kTokenIndex = 7;
  static Item Whole(std::string_view item, const ItemShape& shape) {
    return Item{item, {}, false, shape};
  }
  // The nonce or a timestamp: plain as the builder's own clock writes them,
  // looked at when a caller gave them.
  static Item Stamped(std::string_view head, std::string_view value, bool known_plain) {
    return known_plain ? Item{head, value, false, ItemShape{head.size() - 1, true}}
                       : Valued(head, value, false);
  }
  // "Name=" and a value: the fixed name is plain, so only the value is looked at.
  static Item Valued(std::string_view head, std::string_view value, bool user_text) {
    return Item{head, value, user_text, ItemShape{head.size() - 1, IsPlainText(value, user_text)}};
  }

  std::array<Item, kTokenIndex + 1> items_;
  Item url_timestamp_;
  std::size_t count_;
};

}  // namespace

core::Status CheckSigningInputs(const Credentials& credentials,
                                const ActionParameterList& parameters) {
  return CheckInputs(credentials, parameters);
}

bool IsBuilderOwned(std::string_view name) {
  static constexpr std::string_view kBuilderOwned[] = {
      "AccessKeyId",      "Format",    "SignatureMethod", "SignatureNonce",
      "SignatureVersion", "Timestamp", "Version",         "Signature"};
  for (const std::string_view owned : kBuilderOwned) {
    if (name == owned) return true;
  }
  return false;
}

namespace {

// The request around the second pass's items, joined unsorted in their sent
// form and escaped as its form (a GET's query, a POST's body). The whole
// request stays below kRequestTextLimit bytes.
core::Status MakeHttpRequest(const QueryItemList& items, const ServiceEndpoint& endpoint,
                             HttpMethod method, HttpRequest& request) {
  RequestText text;
  if (core::Status status = text.JoinEscaped(items, "&", EscapeForm::kSend, kUrlEscapes, {});
      !status.ok()) {
    return status;
  }
  if (!endpoint.host_line.empty()) request.fields.push_back(FieldOfLine(endpoint.host_line));
  request.method = method == HttpMethod::kPost ? "POST" : "GET";
  request.form = std::move(text).Release();
  return CheckRequestSize(WireSize(request));
}

// The first pass's HMAC key, the secret and "&", kept on the stack: the
// secret's length is checked before any build.
class StackSigningKey {
 public:
  explicit StackSigningKey(std::string_view secret) : size_(secret.size() + 1) {
    secret.copy(bytes_, secret.size());
    bytes_[secret.size()] = '&';
  }
  StackSigningKey(const StackSigningKey&) = delete;
  StackSigningKey& operator=(const StackSigningKey&) = delete;
  ~StackSigningKey() { core::WipeMemory(bytes_, sizeof bytes_); }
  std::string_view view() const { return {bytes_, size_}; }

 private:
  char bytes_[kMaxAccessKeySecretLength + 1];
  std::size_t size_;
};

// Both passes for a method already chosen (kGet or kPost) into `result`,
// whose nonce and timestamps the caller sets.
core::Status BuildPasses(const Credentials& credentials, const ServiceEndpoint& endpoint,
                         const ActionParameterList& parameters, const CommonItems& common,
                         HttpMethod method, SignedRequest& result) {
  QueryItemList items;
  RequestText text;
  // First pass: what the service recomputes and compares.
  if (core::Status status = common.AppendTo(items, false); !status.ok()) return status;
  if (core::Status status = items.TakeActionParameters(parameters); !status.ok()) return status;
  // The canonical query and the string to sign in one pass: each table
  // rule replaces one byte, so escaping every item as it is joined gives
  // what escaping the joined query would.
  SortQueryItems(items);
  if (core::Status status = text.JoinEscaped(
          items, "&", EscapeForm::kSign, kCanonicalQueryEscapes,
          method == HttpMethod::kPost ? kPostStringToSignPrefix : kStringToSignPrefix);
      !status.ok()) {
    return status;
  }
  result.string_to_sign = text.Take();
  const core::Sha1Digest digest =
      core::HmacSha1(StackSigningKey(credentials.access_key_secret).view(), result.string_to_sign);
  result.signature = core::Base64Encode(digest.data(), digest.size());

  // Second pass: what is sent. The signature item starts with "&", so it is
  // joined after a doubled ampersand, and the action parameters follow it in
  // the order they were appended. Every escape of a Base64 character is
  // three bytes.
  char escaped[3 * kSignatureLength + kMaxReplacement];
  std::size_t escaped_size = 0;
  for (const char c : result.signature) {
    // Each byte's slot is copied whole, escaped or not.
    const auto byte = static_cast<unsigned char>(c);
    std::memcpy(escaped + escaped_size, kSignatureEscapes.text_of[byte].data(), kMaxReplacement);
    escaped_size += kSignatureEscapes.size_of[byte];
  }
  result.method = method;
  items.Clear();
  if (core::Status status = common.AppendTo(items, true); !status.ok()) return status;
  const std::string_view signature(escaped, escaped_size);
  if (core::Status status = items.AppendView(kSignatureName, signature, false,
                                             ShapeOf(kSignatureName, signature, false));
      !status.ok()) {
    return status;
  }
  if (core::Status status = items.TakeActionParameters(parameters); !status.ok()) return status;
  return MakeHttpRequest(items, endpoint, method, result.http);
}

}  // namespace

namespace {

core::Result<SignedRequest> Build(const Credentials& credentials, const ServiceEndpoint& endpoint,
                                  const ActionParameterList& parameters, const Stamps& stamps,
                                  HttpMethod method, ReplyFormat format) {
  if (core::Status status = CheckInputs(credentials, parameters); !status.ok()) return status;
  const CommonItems common(credentials, stamps, endpoint, format);
  SignedRequest result;
  core::Status status;
  if (method == HttpMethod::kAuto) {
    status = BuildPasses(credentials, endpoint, parameters, common, HttpMethod::kGet, result);
    // Only a GET too long for one request line (or too long to build at
    // all) goes as a POST.
    if (!status.ok() || RequestLineSize(result.http) >= kMaxGetRequestLine) {
      result = SignedRequest();
      status = BuildPasses(credentials, endpoint, parameters, common, HttpMethod::kPost, result);
    }
  } else {
    status = BuildPasses(credentials, endpoint, parameters, common, method, result);
  }
  if (!status.ok()) return status;
  return result;
}

}  // namespace

core::Result<SignedRequest> BuildSignedRequestWith(const Credentials& credentials,
                                                   const ServiceEndpoint& endpoint,
                                                   const ActionParameterList& parameters,
                                                   std::string_view nonce,
                                                   const Timestamps& timestamps, HttpMethod method,
                                                   ReplyFormat format) {
  return Build(credentials, endpoint, parameters,
               Stamps{nonce, timestamps.sign_form, timestamps.url_form}, method, format);
}

core::Result<SignedRequest> BuildSignedRequest(const Credentials& credentials,
                                               const ServiceEndpoint& endpoint,
                                               const ActionParameterList& parameters,
                                               const Clock& clock, HttpMethod method,
                                               ReplyFormat format) {
  // One reading for the nonce and both timestamps, kept on the stack.
  const RequestStamps stamps(clock.NowUtc(), clock.NonceSalt());
  return Build(credentials, endpoint, parameters,
               Stamps{stamps.nonce(), stamps.sign_form(), stamps.url_form(), true}, method, format);
}

}  // namespace kestrune::request
