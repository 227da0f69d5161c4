// The token service (STS, API version 2015-04-01) the simulator plays on its
// own port, for requests whose Host is an STS host (sts.aliyuncs.com,
// sts.<region>.aliyuncs.com, sts-vpc.<region>.aliyuncs.com):
//   - AssumeRole, signed like any request with a key the gateway accepts;
//   - AssumeRoleWithOIDC, not signed: the OIDC token vouches for the caller.
// Each issues a temporary key (id, secret, SecurityToken) valid for
// DurationSeconds (900 to 3600, default 3600); the gateway then accepts that
// key only with its token and only until it expires.
//
// Not thread-safe: runs under the owning Gateway's lock.
#pragma once

#include <cstdint>
#include <random>
#include <string_view>
#include <variant>
#include <vector>

#include "sim/api.h"
#include "sim/gateway.h"

namespace kestrune::sim {

inline constexpr std::string_view kStsVersion = "2015-04-01";

// Whether `host` (without a port) is one of the token service's hosts.
bool IsStsHost(std::string_view host);

struct StsResult {
  ActionReply reply;
  AccessKey issued;
};

// Runs AssumeRole or AssumeRoleWithOIDC on verified parameters: checks the
// role's and the provider's names, the session name, the duration and the
// token's form, and makes a key with `random`.
std::variant<StsResult, ApiError> RunStsAction(const std::vector<QueryParam>& params,
                                               std::string_view request_id, std::int64_t now_ms,
                                               std::mt19937_64& random);

}  // namespace kestrune::sim
