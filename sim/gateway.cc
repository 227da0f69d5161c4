#include "sim/gateway.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "catalogue/parameters.h"
#include "core/ascii.h"
#include "core/utf8.h"
#include "sim/api.h"
#include "sim/document.h"
#include "sim/metadata.h"
#include "sim/signature.h"
#include "sim/sts.h"

namespace kestrune::sim {
namespace {

constexpr std::string_view kFormContentType = "application/x-www-form-urlencoded";

constexpr std::string_view kCommonParameters[] = {
    "AccessKeyId",     "Action",         "Version",          "Signature",
    "SignatureMethod", "SignatureNonce", "SignatureVersion", "Timestamp"};

bool IsValidUtf8(std::string_view text) {
  char32_t code_point = 0;
  for (std::size_t length = 0; !text.empty(); text.remove_prefix(length)) {
    length = core::DecodeUtf8(text, code_point);
    if (length == 0) return false;
  }
  return true;
}

std::string_view HostWithoutPort(std::string_view host) {
  if (!host.empty() && host.front() == '[') {
    const std::size_t close = host.find(']');
    return close == std::string_view::npos ? host : host.substr(0, close + 1);
  }
  const std::size_t colon = host.rfind(':');
  return colon == std::string_view::npos ? host : host.substr(0, colon);
}

const char* kBadGatewayPage =
    "<html>\r\n<head><title>502 Bad Gateway</title></head>\r\n<body>\r\n"
    "<center><h1>502 Bad Gateway</h1></center>\r\n<hr><center>Tengine</center>\r\n"
    "</body>\r\n</html>\r\n";

}  // namespace

Gateway::Gateway(GatewayOptions options, const Clock& clock)
    : options_(std::move(options)),
      clock_(clock),
      world_(clock.NowMillis(), options_.seed),
      random_(std::random_device{}()),
      remaining_(options_.faults),
      metadata_(std::make_unique<MetadataService>(options_.instance_role)) {
  if (options_.keys.empty()) {
    options_.keys.push_back({std::string(kDemoAccessKeyId), std::string(kDemoAccessKeySecret)});
  }
}

Gateway::~Gateway() = default;

std::string Gateway::NewRequestId() {
  const std::uint64_t a = random_();
  const std::uint64_t b = random_();
  char buffer[40];
  // Version 4, variant 1, upper-case as the service writes it.
  std::snprintf(buffer, sizeof buffer, "%08X-%04X-4%03X-%04X-%012llX",
                static_cast<unsigned>(a >> 32), static_cast<unsigned>((a >> 16) & 0xFFFF),
                static_cast<unsigned>(a & 0x0FFF),
                static_cast<unsigned>(0x8000 | ((b >> 48) & 0x3FFF)),
                static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFULL));
  return buffer;
}

void Gateway::RememberIssuedKey(AccessKey key, std::int64_t now) {
  std::erase_if(options_.keys, [now](const AccessKey& old) {
    return old.expires_ms != 0 && now >= old.expires_ms;
  });
  const auto issued = [](const AccessKey& old) { return old.expires_ms != 0; };
  if (static_cast<std::size_t>(std::count_if(options_.keys.begin(), options_.keys.end(), issued)) >=
      kIssuedKeyLimit) {
    options_.keys.erase(std::find_if(options_.keys.begin(), options_.keys.end(), issued));
  }
  if (!options_.issued_keys_file.empty()) {
    std::ofstream out(options_.issued_keys_file, std::ios::app);
    out << key.id << ' ' << key.secret << ' ' << key.security_token.value_or("") << '\n';
  }
  options_.keys.push_back(std::move(key));
}

