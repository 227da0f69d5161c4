#include "engine/token_service.h"

#include <nlohmann/json.hpp>

#include <utility>

#include "core/json_depth.h"
#include "engine/credential_helpers.h"
#include "request/escape.h"
#include "request/signer.h"
#include "request/small_file.h"

namespace kestrune::engine {
namespace {

using Json = nlohmann::json;

constexpr int kShortestDuration = 900;
// A projected service-account token is a few kilobytes at most.
constexpr std::size_t kOidcTokenLimit = 64 * 1024;

std::string Member(const Json& object, std::string_view key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return {};
  return found->get<std::string>();
}

// One line of service text as a message may carry it.
std::string OneLine(std::string text) {
  for (char& ch : text) {
    if (static_cast<unsigned char>(ch) < 0x20) ch = ' ';
  }
  return text;
}

core::Result<transport::HttpReply> Exchange(const TokenService& service,
                                            const request::HttpRequest& http,
                                            std::string_view step) {
  transport::HttpReply reply;
  const request::ServiceEndpoint endpoint{service.host, "Host: " + service.host + "\r\n",
                                          "Version=" + std::string(kStsVersion)};
  const core::Status sent =
      transport::HttpExchange(endpoint, http, service.send_to, service.exchange, reply);
  if (!sent.ok()) {
    return core::Status::Connection(std::string(step) + " failed:\n" + sent.message());
  }
  return reply;
}

std::string SessionName(const RoleRequest& role, const request::Clock& clock) {
  if (!role.session_name.empty()) return role.session_name;
  return "kestrune-" + std::to_string(ToTimePoint(clock.NowUtc()).time_since_epoch().count());
}

std::string Step(std::string_view action, const RoleRequest& role, const TokenService& service) {
  return std::string(action) + " of role " + role.role_arn + " at " +
         (service.send_to ? request::EndpointText(*service.send_to) + " (" + service.host + ")"
                          : service.host);
}

class AssumeRoleProvider final : public request::CredentialProvider {
 public:
  AssumeRoleProvider(BaseCredentials base, RoleRequest role, TokenService service,
                     const request::Clock& clock, std::string description)
      : base_(std::move(base)),
        role_(std::move(role)),
        service_(std::move(service)),
        clock_(clock),
        description_(std::move(description)) {}

  core::Result<request::IssuedCredentials> Fetch() override {
    const std::string step = Step("AssumeRole", role_, service_);
    core::Result<request::Credentials> base = base_();
    if (!base.ok()) return base.status();
    request::ActionParameterList parameters;
    std::vector<std::string> items = {"Action=AssumeRole", "RoleArn=" + role_.role_arn,
                                      "RoleSessionName=" + SessionName(role_, clock_),
                                      "DurationSeconds=" + std::to_string(role_.duration_seconds)};
    if (!role_.policy.empty()) items.push_back("Policy=" + role_.policy);
    if (!role_.external_id.empty()) items.push_back("ExternalId=" + role_.external_id);
    for (const std::string& item : items) {
      if (core::Status added = parameters.Append(item); !added.ok()) {
        return core::Status::InvalidInput(step + ": " + added.message());
      }
    }
    const request::ServiceEndpoint endpoint{service_.host, "Host: " + service_.host + "\r\n",
                                            "Version=" + std::string(kStsVersion)};
    core::Result<request::SignedRequest> signed_request =
        request::BuildSignedRequest(base.value(), endpoint, parameters, clock_,
                                    request::HttpMethod::kAuto, request::ReplyFormat::kJson);
    if (!signed_request.ok()) {
      return core::Status::InvalidInput(step + ": " + signed_request.status().message());
    }
    core::Result<transport::HttpReply> reply = Exchange(service_, signed_request->http, step);
    if (!reply.ok()) return reply.status();
    return ReadTokenReply(reply.value(), step);
  }

  std::string Describe() const override { return description_; }

