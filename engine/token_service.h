// Temporary credentials from the cloud's token service (STS, API version
// 2015-04-01), as CredentialProviders for request::RenewingCredentials:
//   - AssumeRole, signed (version 1) with a base key that a function hands
//     out at each fetch (a fixed pair, or another RenewingCredentials for a
//     chain of roles);
//   - AssumeRoleWithOIDC, not signed, carrying the OIDC token read afresh
//     from its file at each fetch (the platform rotates it).
// A failure is a Status whose message's first line names the step (which
// call, which role, which host) and whose next line is the service's Code,
// Message and RequestId: ServiceError when the service answered, Connection
// when it could not be reached, so callers can tell both from bad input.
// No message holds the base secret, the issued secret or the token.
//
// A provider is used by one thread at a time (RenewingCredentials sees to it).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/status.h"
#include "request/clock.h"
#include "request/credential_provider.h"
#include "request/endpoint.h"
#include "transport/http.h"

namespace kestrune::engine {

inline constexpr std::string_view kStsVersion = "2015-04-01";
// Where a test or a local stand-in takes the token service's calls:
// "scheme://host:port"; the Host header stays the token service's.
inline constexpr std::string_view kStsEndpointVariable = "KESTRUNE_STS_ENDPOINT";

// Where the token service's calls go, and how.
struct TokenService {
  std::string host;  // the Host header: sts.aliyuncs.com, sts.<region>.aliyuncs.com, ...
  std::optional<request::EndpointOverride> send_to;  // else HTTPS to `host`
  transport::ExchangeOptions exchange;
};

// The host from `sts_endpoint` (a host name, or "http://HOST:PORT" for a
// local stand-in), else sts.<sts_region>.aliyuncs.com, else
// sts.aliyuncs.com; `send_to` (KESTRUNE_STS_ENDPOINT) overrides where the
// calls are sent. An error naming the field for a text that is no endpoint.
core::Result<TokenService> ChooseTokenService(std::string_view sts_endpoint,
                                              std::string_view sts_region,
                                              const std::optional<std::string>& send_to,
                                              const transport::ExchangeOptions& exchange);

struct RoleRequest {
  std::string role_arn;
  std::string session_name;  // empty: one is made up ("kestrune-<milliseconds>")
  int duration_seconds = 3600;
  std::string policy;       // optional
  std::string external_id;  // optional, AssumeRole only
  // AssumeRoleWithOIDC only.
  std::string oidc_provider_arn;
  std::string oidc_token_file;
};

// Refuses a duration under 900 seconds, an empty role, and (for OIDC) an
// empty provider or token file, naming `what`.
core::Status CheckRoleRequest(const RoleRequest& role, bool oidc, std::string_view what);

using BaseCredentials = std::function<core::Result<request::Credentials>()>;

// `description` names the source for --debug and doctor ("profile \"ci\" of
// ~/.aliyun/config.json, role ...").
std::unique_ptr<request::CredentialProvider> MakeAssumeRoleProvider(BaseCredentials base,
                                                                    RoleRequest role,
                                                                    TokenService service,
                                                                    const request::Clock& clock,
                                                                    std::string description);
std::unique_ptr<request::CredentialProvider> MakeOidcProvider(RoleRequest role,
                                                              TokenService service,
                                                              const request::Clock& clock,
                                                              std::string description);

// The instance metadata service of an ECS instance (http://100.100.100.200):
// a session token first (PUT /latest/api/token, 6 hours asked for), sent
// with every read; the role `role_name`, or the one the service names when it
// is empty; its key from /latest/meta-data/ram/security-credentials/ROLE.
// Each exchange is bounded by one second. Without a session token the reads
// go without one, unless `token_required` (ALIBABA_CLOUD_IMDSV1_DISABLED).
// A failure is a Connection status naming the step and the role. The
// service is link-local, so it is reached directly, never through a proxy
// (as the vendor's own tools reach it).
inline constexpr std::string_view kMetadataEndpointVariable = "KESTRUNE_METADATA_ENDPOINT";
struct InstanceRole {
  std::string role_name;
  bool token_required = false;
  // Where the reads go: "scheme://host:port" (KESTRUNE_METADATA_ENDPOINT);
  // empty for the instance's own service.
  std::string send_to;
};
core::Result<std::unique_ptr<request::CredentialProvider>> MakeInstanceRoleProvider(
    InstanceRole role, std::string description);

// The temporary key of a token service's JSON reply (Credentials.AccessKeyId,
// AccessKeySecret, SecurityToken, Expiration), or the error it carries, each
// under `step`.
core::Result<request::IssuedCredentials> ReadTokenReply(const transport::HttpReply& reply,
                                                        std::string_view step);

}  // namespace kestrune::engine
