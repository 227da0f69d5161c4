#include "request/signer.h"

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

core::Status CheckInputs(const Credentials& credentials, const ActionParameterList& parameters) {
  if (credentials.access_key_id.size() > kMaxAccessKeyIdLength) {
    return core::Status::Error(
        "the AccessKey id is " + std::to_string(credentials.access_key_id.size()) +
        " characters long; the limit is " + std::to_string(kMaxAccessKeyIdLength) + " characters");
  }
  if (credentials.access_key_secret.size() > kMaxAccessKeySecretLength) {
    // Only the length: the secret itself never goes into a message.
    return core::Status::Error("the AccessKey secret is " +
                               std::to_string(credentials.access_key_secret.size()) +
                               " characters long; the limit is " +
                               std::to_string(kMaxAccessKeySecretLength) + " characters");
  }
  if (parameters.size() == 0) {
    return core::Status::Error("a request needs at least one action parameter (Action=...)");
  }
  if (parameters.size() > kMaxActionParameters) {
    return core::Status::Error("a request takes at most " + std::to_string(kMaxActionParameters) +
                               " action parameters");
  }
  return core::Status::Ok();
}

// The seven common items in their fixed order; `timestamp` is the form of the
// pass. The AccessKey id is user text.
core::Status AppendCommonItems(QueryItemList& items, std::string_view id_item,
                               std::string_view nonce_item, std::string_view timestamp_item,
                               const ServiceEndpoint& endpoint) {
  for (auto [item, user_text] :
       {std::pair{id_item, true}, std::pair{kFormatItem, false},
        std::pair{kSignatureMethodItem, false}, std::pair{nonce_item, false},
        std::pair{kSignatureVersionItem, false}, std::pair{timestamp_item, false},
        std::pair{std::string_view(endpoint.version_item), false}}) {
    if (core::Status status = items.Append(item, user_text); !status.ok()) return status;
  }
  return core::Status::Ok();
}

}  // namespace

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

core::Status MakeStringToSign(RequestText& text) {
  if (core::Status status = text.ApplyEscapes(kTableA); !status.ok()) return status;
  if (core::Status status = text.Prepend(kStringToSignPrefix); !status.ok()) return status;
  return text.ApplyEscapes(kSignEscapes);
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
  if (core::Status status = text.Join(items, "&", EscapeForm::kSend); !status.ok()) {
    return status;
  }
  if (core::Status status = text.ApplyEscapes(kUrlEscapes); !status.ok()) return status;
  if (core::Status status = text.Prepend(kRequestLinePrefix); !status.ok()) return status;
  std::string tail = " HTTP/1.1\r\n";
  tail += endpoint.host_line;
  tail += "Connection: close\r\n";
  tail += "\r\n";
  return text.Append(tail);
}

core::Result<SignedRequest> BuildSignedRequestWith(const Credentials& credentials,
                                                   const ServiceEndpoint& endpoint,
                                                   const ActionParameterList& parameters,
                                                   std::string nonce, Timestamps timestamps) {
  if (core::Status status = CheckInputs(credentials, parameters); !status.ok()) return status;

  std::string id_item;
  id_item.reserve(kAccessKeyIdName.size() + credentials.access_key_id.size());
  id_item += kAccessKeyIdName;
  id_item += credentials.access_key_id;
  std::string nonce_item(kNonceName);
  nonce_item += nonce;
  std::string sign_timestamp_item(kTimestampName);
  sign_timestamp_item += timestamps.sign_form;
  std::string url_timestamp_item(kTimestampName);
  url_timestamp_item += timestamps.url_form;

  SignedRequest result;
  QueryItemList items;
  RequestText text;

  // First pass: what the service recomputes and compares.
  if (core::Status status =
          AppendCommonItems(items, id_item, nonce_item, sign_timestamp_item, endpoint);
      !status.ok()) {
    return status;
  }
  if (core::Status status = items.TakeActionParameters(parameters); !status.ok()) return status;
  if (core::Status status = MakeCanonicalQuery(items, text); !status.ok()) return status;
  result.canonical_query = text.text();
  if (core::Status status = MakeStringToSign(text); !status.ok()) return status;
  result.string_to_sign = text.text();
  result.signature =
      MakeSignature(SigningKey(credentials.access_key_secret), result.string_to_sign);

  // Second pass: what is sent. The signature item starts with "&", so it is
  // joined after a doubled ampersand, and the action parameters follow it in
  // the order they were appended.
  std::string signature_item(kSignatureName);
  signature_item += EscapeSignature(result.signature);
  items.Clear();
  if (core::Status status =
          AppendCommonItems(items, id_item, nonce_item, url_timestamp_item, endpoint);
      !status.ok()) {
    return status;
  }
  if (core::Status status = items.Append(signature_item); !status.ok()) return status;
  if (core::Status status = items.TakeActionParameters(parameters); !status.ok()) return status;
  if (core::Status status = MakeRequestText(items, endpoint, text); !status.ok()) return status;

  result.text = text.text();
  result.nonce = std::move(nonce);
  result.timestamps = std::move(timestamps);
  return result;
}

core::Result<SignedRequest> BuildSignedRequest(const Credentials& credentials,
                                               const ServiceEndpoint& endpoint,
                                               const ActionParameterList& parameters,
                                               const Clock& clock) {
  std::string nonce = MakeNonce(clock);
  return BuildSignedRequestWith(credentials, endpoint, parameters, std::move(nonce),
                                MakeTimestamps(clock));
}

}  // namespace kestrune::request