 private:
  BaseCredentials base_;
  RoleRequest role_;
  TokenService service_;
  const request::Clock& clock_;
  std::string description_;
};

class OidcProvider final : public request::CredentialProvider {
 public:
  OidcProvider(RoleRequest role, TokenService service, const request::Clock& clock,
               std::string description)
      : role_(std::move(role)),
        service_(std::move(service)),
        clock_(clock),
        description_(std::move(description)) {}

  core::Result<request::IssuedCredentials> Fetch() override {
    const std::string step = Step("AssumeRoleWithOIDC", role_, service_);
    core::Result<std::string> token =
        request::ReadSmallFile(role_.oidc_token_file, kOidcTokenLimit);
    if (!token.ok()) {
      return core::Status::Error(step + ": the OIDC token file: " + token.status().message());
    }
    const std::string_view trimmed = request::TrimCredentialText(token.value());
    if (trimmed.empty()) {
      return core::Status::Error(step + ": the OIDC token file " + role_.oidc_token_file +
                                 " is empty");
    }
    std::string body = "Action=AssumeRoleWithOIDC&Format=JSON&Version=" + std::string(kStsVersion) +
                       "&Timestamp=" + request::MakeTimestamps(clock_).url_form +
                       "&SignatureNonce=" + request::MakeNonce(clock_);
    const std::pair<std::string_view, std::string> items[] = {
        {"RoleArn", role_.role_arn},
        {"OIDCProviderArn", role_.oidc_provider_arn},
        {"OIDCToken", std::string(trimmed)},
        {"RoleSessionName", SessionName(role_, clock_)},
        {"DurationSeconds", std::to_string(role_.duration_seconds)},
        {"Policy", role_.policy},
    };
    for (const auto& [name, value] : items) {
      // Appended piece by piece: MinGW g++ 12 warns falsely (-Wrestrict) on
      // a chained operator+ here.
      if (value.empty()) continue;
      body += '&';
      body += name;
      body += '=';
      body += request::PercentEncode(value);
    }
    request::HttpRequest http;
    http.method = "POST";
    http.fields = {{"Host", service_.host}};
    http.form = std::move(body);
    core::Result<transport::HttpReply> reply = Exchange(service_, http, step);
    if (!reply.ok()) return reply.status();
    return ReadTokenReply(reply.value(), step);
  }

  std::string Describe() const override { return description_; }

 private:
  RoleRequest role_;
  TokenService service_;
  const request::Clock& clock_;
  std::string description_;
};

class InstanceRoleProvider final : public request::CredentialProvider {
 public:
  InstanceRoleProvider(InstanceRole role, request::EndpointOverride to, std::string description)
      : role_(std::move(role)), to_(std::move(to)), description_(std::move(description)) {
    exchange_.connect_timeout = std::chrono::seconds(1);
    exchange_.idle_timeout = std::chrono::seconds(1);
    exchange_.exchange_timeout = std::chrono::seconds(1);
  }

