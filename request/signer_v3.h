// The signed request builder for the service's newer signature, version 3
// (ACS3-HMAC-SHA256), beside the HMAC-SHA1 builder of signer.h.
//
// The action and the API version travel as headers; every other parameter
// (and the reply's Format) goes in the query, sorted and percent-encoded
// (RFC 3986: all but letters, digits and "-_.~"), which is the canonical
// query as well. The canonical request is
//
//   METHOD \n / \n canonical query \n
//   "name:value\n" for each signed header, by name \n
//   the signed header names joined by ";" \n
//   hex SHA-256 of the body
//
// over the headers host, x-acs-action, x-acs-content-sha256, x-acs-date,
// x-acs-security-token (temporary credentials only), x-acs-signature-nonce
// and x-acs-version. The string to sign is "ACS3-HMAC-SHA256\n" and the hex
// SHA-256 of the canonical request; the signature is the hex HMAC-SHA256 of
// it under the secret itself, sent as
//
//   Authorization: ACS3-HMAC-SHA256 Credential=ID,SignedHeaders=...,Signature=...
//
// A request too long for a GET request line goes as a POST whose form body
// is the query, with the canonical query empty.
//
// Stateless; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/status.h"
#include "request/signer.h"

namespace kestrune::request {

enum class SignatureVersion { kV1, kV3 };

// "v1" or "v3" (exactly); nullopt for anything else.
std::optional<SignatureVersion> ParseSignatureVersion(std::string_view text);

inline constexpr std::string_view kV3Algorithm = "ACS3-HMAC-SHA256";
// The code the service answers a request signed in a version the action
// does not take.
inline constexpr std::string_view kUnsupportedSignatureVersionCode = "UnsupportedSignatureVersion";

// RFC 3986 percent-encoding of `text` appended to `out`.
void AppendPercentEncoded(std::string_view text, std::string& out);

// The canonical request of the built request is kept in
// SignedRequest::canonical_request; `string_to_sign` and `signature` are the
// version 3 ones. `date` is "YYYY-MM-DDTHH:MM:SSZ". The inputs are checked as
// BuildSignedRequestWith checks them, and an AccessKey id or token that could
// not be a header value (a control character) is refused too.
core::Result<SignedRequest> BuildV3SignedRequestWith(const Credentials& credentials,
                                                     const ServiceEndpoint& endpoint,
                                                     const ActionParameterList& parameters,
                                                     std::string_view nonce, std::string_view date,
                                                     HttpMethod method = HttpMethod::kAuto,
                                                     ReplyFormat format = ReplyFormat::kXml);

// The request in the chosen version, its nonce and time from `clock`.
core::Result<SignedRequest> BuildSignedRequestAs(
    SignatureVersion version, const Credentials& credentials, const ServiceEndpoint& endpoint,
    const ActionParameterList& parameters, const Clock& clock,
    HttpMethod method = HttpMethod::kAuto, ReplyFormat format = ReplyFormat::kXml);

}  // namespace kestrune::request
