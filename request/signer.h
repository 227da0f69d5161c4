// The signed request builder: turns an action's parameters into the complete
// text of an HTTP request signed with HMAC-SHA1, signature version 1.0: a GET
// with the parameters in its query, or, for a request too long for a request
// line, a POST with the same parameters as a form body.
//
// The builder runs two passes over a QueryItemList. The first collects the
// common items (with the signed form of the timestamp) and the action's
// parameters, sorts them, joins them into the canonical query and turns that
// into the string to sign, whose HMAC is the signature. The second collects
// the same items unsorted (with the sent form of the timestamp and the
// signature item) and turns them into the request:
//
//   GET /?AccessKeyId=..&Format=xml&SignatureMethod=HMAC-SHA1&SignatureNonce=..
//   &SignatureVersion=1.0&Timestamp=..&Version=..&&Signature=..&<action items>
//   HTTP/1.1\r\n Host: ..\r\n Connection: close\r\n \r\n
//
// Temporary credentials add their token as "SecurityToken=.." after the
// Version item, in both passes: signed like any other parameter.
//
// A POST signs "POST&%2F&..." over the same canonical query and sends the
// same joined items as an application/x-www-form-urlencoded body behind
// "POST / HTTP/1.1". Either form carries the same parameters; the service
// accepts both.
//
// Stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/secret.h"
#include "core/status.h"
#include "request/clock.h"
#include "request/credentials.h"
#include "request/endpoint.h"
#include "request/http_message.h"
#include "request/query.h"

namespace kestrune::request {

inline constexpr std::size_t kMaxAccessKeyIdLength = 37;
inline constexpr std::size_t kMaxAccessKeySecretLength = 48;

inline constexpr std::string_view kFormatItem = "Format=xml";
inline constexpr std::string_view kJsonFormatItem = "Format=JSON";
inline constexpr std::string_view kSignatureMethodItem = "SignatureMethod=HMAC-SHA1";
inline constexpr std::string_view kSignatureVersionItem = "SignatureVersion=1.0";
inline constexpr std::string_view kStringToSignPrefix = "GET&%2F&";
inline constexpr std::string_view kPostStringToSignPrefix = "POST&%2F&";
// A GET request line this long or longer goes as a POST instead when the
// method is left to the builder: HTTP front ends commonly refuse request
// lines past 4 to 8 KB, and every request line short of this goes as before.
inline constexpr std::size_t kMaxGetRequestLine = 4096;

enum class HttpMethod {
  kAuto,  // GET, or POST when the GET request line would reach kMaxGetRequestLine
  kGet,
  kPost,
};

// The form the service answers in: its XML (the default, what the formatters
// read) or its JSON, with the same names as object keys.
enum class ReplyFormat {
  kXml,
  kJson,
};

// The outcome of one build. `http` is the request that goes on the wire
// (asking to close the connection after the reply; a caller may set its
// keep_alive: the Connection field is not signed).
struct SignedRequest {
  std::string string_to_sign;
  std::string signature;          // Base64 (version 1, before it is escaped) or hex (version 3)
  std::string canonical_request;  // version 3 only (signer_v3.h)
  HttpMethod method = HttpMethod::kGet;  // kGet or kPost, never kAuto
  HttpRequest http;
  // Its wire form.
  std::string text() const { return WriteHttpRequest(http); }
};

// Whether the builder writes a parameter of this name itself (AccessKeyId,
// Format, Signature, ...), so that an action parameter may not carry it.
bool IsBuilderOwned(std::string_view name);

// The checks every build makes of its inputs before anything is built (see
// BuildSignedRequestWith).
core::Status CheckSigningInputs(const Credentials& credentials,
                                const ActionParameterList& parameters);

// Builds the whole request with the given nonce and timestamps, asking for
// the reply in `format` (its Format item is the builder's, never a user's).
// Refuses, with
// an error naming the limit, an AccessKey id over kMaxAccessKeyIdLength
// characters, a secret over kMaxAccessKeySecretLength, an action parameter
// list that is empty or over its limits, and any stage of the request text of
// kRequestTextLimit bytes or more, and a SecurityToken action parameter beside
// a token of the credentials. Nothing partial is returned; no error text
// contains the secret or the token.
core::Result<SignedRequest> BuildSignedRequestWith(
    const Credentials& credentials, const ServiceEndpoint& endpoint,
    const ActionParameterList& parameters, std::string_view nonce, const Timestamps& timestamps,
    HttpMethod method = HttpMethod::kAuto, ReplyFormat format = ReplyFormat::kXml);

// As above, with a fresh nonce and then the timestamps read from `clock`.
core::Result<SignedRequest> BuildSignedRequest(const Credentials& credentials,
                                               const ServiceEndpoint& endpoint,
                                               const ActionParameterList& parameters,
                                               const Clock& clock,
                                               HttpMethod method = HttpMethod::kAuto,
                                               ReplyFormat format = ReplyFormat::kXml);

}  // namespace kestrune::request