  core::Result<request::IssuedCredentials> Fetch() override {
    const std::string where = request::EndpointText(to_);
    std::string token;
    {
      core::Result<transport::HttpReply> reply =
          Send("PUT", "/latest/api/token",
               request::HttpField{"X-aliyun-ecs-metadata-token-ttl-seconds", "21600"});
      if (reply.ok() && reply->head.status == 200) {
        token = std::string(request::TrimCredentialText(reply->body));
      } else if (role_.token_required) {
        return core::Status::Connection(
            "getting a session token from the instance metadata service at " + where +
            " failed (ALIBABA_CLOUD_IMDSV1_DISABLED=true, so reads without one are not tried):\n" +
            Failure(reply));
      }
    }
    std::optional<request::HttpField> token_header;
    if (!token.empty()) token_header = request::HttpField{"X-aliyun-ecs-metadata-token", token};
    constexpr std::string_view kPath = "/latest/meta-data/ram/security-credentials/";
    std::string role = role_.role_name;
    if (role.empty()) {
      core::Result<transport::HttpReply> reply = Send("GET", std::string(kPath), token_header);
      if (!reply.ok() || reply->head.status != 200 ||
          request::TrimCredentialText(reply->body).empty()) {
        return core::Status::Connection("discovering the instance's RAM role at " + where +
                                        " failed:\n" + Failure(reply));
      }
      role = std::string(request::TrimCredentialText(reply->body));
      if (const std::size_t end = role.find('\n'); end != std::string::npos) role.resize(end);
    }
    const std::string step = "reading the credentials of RAM role \"" + OneLine(role) +
                             "\" from the instance metadata service at " + where;
    if (role.find_first_of("/?#% \r\n") != std::string::npos) {
      return core::Status::InvalidInput(step + ": the role name holds a character no role has");
    }
    core::Result<transport::HttpReply> reply = Send("GET", std::string(kPath) + role, token_header);
    if (!reply.ok() || reply->head.status != 200) {
      return core::Status::Connection(step + " failed" +
                                      (reply.ok() && reply->head.status == 404
                                           ? " (is that role attached to this instance?)"
                                           : std::string()) +
                                      ":\n" + Failure(reply));
    }
    return ReadCredentialsDocument(reply->body, step);
  }

  std::string Describe() const override { return description_; }

 private:
  static std::string Failure(const core::Result<transport::HttpReply>& reply) {
    if (!reply.ok()) return reply.status().message();
    return OneLine(reply->head.start_line);
  }

  core::Result<transport::HttpReply> Send(std::string_view method, const std::string& path,
                                          std::optional<request::HttpField> field) {
    const std::string host = to_.host + ":" + std::to_string(to_.port);
    request::HttpRequest http;
    http.method = std::string(method);
    http.target = path;
    http.fields.push_back({"Host", host});
    if (field) http.fields.push_back(std::move(*field));
    http.fields.push_back({"Content-Length", "0"});
    const request::ServiceEndpoint endpoint{to_.host, "Host: " + host + "\r\n", ""};
    transport::HttpReply reply;
    const core::Status sent = transport::HttpExchange(endpoint, http, to_, exchange_, reply);
    if (!sent.ok()) return sent;
    return reply;
  }

