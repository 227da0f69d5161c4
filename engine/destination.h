// Where one request goes: the host its region chooses (or the host the user
// named), resolved the same way by every face and by the engine itself, so
// that a dry run, --debug, `doctor` and the request sent never disagree.
//
// Stateless functions over plain values; safe from any thread.
#pragma once

#include <optional>
#include <string>

#include "catalogue/catalogue.h"
#include "catalogue/dispatch.h"
#include "catalogue/endpoints.h"
#include "core/status.h"
#include "engine/engine.h"
#include "request/endpoint.h"

namespace kestrune::engine {

struct Destination {
  request::ServiceEndpoint endpoint;  // the host, its Host line, the version item
  std::string region;                 // the region that chose the host; "" for none
  bool listed = true;                 // the endpoint data lists the host
  bool named = false;                 // the user named the host (EngineOptions::host)
};

// The destination of `action` with `values`: the host options.host names,
// else the host of the action's service in the request's region over
// options.endpoint_type. The region is the request's own RegionId when it
// gives a non-empty one, else options.region. A region no host could hold is
// refused (InvalidInput, naming the character), whichever host is used, so
// that nothing is sent for it; an unknown service is NotSupported.
core::Result<Destination> ResolveDestination(const EngineOptions& options,
                                             const catalogue::ResolvedAction& action,
                                             const catalogue::ParameterValues& values);

// One line that says which host and why: "host H: listed for R (public)",
// "host H: derived for R by the vendor's rule, not listed (vpc)", "host H:
// the service's central host (no region)", "host H: named by the endpoint".
std::string DescribeDestination(const Destination& destination, catalogue::EndpointType type);

// The endpoint texts of a face, each nullopt when not given (an empty one
// counts as not given).
struct EndpointTexts {
  std::optional<std::string> given;    // --endpoint
  std::optional<std::string> vendor;   // ALIBABA_CLOUD_ENDPOINT
  std::optional<std::string> send_to;  // KESTRUNE_ENDPOINT
};

// Sets options.host and options.endpoint_override from `texts`. The user's
// endpoint is --endpoint, else ALIBABA_CLOUD_ENDPOINT: when it is a host
// name (request::ParseEndpointChoice), requests name that host; an address
// names none. Where they are sent is --endpoint, else KESTRUNE_ENDPOINT
// (which never changes the Host), else ALIBABA_CLOUD_ENDPOINT. A malformed
// text is an InvalidInput status naming its source.
core::Status ChooseEndpoint(const EndpointTexts& texts, EngineOptions& options);

}  // namespace kestrune::engine
