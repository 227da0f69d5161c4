#include "engine/destination.h"

#include <string_view>
#include <utility>

namespace kestrune::engine {
namespace {

constexpr std::string_view kRegionId = "RegionId";

// The request's own RegionId; empty when none is given.
std::string_view RegionIdOf(const catalogue::ParameterValues& values) {
  return values.Get(kRegionId).value_or(std::string_view());
}

core::Result<request::EndpointChoice> Parse(std::string_view source, const std::string& text) {
  core::Result<request::EndpointChoice> choice = request::ParseEndpointChoice(text);
  if (choice.ok()) return choice;
  return core::Status::InvalidInput(std::string(source) + ": bad endpoint \"" + text +
                                    "\": " + choice.status().message());
}

}  // namespace

core::Result<Destination> ResolveDestination(const EngineOptions& options,
                                             const catalogue::ResolvedAction& action,
                                             const catalogue::ParameterValues& values) {
  const std::optional<request::ServiceEndpoint> service = catalogue::EndpointFor(action.service);
  const std::optional<catalogue::Product> product = catalogue::ProductOfService(action.service);
  if (!service || !product) return core::Status::NotSupported(std::string(kNotSupportedText));
  Destination destination;
  destination.endpoint = *service;
  const std::string_view own = RegionIdOf(values);
  destination.region = std::string(own.empty() ? std::string_view(options.region) : own);
  if (!destination.region.empty()) {
    if (core::Status checked = catalogue::CheckRegionId(destination.region); !checked.ok()) {
      return core::Status::InvalidInput("RegionId \"" + destination.region +
                                        "\": " + checked.message() + "; nothing was sent");
    }
  }
  std::string host = options.host;
  if (host.empty()) {
    core::Result<catalogue::ResolvedHost> resolved =
        catalogue::ResolveHost(*product, destination.region, options.endpoint_type);
    if (!resolved.ok()) return resolved.status();
    host = std::move(resolved.value().host);
    destination.listed = resolved.value().listed;
  } else {
    destination.named = true;
  }
  destination.endpoint.host_line = "Host: " + host + "\r\n";
  destination.endpoint.host = std::move(host);
  return destination;
}

std::string DescribeDestination(const Destination& destination, catalogue::EndpointType type) {
  std::string text = "host " + destination.endpoint.host + ": ";
  if (destination.named) return text + "named by the endpoint";
  if (destination.region.empty()) return text + "the service's central host (no region)";
  text += destination.listed
              ? "listed for " + destination.region
              : "derived for " + destination.region + " by the vendor's rule, not listed";
  return text + " (" + std::string(catalogue::EndpointTypeName(type)) + ")";
}

core::Status ChooseEndpoint(const EndpointTexts& texts, EngineOptions& options) {
  std::optional<request::EndpointChoice> named;
  const std::optional<std::string>& named_text = texts.given ? texts.given : texts.vendor;
  if (texts.given) {
    core::Result<request::EndpointChoice> given = Parse("--endpoint", *texts.given);
    if (!given.ok()) return given.status();
    named = std::move(given.value());
  } else if (texts.vendor) {
    core::Result<request::EndpointChoice> vendor = Parse("ALIBABA_CLOUD_ENDPOINT", *texts.vendor);
    if (!vendor.ok()) return vendor.status();
    named = std::move(vendor.value());
  }
  if (texts.send_to && !texts.given) {
    core::Result<request::EndpointOverride> send_to =
        request::ParseEndpointOverride(*texts.send_to);
    if (!send_to.ok()) {
      return core::Status::InvalidInput("KESTRUNE_ENDPOINT: bad endpoint \"" + *texts.send_to +
                                        "\": " + send_to.status().message());
    }
    options.endpoint_override = *texts.send_to;
  } else if (named) {
    // A name without a scheme goes over HTTPS, which its text alone would not
    // say; an address is passed on as given.
    options.endpoint_override = named->names_host ? request::EndpointText(named->to) : *named_text;
  }
  options.host = named && named->names_host ? named->to.host : std::string();
  return core::Status::Ok();
}

}  // namespace kestrune::engine