  InstanceRole role_;
  request::EndpointOverride to_;
  transport::ExchangeOptions exchange_;
  std::string description_;
};

}  // namespace

core::Result<std::unique_ptr<request::CredentialProvider>> MakeInstanceRoleProvider(
    InstanceRole role, std::string description) {
  request::EndpointOverride to{"100.100.100.200", request::kDefaultHttpPort,
                               request::Scheme::kHttp};
  if (!role.send_to.empty()) {
    core::Result<request::EndpointOverride> parsed = request::ParseEndpointOverride(role.send_to);
    if (!parsed.ok()) {
      return core::Status::InvalidInput(std::string(kMetadataEndpointVariable) + ": " +
                                        parsed.status().message());
    }
    to = parsed.value();
  }
  return std::unique_ptr<request::CredentialProvider>(std::make_unique<InstanceRoleProvider>(
      std::move(role), std::move(to), std::move(description)));
}

core::Result<TokenService> ChooseTokenService(std::string_view sts_endpoint,
                                              std::string_view sts_region,
                                              const std::optional<std::string>& send_to,
                                              const transport::ExchangeOptions& exchange) {
  TokenService service{"sts.aliyuncs.com", std::nullopt, exchange};
  if (!sts_region.empty()) service.host = "sts." + std::string(sts_region) + ".aliyuncs.com";
  if (!sts_endpoint.empty()) {
    core::Result<request::EndpointChoice> choice = request::ParseEndpointChoice(sts_endpoint);
    if (!choice.ok())
      return core::Status::InvalidInput("sts_endpoint: " + choice.status().message());
    if (choice->names_host) {
      service.host = choice->to.host;
      if (choice->to.scheme != request::Scheme::kHttps ||
          choice->to.port != request::kDefaultHttpsPort) {
        service.send_to = choice->to;
      }
    } else {
      service.send_to = choice->to;  // an address: the Host stays the service's
    }
  }
  if (send_to && !send_to->empty()) {
    core::Result<request::EndpointOverride> to = request::ParseEndpointOverride(*send_to);
    if (!to.ok()) {
      return core::Status::InvalidInput(std::string(kStsEndpointVariable) + ": " +
                                        to.status().message());
    }
    service.send_to = to.value();
  }
  return service;
}

core::Status CheckRoleRequest(const RoleRequest& role, bool oidc, std::string_view what) {
  const std::string name(what);
  if (role.role_arn.empty()) return core::Status::InvalidInput(name + " names no role");
  if (role.duration_seconds < kShortestDuration) {
    return core::Status::InvalidInput(name + ": credentials last at least " +
                                      std::to_string(kShortestDuration) + " seconds");
  }
  if (oidc && (role.oidc_provider_arn.empty() || role.oidc_token_file.empty())) {
    return core::Status::InvalidInput(name + " needs an OIDC provider and a token file");
  }
  return core::Status::Ok();
}

std::unique_ptr<request::CredentialProvider> MakeAssumeRoleProvider(BaseCredentials base,
                                                                    RoleRequest role,
                                                                    TokenService service,
                                                                    const request::Clock& clock,
                                                                    std::string description) {
  return std::make_unique<AssumeRoleProvider>(std::move(base), std::move(role), std::move(service),
                                              clock, std::move(description));
}

std::unique_ptr<request::CredentialProvider> MakeOidcProvider(RoleRequest role,
                                                              TokenService service,
                                                              const request::Clock& clock,
                                                              std::string description) {
  return std::make_unique<OidcProvider>(std::move(role), std::move(service), clock,
                                        std::move(description));
}

core::Result<request::IssuedCredentials> ReadTokenReply(const transport::HttpReply& reply,
                                                        std::string_view step) {
  const std::string failed = std::string(step) + " failed:\n";
  const std::string& body = reply.body;
  const Json document = core::JsonNestsDeeperThan(body)
                            ? Json(nullptr)
                            : Json::parse(body.begin(), body.end(), nullptr, false);
  if (!document.is_object()) {
    return core::Status::ServiceError(failed + "the reply (" + OneLine(reply.head.start_line) +
                                      ") is not the token service's JSON");
  }
  const std::string code = Member(document, "Code");
  if (reply.head.status != 200 || !code.empty()) {
    std::string line = code.empty() ? OneLine(reply.head.start_line) : OneLine(code);
    if (const std::string message = Member(document, "Message"); !message.empty()) {
      line += ": " + OneLine(message);
    }
    if (const std::string id = Member(document, "RequestId"); !id.empty()) {
      line += " (RequestId " + OneLine(id) + ")";
    }
    return core::Status::ServiceError(failed + line);
  }
  const auto credentials = document.find("Credentials");
  if (credentials == document.end() || !credentials->is_object()) {
    return core::Status::ServiceError(failed + "the reply holds no Credentials");
  }
  request::IssuedCredentials issued{
      {Member(*credentials, "AccessKeyId"), Member(*credentials, "AccessKeySecret"),
       Member(*credentials, "SecurityToken")},
      request::ParseExpiration(Member(*credentials, "Expiration"))};
  if (issued.credentials.access_key_id.empty() || issued.credentials.access_key_secret.empty() ||
      issued.credentials.security_token.empty() || !issued.expiration) {
    return core::Status::ServiceError(
        failed + "the reply's Credentials lack a key, a secret, a token or a readable Expiration");
  }
  return issued;
}

}  // namespace kestrune::engine
