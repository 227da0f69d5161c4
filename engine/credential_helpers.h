// Temporary credentials handed out by something other than the token
// service, as CredentialProviders for request::RenewingCredentials:
//   - a credentials URI: an HTTP GET answered with the document an instance's
//     metadata service gives, {"Code":"Success","AccessKeyId",
//     "AccessKeySecret","SecurityToken","Expiration"};
//   - an external process (a profile's process_command, split as
//     helper_command.h says) that prints {"mode":"AK"|"StsToken",
//     "access_key_id","access_key_secret"[,"sts_token"]} and exits 0,
//     within kHelperTimeLimit and kHelperOutputLimit.
// A failure names the step (which URI, which program) in its first line and
// what was wrong in its next; it never quotes the reply or the output, which
// may hold a secret. Connection for a URI that cannot be reached or a
// program that cannot be run or fails; ServiceError for a reply or output
// that is not the document; InvalidInput for a URI or command that is no
// such thing.
//
// A provider is used by one thread at a time (RenewingCredentials sees to it).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "core/status.h"
#include "request/credential_provider.h"
#include "transport/http.h"

namespace kestrune::engine {

inline constexpr std::chrono::seconds kHelperTimeLimit{10};
// The document is a few hundred bytes; a program that writes far more is not
// speaking it.
inline constexpr std::size_t kHelperOutputLimit = 64 * 1024;

// The key of a {"Code":"Success",...} document, or what is wrong with it,
// under `step`.
core::Result<request::IssuedCredentials> ReadCredentialsDocument(std::string_view body,
                                                                 std::string_view step);

// The key of an external process's output document, under `step`. An "AK"
// pair does not expire; a "StsToken" one carries its token and is kept for
// the whole run (the document says nothing of its expiry).
core::Result<request::IssuedCredentials> ReadProcessDocument(std::string_view output,
                                                             std::string_view step);

// `uri` is "http://HOST[:PORT][/PATH]" or "https://...". `exchange` bounds
// and routes (proxy, trust) the GET.
core::Result<std::unique_ptr<request::CredentialProvider>> MakeCredentialsUriProvider(
    std::string_view uri, transport::ExchangeOptions exchange, std::string description);

core::Result<std::unique_ptr<request::CredentialProvider>> MakeExternalProvider(
    std::string_view command, std::chrono::milliseconds time_limit, std::string description);

}  // namespace kestrune::engine
