#include "sim/sts.h"

#include <algorithm>
#include <string>

#include "core/ascii.h"
#include "sim/clock.h"

namespace kestrune::sim {
namespace {

constexpr std::int64_t kShortestSeconds = 900;
constexpr std::int64_t kLongestSeconds = 3600;

bool AllOf(std::string_view text, std::string_view extra) {
  return std::all_of(text.begin(), text.end(), [extra](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           extra.find(c) != std::string_view::npos;
  });
}

// "acs:ram::<account digits>:<kind>/<name>": the account, or "" when the
// text is not of that form.
std::string_view AccountOf(std::string_view arn, std::string_view kind) {
  constexpr std::string_view kPrefix = "acs:ram::";
  if (!arn.starts_with(kPrefix)) return {};
  arn.remove_prefix(kPrefix.size());
  const std::size_t colon = arn.find(':');
  if (colon == 0 || colon == std::string_view::npos) return {};
  const std::string_view account = arn.substr(0, colon);
  const std::string_view rest = arn.substr(colon + 1);
  if (!AllOf(account, "") || account.find_first_not_of("0123456789") != std::string_view::npos ||
      !rest.starts_with(kind) || rest.size() <= kind.size() + 1 || rest[kind.size()] != '/' ||
      !AllOf(rest.substr(kind.size() + 1), "-_.")) {
    return {};
  }
  return account;
}

std::string RandomText(std::mt19937_64& random, std::size_t length) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string text;
  text.reserve(length);
  for (std::size_t i = 0; i < length; ++i) text += kAlphabet[random() % kAlphabet.size()];
  return text;
}

ApiError Invalid(std::string_view name) {
  return {400, "InvalidParameter." + std::string(name),
          "The parameter " + std::string(name) + " is wrong."};
}

}  // namespace

bool IsStsHost(std::string_view host) {
  std::string lower(host);
  for (char& c : lower) c = core::LowerAscii(c);
  if (lower == "sts.aliyuncs.com") return true;
  for (std::string_view prefix : {"sts.", "sts-vpc."}) {
    if (lower.starts_with(prefix) && lower.ends_with(".aliyuncs.com") &&
        lower.size() > prefix.size() + 13) {
      return true;
    }
  }
  return false;
}

std::variant<StsResult, ApiError> RunStsAction(const std::vector<QueryParam>& params,
                                               std::string_view request_id, std::int64_t now_ms,
                                               std::mt19937_64& random) {
  const std::string_view action = ParamValue(params, "Action");
  const bool oidc = action == "AssumeRoleWithOIDC";
  if (action != "AssumeRole" && !oidc) {
    return ApiError{404, "InvalidAction.NotFound",
                    "Specified api is not found, please check your url and method."};
  }
  const std::vector<std::string_view> required =
      oidc ? std::vector<std::string_view>{"RoleArn", "OIDCProviderArn", "OIDCToken",
                                           "RoleSessionName"}
           : std::vector<std::string_view>{"RoleArn", "RoleSessionName"};
  for (std::string_view name : required) {
    if (ParamValue(params, name).empty()) return MissingParameterError(name);
  }
  const std::string_view role_arn = ParamValue(params, "RoleArn");
  const std::string_view account = AccountOf(role_arn, "role");
  if (account.empty()) return Invalid("RoleArn");
  const std::string_view session = ParamValue(params, "RoleSessionName");
  if (session.size() < 2 || session.size() > 64 || !AllOf(session, ".@-_")) {
    return Invalid("RoleSessionName");
  }
  std::int64_t seconds = kLongestSeconds;
  if (const std::string_view given = ParamValue(params, "DurationSeconds"); !given.empty()) {
    if (given.size() > 6 || given.find_first_not_of("0123456789") != std::string_view::npos) {
      return Invalid("DurationSeconds");
    }
    seconds = std::stoll(std::string(given));
    if (seconds < kShortestSeconds || seconds > kLongestSeconds) return Invalid("DurationSeconds");
  }
  if (oidc) {
    if (AccountOf(ParamValue(params, "OIDCProviderArn"), "oidc-provider") != account) {
      return Invalid("OIDCProviderArn");
    }
    // A JWT: three Base64url parts.
    const std::string_view token = ParamValue(params, "OIDCToken");
    const std::size_t first = token.find('.');
    const std::size_t second = first == std::string_view::npos ? first : token.find('.', first + 1);
    if (second == std::string_view::npos || first == 0 || second == first + 1 ||
        second + 1 == token.size() || token.find('.', second + 1) != std::string_view::npos ||
        !AllOf(token, "-_.=")) {
      return ApiError{400, "AuthenticationFail.OIDCToken.Invalid",
                      "The OIDCToken is invalid, please check and retry."};
    }
  }

  AccessKey issued;
  issued.id = "STS." + RandomText(random, 28);
  issued.secret = RandomText(random, 44);
  issued.security_token = "CAIS" + RandomText(random, 300);
  issued.expires_ms = now_ms + seconds * 1000;
  const std::string role_name(role_arn.substr(role_arn.rfind('/') + 1));
  Node root = Node::Object(std::string(action) + "Response");
  root.Str("RequestId", std::string(request_id));
  Node user = Node::Object("AssumedRoleUser");
  // Appended piece by piece: a chain of operator+ on a literal trips a false
  // -Wrestrict in g++ 12 at -O2.
  std::string arn = "acs:ram::";
  arn.append(account).append(":role/").append(role_name).append("/").append(session);
  user.Str("Arn", std::move(arn));
  std::string role_id = "3";
  role_id.append(std::to_string(random() % 100000000000000000ULL)).append(":").append(session);
  user.Str("AssumedRoleId", std::move(role_id));
  root.Add(std::move(user));
  Node credentials = Node::Object("Credentials");
  credentials.Str("SecurityToken", *issued.security_token);
  credentials.Str("AccessKeyId", issued.id);
  credentials.Str("AccessKeySecret", issued.secret);
  credentials.Str("Expiration", FormatTimestamp(issued.expires_ms));
  root.Add(std::move(credentials));
  if (oidc) {
    Node info = Node::Object("OIDCTokenInfo");
    info.Str("Issuer", "https://oidc.simulator.invalid");
    root.Add(std::move(info));
  }
  return StsResult{ActionReply{std::move(root), 0}, std::move(issued)};
}

}  // namespace kestrune::sim
