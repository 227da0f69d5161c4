// The credential sources that fetch temporary credentials rather than hold
// a pair: a config.json profile of mode RamRoleArn, ChainableRamRoleArn,
// OIDC, EcsRamRole, CredentialsURI or External, and the default chain's
// variables for them (ALIBABA_CLOUD_ROLE_ARN with its OIDC companions,
// ALIBABA_CLOUD_ECS_METADATA, ALIBABA_CLOUD_CREDENTIALS_URI). Each becomes a
// request::RenewingCredentials over an engine/token_service.h or
// engine/credential_helpers.h provider; the caller asks it once per process (and again only when
// less than three minutes remain).
//
// Stateless functions; what they return is safe from any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/console.h"
#include "core/status.h"
#include "request/credential_files.h"
#include "request/credential_provider.h"
#include "transport/http.h"

namespace kestrune::cli {

// What every token service call of one process shares.
struct TemporarySetting {
  const Console* console = nullptr;  // for KESTRUNE_STS_ENDPOINT
  transport::ExchangeOptions exchange;
};

// Whether a profile's mode fetches temporary credentials.
bool FetchesCredentials(const request::StoredCredentials& profile);

// The source of a profile that fetches its credentials. `content` and
// `file` are the config.json it came from, for a ChainableRamRoleArn's
// source_profile (a loop of profiles is an error naming them).
core::Result<std::shared_ptr<request::RenewingCredentials>> ProfileCredentials(
    const request::StoredCredentials& profile, std::string_view content, std::string_view file,
    const TemporarySetting& setting, std::string description);

// The default chain's OIDC variables: nullopt when ALIBABA_CLOUD_ROLE_ARN is
// not set; an error naming the variable when one of the other two is missing.
core::Result<std::optional<std::shared_ptr<request::RenewingCredentials>>> OidcFromEnvironment(
    const TemporarySetting& setting);

// The default chain's ALIBABA_CLOUD_ECS_METADATA: nullopt when it is not set.
core::Result<std::optional<std::shared_ptr<request::RenewingCredentials>>>
InstanceRoleFromEnvironment(const TemporarySetting& setting);

// The default chain's ALIBABA_CLOUD_CREDENTIALS_URI: nullopt when it is not
// set; an error naming the variable for a text that is no http(s) URI.
core::Result<std::optional<std::shared_ptr<request::RenewingCredentials>>>
CredentialsUriFromEnvironment(const TemporarySetting& setting);

}  // namespace kestrune::cli