bool Gateway::RecordNonce(std::string_view key_id, std::string_view nonce, std::int64_t now) {
  if (options_.nonce_window_ms <= 0) return true;
  // Forget what has left the window, and only that: forgetting a nonce
  // still inside it would let its request be replayed.
  while (!nonce_order_.empty() && now - nonce_order_.front().seen_ms > options_.nonce_window_ms) {
    const auto it = nonces_.find(nonce_order_.front().key);
    if (it != nonces_.end() && it->second == nonce_order_.front().seen_ms) nonces_.erase(it);
    nonce_order_.pop_front();
  }
  std::string key(key_id);
  key.push_back('\n');
  key.append(nonce);
  const auto it = nonces_.find(key);
  if (it != nonces_.end() && now - it->second <= options_.nonce_window_ms) return false;
  nonces_[key] = now;
  nonce_order_.push_back({std::move(key), now});
  return true;
}

HttpResponse Gateway::ErrorResponse(const ErrorReply& error, std::string_view host,
                                    std::string_view request_id, bool json) const {
  HttpResponse response;
  response.status = error.status;
  const std::string recommend =
      "https://error-center.aliyun.com/status/search?Keyword=" + error.code + "&source=PopGw";
  std::string& body = response.body;
  if (json) {
    response.content_type = "application/json;charset=UTF-8";
    body = "{\"RequestId\":\"";
    AppendJsonEscaped(body, request_id);
    body += "\",\"HostId\":\"";
    AppendJsonEscaped(body, host);
    body += "\",\"Code\":\"";
    AppendJsonEscaped(body, error.code);
    body += "\",\"Message\":\"";
    AppendJsonEscaped(body, error.message);
    body += "\",\"Recommend\":\"";
    AppendJsonEscaped(body, recommend);
    body += "\"}";
  } else {
    body = "<?xml version='1.0' encoding='UTF-8'?><Error><RequestId>";
    AppendXmlEscaped(body, request_id);
    body += "</RequestId><HostId>";
    AppendXmlEscaped(body, host);
    body += "</HostId><Code>";
    AppendXmlEscaped(body, error.code);
    body += "</Code><Message>";
    AppendXmlEscaped(body, error.message);
    body += "</Message><Recommend><![CDATA[";
    body += recommend;
    body += "]]></Recommend></Error>";
  }
  response.headers.emplace_back("x-acs-request-id", std::string(request_id));
  return response;
}

Outcome Gateway::Malformed(int status, std::string_view reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  ErrorReply error{status, "BadRequest", "The request is malformed: " + std::string(reason) + "."};
  if (status == 431) {
    error.code = "RequestHeaderFieldsTooLarge";
    error.message = "The request header fields are too large.";
  } else if (status == 408) {
    error.code = "RequestTimeout";
    error.message = "The request was not received in time.";
  }
  Outcome outcome;
  const std::string request_id = NewRequestId();
  const ServiceInfo& info = InfoFor(options_.default_service.value_or(Service::kEcs));
  outcome.response = ErrorResponse(error, info.host, request_id, false);
  outcome.service = info.name;
  outcome.outcome = error.code;
  return outcome;
}

Outcome Gateway::Handle(const HttpRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  return HandleLocked(request, clock_.NowMillis());
}

