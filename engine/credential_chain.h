// Where a request's credentials come from when none are typed in: the
// sources other Aliyun tools use, in their order, for every face (the
// command line's `call` and `doctor`, and the dialog when its key fields are
// empty).
//
// The first source that holds credentials wins:
//   1. the profile `ChainSetting::profile` (--profile) or ALIBABA_CLOUD_PROFILE
//      names, in the vendor command line's ~/.aliyun/config.json;
//   2. ALIBABA_CLOUD_ACCESS_KEY_ID and ALIBABA_CLOUD_ACCESS_KEY_SECRET, with
//      ALIBABA_CLOUD_SECURITY_TOKEN for temporary credentials;
//   3. the OIDC variables (ALIBABA_CLOUD_ROLE_ARN,
//      ALIBABA_CLOUD_OIDC_PROVIDER_ARN, ALIBABA_CLOUD_OIDC_TOKEN_FILE);
//   4. the file "sign" of the working directory; the current profile of
//      ~/.aliyun/config.json; the [default] section of
//      ~/.alibabacloud/credentials (or of ALIBABA_CLOUD_CREDENTIALS_FILE);
//   5. ALIBABA_CLOUD_ECS_METADATA, a RAM role of the instance;
//   6. ALIBABA_CLOUD_CREDENTIALS_URI.
// ("~" is USERPROFILE on Windows.) A source that is there must be whole: a
// half-set environment, a broken file, a profile of a mode this program
// cannot use or a named profile that does not exist is an error naming it,
// never skipped for the next source; so is finding none at all.
//
// A profile of mode RamRoleArn, ChainableRamRoleArn, OIDC, EcsRamRole,
// CredentialsURI or External (and the variables of 3, 5 and 6) fetch
// temporary credentials: FindCredentials fetches them once, and hands back
// the request::RenewingCredentials that renews them for the rest of the run.
// A failed fetch is ServiceError or Connection (the step on the first line,
// then what went wrong); bad input is any other kind.
//
// Stateless functions; what they return is safe from any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "core/status.h"
#include "request/credential_provider.h"
#include "request/credentials.h"
#include "transport/http.h"
#include "transport/proxy.h"

namespace kestrune::engine {

struct ChainSetting {
  transport::VariableLookup env;                      // the environment the sources are read from
  std::optional<std::string> profile = std::nullopt;  // a profile named by the face
  // How the token service and a credentials URI are reached: time-outs,
  // trust and proxy as the service's own calls.
  transport::ExchangeOptions exchange = {};
};

// The AccessKey pair to sign with and where it came from.
struct FoundCredentials {
  request::Credentials credentials;
  std::string source;     // for --debug and the dialog; never holds the secret or the token
  std::string region_id;  // a profile's default RegionId; "" when none
  // A profile's endpoint_type and signature_version, unchecked; "" when none.
  std::string endpoint_type;
  std::string signature_version;
  // Temporary credentials a source fetched: until when they hold, and the
  // source that renews them (nullptr for a pair held as it is).
  std::optional<request::CredentialTime> expiration = std::nullopt;
  std::shared_ptr<request::RenewingCredentials> renewing = nullptr;
};

// The first source that holds credentials, with temporary ones fetched;
// nullopt when no source holds any, for each face to say how to give some in
// its own terms.
core::Result<std::optional<FoundCredentials>> FindCredentials(const ChainSetting& setting);

}  // namespace kestrune::engine
