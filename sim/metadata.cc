#include "sim/metadata.h"

#include <algorithm>

#include "sim/clock.h"
#include "sim/document.h"

namespace kestrune::sim {
namespace {

constexpr std::string_view kCredentialsPath = "/latest/meta-data/ram/security-credentials/";
constexpr std::int64_t kLongestTokenSeconds = 21600;
constexpr std::int64_t kKeyLifetimeMs = 3600 * 1000;
constexpr std::size_t kTokenLimit = 10000;

HttpResponse Plain(int status, std::string body) {
  HttpResponse response;
  response.status = status;
  response.content_type = "text/plain";
  response.body = std::move(body);
  return response;
}

std::string RandomText(std::mt19937_64& random, std::size_t length) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string text;
  for (std::size_t i = 0; i < length; ++i) text += kAlphabet[random() % kAlphabet.size()];
  return text;
}

// A fresh temporary key in the metadata service's document, which a
// credentials URI answers with too.
HttpResponse IssueKey(std::int64_t now_ms, std::mt19937_64& random,
                      std::optional<AccessKey>& issued) {
  AccessKey key;
  key.id = "STS." + RandomText(random, 28);
  key.secret = RandomText(random, 44);
  key.security_token = "CAIS" + RandomText(random, 300);
  key.expires_ms = now_ms + kKeyLifetimeMs;
  Node root = Node::Object("Credentials");
  root.Str("AccessKeyId", key.id);
  root.Str("AccessKeySecret", key.secret);
  root.Str("Expiration", FormatTimestamp(key.expires_ms));
  root.Str("SecurityToken", *key.security_token);
  root.Str("LastUpdated", FormatTimestamp(now_ms));
  root.Str("Code", "Success");
  HttpResponse response;
  response.content_type = "text/plain";
  response.body = root.ToJson();
  issued = std::move(key);
  return response;
}

}  // namespace

HttpResponse MetadataService::Handle(const HttpRequest& request, std::string_view path,
                                     std::int64_t now_ms, std::mt19937_64& random,
                                     std::optional<AccessKey>& issued) {
  if (path == kCredentialsUriPath) {
    if (request.method != "GET") return Plain(405, "Method Not Allowed");
    return IssueKey(now_ms, random, issued);
  }
  std::erase_if(tokens_, [now_ms](const auto& entry) { return now_ms >= entry.second; });
  if (request.method == "PUT" && path == "/latest/api/token") {
    const std::string_view ttl = request.Header("X-aliyun-ecs-metadata-token-ttl-seconds");
    if (ttl.empty() || ttl.size() > 5 ||
        ttl.find_first_not_of("0123456789") != std::string_view::npos ||
        std::stoll(std::string(ttl)) < 1 || std::stoll(std::string(ttl)) > kLongestTokenSeconds) {
      return Plain(400, "X-aliyun-ecs-metadata-token-ttl-seconds must be 1 to 21600");
    }
    if (tokens_.size() >= kTokenLimit) tokens_.erase(tokens_.begin());
    std::string token = RandomText(random, 40);
    tokens_.emplace(token, now_ms + std::stoll(std::string(ttl)) * 1000);
    return Plain(200, std::move(token));
  }
  if (request.method != "GET") return Plain(405, "Method Not Allowed");
  if (request.HasHeader("X-aliyun-ecs-metadata-token") &&
      !tokens_.contains(request.Header("X-aliyun-ecs-metadata-token"))) {
    return Plain(401, "Unauthorized");
  }
  if (path == kCredentialsPath) return Plain(200, role_);
  if (!path.starts_with(kCredentialsPath) || path.substr(kCredentialsPath.size()) != role_) {
    return Plain(404, "Not Found");
  }
  return IssueKey(now_ms, random, issued);
}

}  // namespace kestrune::sim
