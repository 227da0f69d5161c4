// The instance metadata service the simulator plays on its own port, for
// paths under /latest/: as an ECS instance's service at 100.100.100.200, it
// hands out the temporary key of the instance's RAM role.
//   PUT /latest/api/token  with X-aliyun-ecs-metadata-token-ttl-seconds
//                          (1 to 21600): a session token, valid that long;
//   GET /latest/meta-data/ram/security-credentials/        the role's name;
//   GET /latest/meta-data/ram/security-credentials/ROLE    its key as JSON
//       {"Code":"Success","AccessKeyId","AccessKeySecret","SecurityToken",
//        "Expiration","LastUpdated"}, valid for an hour.
// A read may carry the session token in X-aliyun-ecs-metadata-token (one
// that is not valid is refused with 401) or, as older clients do, none.
// Unknown paths and roles are a plain 404.
// It also plays a credentials URI (ALIBABA_CLOUD_CREDENTIALS_URI, a
// CredentialsURI profile): GET /credentials answers with a fresh key in the
// same document.
//
// Not thread-safe: runs under the owning Gateway's lock.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "sim/gateway.h"
#include "sim/http.h"

namespace kestrune::sim {

inline constexpr std::string_view kMetadataPrefix = "/latest/";
inline constexpr std::string_view kCredentialsUriPath = "/credentials";

class MetadataService {
 public:
  explicit MetadataService(std::string role) : role_(std::move(role)) {}

  // The answer to a request for `path`; `issued` receives a key it hands out.
  HttpResponse Handle(const HttpRequest& request, std::string_view path, std::int64_t now_ms,
                      std::mt19937_64& random, std::optional<AccessKey>& issued);

 private:
  std::string role_;
  std::map<std::string, std::int64_t, std::less<>> tokens_;  // token -> expiry
};

}  // namespace kestrune::sim
