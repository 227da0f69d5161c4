#include "cli/settings.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "cli/output.h"
#include "engine/destination.h"
#include "request/small_file.h"
#include "transport/tls.h"

namespace kestrune::cli {
namespace {

// The vendor's tools' variables for an endpoint of their own choosing and
// for the default region.
constexpr std::string_view kVendorEndpointVariable = "ALIBABA_CLOUD_ENDPOINT";
constexpr std::string_view kRegionVariable = "ALIBABA_CLOUD_REGION_ID";

// A profile's `key` (its text `given_by_profile`) sets `value` unless the
// command line chose one; a text `parse` does not know is an error.
template <typename T, typename Parse>
core::Status FromProfile(const std::optional<T>& chosen, const std::string& given_by_profile,
                         std::string_view key, std::string_view accepted, Parse parse, T& value) {
  if (chosen || given_by_profile.empty()) return core::Status::Ok();
  const std::optional<T> parsed = parse(given_by_profile);
  if (!parsed) {
    std::string message = "the profile's ";
    message += key;
    message += " \"";
    message += EscapeLine(given_by_profile);
    message += "\" is neither ";
    message += accepted;
    return core::Status::Error(std::move(message));
  }
  value = *parsed;
  return core::Status::Ok();
}

}  // namespace

std::optional<std::string> NonEmptyEnv(const Console& console, std::string_view name) {
  std::optional<std::string> value = console.Env(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

void ApplyTimeouts(const CommandLine& line, engine::EngineOptions& options) {
  if (line.timeout) {
    // One time-out bounds each step and the whole exchange.
    options.connect_timeout = *line.timeout;
    options.idle_timeout = *line.timeout;
    options.exchange_timeout = *line.timeout;
    options.overall_timeout = *line.timeout;
  }
  if (line.connect_timeout) options.connect_timeout = *line.connect_timeout;
  if (line.read_timeout) options.idle_timeout = *line.read_timeout;
}

core::Result<Settings> ResolveSettings(const CommandLine& line, const Console& console) {
  Settings settings;
  engine::EngineOptions& options = settings.engine;
  engine::EndpointTexts endpoints;
  endpoints.given = line.endpoint;
  endpoints.vendor = NonEmptyEnv(console, kVendorEndpointVariable);
  endpoints.send_to = NonEmptyEnv(console, request::kEndpointVariable);
  if (core::Status chosen = engine::ChooseEndpoint(endpoints, options); !chosen.ok()) {
    return chosen;
  }
  options.endpoint_type = line.endpoint_type.value_or(catalogue::EndpointType::kPublic);
  options.signature_version = line.signature.value_or(request::SignatureVersion::kV1);
  const transport::ProxyTexts proxy = transport::ChooseProxyTexts(
      [&console](std::string_view name) { return console.Env(name); }, line.proxy);
  // Refused here as a usage error, naming the variable; the engine would
  // only fail the exchange.
  core::Result<transport::ProxySettings> parsed = transport::ParseProxySettings(proxy);
  if (!parsed.ok()) return parsed.status();
  engine::Route& route = options.route.emplace();
  route.proxy = std::move(parsed.value());
  options.http_proxy = proxy.http;
  options.https_proxy = proxy.https;
  options.no_proxy = proxy.no_proxy;
  if (line.ca_file) {
    options.ca_file = *line.ca_file;
  } else if (std::optional<std::string> from_env = NonEmptyEnv(console, request::kCaFileVariable)) {
    options.ca_file = *from_env;
  }
  if (!options.ca_file.empty()) {
    // Checked here so that a CA file that is not a readable regular file of
    // a sensible size is a usage error naming it; the connection reads it
    // again (the same way) when it trusts it.
    core::Result<std::string> ca = request::ReadSmallFile(options.ca_file, transport::kCaFileLimit);
    if (!ca.ok()) return core::Status::Error("the CA file: " + ca.status().message());
  }
  if (!options.endpoint_override.empty()) {
    core::Result<request::EndpointOverride> endpoint =
        request::ParseEndpointOverride(options.endpoint_override);
    if (!endpoint.ok()) return endpoint.status();
    route.endpoint = endpoint.value();
  }
  ApplyTimeouts(line, options);
  options.max_attempts = 1 + line.retries.value_or(kDefaultRetries);
  if (line.max_bytes) {
    options.max_join_bytes = static_cast<std::size_t>(
        std::min<std::uint64_t>(*line.max_bytes, std::numeric_limits<std::size_t>::max()));
  }
  if (ResolveFormat(line.format, console.OutputIsTerminal()) == OutputFormat::kJson) {
    options.reply_format = request::ReplyFormat::kJson;
  }
  // The vendor's tools' variable comes before the profile's region, as in
  // their own command line.
  if (line.region) {
    settings.region = *line.region;
    settings.region_source = "--region";
  } else if (std::optional<std::string> from_env = NonEmptyEnv(console, kRegionVariable)) {
    settings.region = *from_env;
    settings.region_source = kRegionVariable;
  }
  options.region = settings.region;
  return settings;
}

core::Status ApplyProfile(const CommandLine& line, const FoundCredentials& found,
                          Settings& settings) {
  engine::EngineOptions& options = settings.engine;
  if (settings.region.empty() && !found.region_id.empty()) {
    settings.region = found.region_id;
    settings.region_source = "the profile";
    options.region = settings.region;
  }
  core::Status status =
      FromProfile(line.endpoint_type, found.endpoint_type, "endpoint_type", "public nor vpc",
                  catalogue::ParseEndpointType, options.endpoint_type);
  if (!status.ok()) return status;
  return FromProfile(line.signature, found.signature_version, "signature_version", "v1 nor v3",
                     request::ParseSignatureVersion, options.signature_version);
}

}  // namespace kestrune::cli