Outcome Gateway::HandleLocked(const HttpRequest& request, std::int64_t now) {
  Outcome outcome;
  outcome.delay_ms = options_.faults.delay_ms;
  const std::string request_id = NewRequestId();

  // Route: the Host header names the service; else the configured default.
  const std::string_view host_header = request.Header("Host");
  const std::optional<Service> by_host = ServiceForHost(host_header);
  const Service service = by_host.value_or(options_.default_service.value_or(Service::kEcs));
  const ServiceInfo& info = InfoFor(service);
  outcome.service = info.name;
  // HostId echoes the host called; a Host header that is no host name is not echoed.
  const bool plain_host = !host_header.empty() && host_header.size() <= 255 &&
                          std::all_of(host_header.begin(), host_header.end(), [](char c) {
                            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                   (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':' ||
                                   c == '[' || c == ']' || c == '_';
                          });
  const std::string host(plain_host ? HostWithoutPort(host_header) : info.host);

  bool json = false;
  auto fail = [&](int status, std::string code, std::string message) {
    outcome.response = ErrorResponse({status, code, std::move(message)}, host, request_id, json);
    outcome.outcome = std::move(code);
    return outcome;
  };

  std::string_view target = request.target;
  // Through a proxy the target comes in absolute form: drop scheme and authority.
  const bool absolute = target.starts_with("http://") || target.starts_with("https://");
  if (absolute) {
    const std::size_t rest = target.find_first_of("/?", target.find("//") + 2);
    target = rest == std::string_view::npos ? std::string_view() : target.substr(rest);
  }
  const std::size_t question = target.find('?');
  std::string_view path = target.substr(0, question);
  if (absolute && path.empty()) path = "/";
  const std::string_view raw_query =
      question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
  // A form POST carries its parameters (or some of them) in the body; the
  // service reads query and body as one parameter set.
  const bool form_post =
      request.method == "POST" &&
      core::EqualsIgnoreCase(request.Header("Content-Type").substr(0, kFormContentType.size()),
                             kFormContentType);
  std::string all_parameters(raw_query);
  if (form_post && !request.body.empty()) {
    if (!all_parameters.empty()) all_parameters += '&';
    all_parameters += request.body;
  }
  auto parsed = ParseQuery(all_parameters);
  std::vector<QueryParam> params;
  // A version 3 request carries its common items as headers: they join the
  // parameters under their version 1 names, so the checks below read one set.
  core::Result<V3Authorization> v3 = ParseV3Authorization(request.Header("Authorization"));
  if (parsed.ok()) {
    params = std::move(parsed.value());
    if (v3.ok()) {
      for (const auto& [name, header] :
           {std::pair{"Action", "x-acs-action"}, std::pair{"Version", "x-acs-version"},
            std::pair{"SignatureNonce", "x-acs-signature-nonce"},
            std::pair{"Timestamp", "x-acs-date"},
            std::pair{"SecurityToken", "x-acs-security-token"}}) {
        if (request.HasHeader(header))
          params.push_back({name, std::string(request.Header(header))});
      }
      params.push_back({"AccessKeyId", v3->credential});
    }
    json = core::EqualsIgnoreCase(ParamValue(params, "Format"), "JSON");
    outcome.action = ParamValue(params, "Action");
    if (!IsValidUtf8(outcome.action)) outcome.action.assign(1, '?');
    outcome.nonce = ParamValue(params, "SignatureNonce");
    outcome.client_token = ParamValue(params, "ClientToken");
    const auto late = options_.region_latency_ms.find(ParamValue(params, "RegionId"));
    if (late != options_.region_latency_ms.end()) outcome.delay_ms += late->second;
  }

  // Connection faults come before any check.
  if (remaining_.close > 0) {
    --remaining_.close;
    outcome.disposition = Disposition::kCloseWithoutReply;
    outcome.outcome = "fault:close";
    return outcome;
  }
  if (remaining_.bad_gateway > 0) {
    --remaining_.bad_gateway;
    outcome.response.status = 502;
    outcome.response.content_type = std::string("text/html");
    outcome.response.body = std::string(kBadGatewayPage);
    outcome.outcome = "fault:502";
    return outcome;
  }
  if (remaining_.half > 0) {
    --remaining_.half;
    outcome.disposition = Disposition::kHalfThenReset;
  }
  if (remaining_.unavailable > 0) {
    --remaining_.unavailable;
    Outcome refused = fail(503, "ServiceUnavailable",
                           "The request has failed due to a temporary failure of the server.");
    refused.response.headers.emplace_back("x-acs-retry-after",
                                          std::to_string(kUnavailableRetryAfterMs));
    return refused;
  }

  if (path.starts_with(kMetadataPrefix) || path == kCredentialsUriPath) {
    std::optional<AccessKey> issued;
    outcome.response = metadata_->Handle(request, path, now, random_, issued);
    outcome.service = "metadata";
    outcome.action = std::string(path.substr(0, 64));
    outcome.outcome =
        outcome.response.status == 200 ? "ok" : std::to_string(outcome.response.status);
    if (issued) RememberIssuedKey(std::move(*issued), now);
    return outcome;
  }
  if (request.method != "GET" && request.method != "POST") {
    return fail(403, "UnsupportedHTTPMethod", "This HTTP method is not supported.");
  }
  if (!parsed.ok()) {
    return fail(400, "InvalidParameter", InvalidParameterError(parsed.status().message()).message);
  }
  for (const QueryParam& p : params) {
    if (!IsValidUtf8(p.name) || !IsValidUtf8(p.value)) {
      const std::string name = IsValidUtf8(p.name) ? p.name : PercentEncode(p.name);
      return fail(400, "InvalidParameter", InvalidParameterError(name).message);
    }
  }
  if (path != "/") {
    return fail(404, "InvalidAction.NotFound",
                "Specified api is not found, please check your url and method.");
  }
  auto answer = [&](ActionReply& reply) {
    outcome.response.status = 200;
    if (json) {
      outcome.response.content_type = "application/json;charset=UTF-8";
      outcome.response.body = reply.root.ToJson();
    } else {
      outcome.response.body = reply.root.ToXml();
    }
    outcome.response.chunk_size = reply.chunk_size;
    outcome.response.headers.emplace_back("x-acs-request-id", request_id);
    outcome.outcome = "ok";
  };
  const bool to_sts = plain_host && IsStsHost(host);
  auto issue_key = [&]() {
    if (ParamValue(params, "Version") != kStsVersion) {
      return fail(400, "InvalidVersion", "Specified parameter Version is not valid.");
    }
    auto issued = RunStsAction(params, request_id, now, random_);
    if (auto* error = std::get_if<ApiError>(&issued)) {
      return fail(error->status, error->code, error->message);
    }
    StsResult& result = std::get<StsResult>(issued);
    RememberIssuedKey(std::move(result.issued), now);
    answer(result.reply);
    return outcome;
  };
  // The OIDC token vouches for the caller: no key signs this one.
  if (to_sts && outcome.action == "AssumeRoleWithOIDC") return issue_key();
  for (std::string_view name : kCommonParameters) {
    if (v3.ok() &&
        (name == "Signature" || name == "SignatureMethod" || name == "SignatureVersion")) {
      continue;
    }
    if (ParamValue(params, name).empty()) {
      const ApiError error = MissingParameterError(name);
      return fail(error.status, error.code, error.message);
    }
  }
  if (!v3.ok() && ParamValue(params, "SignatureMethod") != "HMAC-SHA1") {
    return fail(400, "InvalidParameter", InvalidParameterError("SignatureMethod").message);
  }
  if (!v3.ok() && ParamValue(params, "SignatureVersion") != "1.0") {
    return fail(400, "InvalidParameter", InvalidParameterError("SignatureVersion").message);
  }
  // Refused for its signature version alone, before the key is looked at:
  // nothing is carried out.
  if (!v3.ok() && remaining_.unsupported_v1 > 0) {
    --remaining_.unsupported_v1;
    return fail(400, "UnsupportedSignatureVersion",
                "The specified signature version is not supported by this API.");
  }

  const std::string_view key_id = ParamValue(params, "AccessKeyId");
  const AccessKey* key = nullptr;
  for (const AccessKey& candidate : options_.keys) {
    if (candidate.id == key_id) key = &candidate;
  }
  if (key == nullptr) {
    return fail(404, "InvalidAccessKeyId.NotFound", "Specified access key is not found.");
  }

  const auto timestamp = ParseTimestamp(ParamValue(params, "Timestamp"));
  if (!timestamp) {
    // The service's wording for a Timestamp it cannot read, odd as it is.
    return fail(400, "IllegalTimestamp",
                "The input parameter \"Timestamp\" that is mandatory for processing this request "
                "is not supplied.");
  }
  if (*timestamp - now > options_.timestamp_window_ms ||
      now - *timestamp > options_.timestamp_window_ms) {
    return fail(400, "InvalidTimeStamp.Expired", "Specified time stamp or date value is expired.");
  }

  if (v3.ok()) {
    // Version 3: the listed headers, which must cover the ones the service
    // requires, and the body's hash as sent.
    std::vector<std::pair<std::string, std::string>> signed_headers;
    for (const std::string& name : v3->signed_headers) {
      signed_headers.emplace_back(name, std::string(request.Header(name)));
    }
    for (const std::string_view required : {"host", "x-acs-action", "x-acs-version", "x-acs-date",
                                            "x-acs-signature-nonce", "x-acs-content-sha256"}) {
      if (std::find(v3->signed_headers.begin(), v3->signed_headers.end(), required) ==
          v3->signed_headers.end()) {
        return fail(
            400, "IncompleteSignature",
            "The request signature does not sign the header " + std::string(required) + ".");
      }
    }
    if (request.Header("x-acs-content-sha256") != Sha256Hex(request.body)) {
      return fail(400, "ContentSHA256NotMatch",
                  "The x-acs-content-sha256 header does not match the body.");
    }
    auto query_only = ParseQuery(raw_query);
    const std::string canonical = V3CanonicalRequest(
        request.method, query_only.ok() ? CanonicalQuery(query_only.value()) : std::string(),
        signed_headers, request.Header("x-acs-content-sha256"));
    if (!SignaturesEqual(V3Signature(key->secret, canonical), v3->signature)) {
      return fail(400, "SignatureDoesNotMatch",
                  "The request signature does not conform to Aliyun standards. server string to "
                  "sign is:" +
                      canonical);
    }
  }
  std::string string_to_sign;
  if (options_.faults.alter.empty()) {
    string_to_sign = StringToSign(request.method, CanonicalQuery(params));
  } else {
    std::vector<QueryParam> altered = params;
    for (QueryParam& p : altered) {
      if (p.name == options_.faults.alter) p.value += kAlteredSuffix;
    }
    string_to_sign = StringToSign(request.method, CanonicalQuery(altered));
  }
  if (!v3.ok() && !SignaturesEqual(ComputeSignature(key->secret, string_to_sign),
                                   ParamValue(params, "Signature"))) {
    return fail(400, "SignatureDoesNotMatch",
                "Specified signature is not matched with our calculation. server string to sign "
                "is:" +
                    string_to_sign);
  }

  if (key->security_token && ParamValue(params, "SecurityToken") != *key->security_token) {
    return fail(400, "InvalidSecurityToken.Malformed", "Specified SecurityToken is malformed.");
  }
  if (key->expires_ms != 0 && now >= key->expires_ms) {
    return fail(400, "InvalidSecurityToken.Expired", "Specified SecurityToken is expired.");
  }

  if (options_.throttle_rate > 0) {
    // A sliding window: at most RATE accepted requests in any one second, so
    // a burst that straddles a second's boundary is no way around the rate.
    // A refused request takes no place in the window.
    std::deque<std::int64_t>& accepted = throttle_[key->id];
    while (!accepted.empty() && now - accepted.front() >= kThrottleWindowMs) accepted.pop_front();
    if (accepted.size() < static_cast<std::size_t>(options_.throttle_rate)) {
      accepted.push_back(now);
    } else {
      // When the oldest request leaves the window, a place is free again.
      const std::int64_t reset_at = accepted.front() + kThrottleWindowMs;
      Outcome throttled =
          fail(400, "Throttling.User", "Request was denied due to user flow control.");
      throttled.response.headers.emplace_back(
          "x-ratelimit-user-api", "Limit:" + std::to_string(options_.throttle_rate) +
                                      ",Remain:0,TimeLeft:" + std::to_string(reset_at - now) +
                                      ",Reset:" + std::to_string(reset_at));
      return throttled;
    }
  }

  if (!RecordNonce(key_id, ParamValue(params, "SignatureNonce"), now)) {
    return fail(400, "SignatureNonceUsed", "Specified signature nonce was used already.");
  }

  if (to_sts) return issue_key();
  if (ParamValue(params, "Version") != info.version) {
    return fail(400, "InvalidVersion", "Specified parameter Version is not valid.");
  }
  const ActionInfo* action = FindAction(service, outcome.action);
  const std::optional<catalogue::ResolvedAction> listed = ListedAction(service, outcome.action);
  if (action == nullptr && !listed) {
    return fail(404, "InvalidAction.NotFound",
                "Specified api is not found, please check your url and method.");
  }
  if (listed) {
    // The published list first, as the service's front end checks it.
    std::vector<std::pair<std::string_view, std::string_view>> received;
    received.reserve(params.size());
    for (const QueryParam& p : params) received.emplace_back(p.name, p.value);
    if (const std::optional<catalogue::ReceivedFault> fault =
            catalogue::CheckReceivedParameters(*listed, received)) {
      const ApiError error =
          fault->missing ? MissingParameterError(fault->name) : InvalidParameterError(fault->name);
      return fail(error.status, error.code, error.message);
    }
  }
  std::string_view required = action != nullptr ? action->required : std::string_view();
  while (!required.empty()) {
    const std::size_t space = required.find(' ');
    const std::string_view name = required.substr(0, space);
    required = space == std::string_view::npos ? std::string_view() : required.substr(space + 1);
    if (ParamValue(params, name).empty()) {
      const ApiError error = MissingParameterError(name);
      return fail(error.status, error.code, error.message);
    }
  }
  if (service == Service::kEcs) {
    const std::string_view region = ParamValue(params, "RegionId");
    if (!region.empty() && FindRegion(region) == nullptr) {
      return fail(400, "InvalidParameter", InvalidParameterError("RegionId").message);
    }
  }

  if (remaining_.nonce_used > 0) {
    --remaining_.nonce_used;
    return fail(400, "SignatureNonceUsed", "Specified signature nonce was used already.");
  }

  // A page walk that breaks off part-way, for clients' tests of their pager.
  if (remaining_.page > 0 && AsksForLaterPage(params) && --remaining_.page == 0) {
    return fail(500, "InternalError",
                "The request processing has failed due to some unknown error, exception or "
                "failure.");
  }

  world_.Settle(now);
  const ActionCall call{service, outcome.action, &params, request_id, now, options_.transition_ms};
  auto result = action != nullptr ? RunAction(world_, *action, call) : AnswerByKind(world_, call);
  if (auto* error = std::get_if<ApiError>(&result)) {
    return fail(error->status, error->code, error->message);
  }
  ActionReply& reply = std::get<ActionReply>(result);
  if (options_.faults.big_mib > 0) {
    // Pad inside the root so the reply stays one well-formed document.
    const std::size_t target_size = static_cast<std::size_t>(options_.faults.big_mib) << 20;
    const std::size_t base = json ? reply.root.ToJson().size() : reply.root.ToXml().size();
    const std::size_t overhead = json ? 13 : 19;  // ,"Padding":"" or the two tags
    const std::size_t fill = target_size > base + overhead ? target_size - base - overhead : 0;
    reply.root.Str("Padding", std::string(fill, 'x'));
  }
  answer(reply);
  if (remaining_.reset > 0) {
    // Carried out; the reply is lost with the connection.
    --remaining_.reset;
    outcome.disposition = Disposition::kResetWithoutReply;
  }
  return outcome;
}

}  // namespace kestrune::sim
