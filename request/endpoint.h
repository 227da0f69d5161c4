// Where a request goes.
//
// A ServiceEndpoint is the service a request is for: its host, the Host header
// line the request carries, and the API version item every request of that
// service includes; the catalogue supplies the three services' endpoints.
//
// An EndpointOverride is another address to connect to instead (a local
// simulator or test server) while the request's Host header still names the
// service. The faces take its text from --endpoint or from the environment
// variable kEndpointVariable; the engine connects to it. Both read it with
// ParseEndpointOverride, so they accept and refuse the same texts.
//
// Plain values and a stateless parser; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/status.h"

namespace kestrune::request {

inline constexpr std::uint16_t kDefaultHttpPort = 80;
inline constexpr std::string_view kEndpointVariable = "KESTRUNE_ENDPOINT";

struct ServiceEndpoint {
  std::string host;          // e.g. "ecs.aliyuncs.com"
  std::string host_line;     // e.g. "Host: ecs.aliyuncs.com\r\n"
  std::string version_item;  // e.g. "Version=2014-05-26"
};

struct EndpointOverride {
  std::string host;  // a name, an IPv4 address, or an IPv6 address without brackets
  std::uint16_t port = kDefaultHttpPort;
};

// Parses "HOST[:PORT]": a host of ASCII letters, digits, '.', '-' and '_', or
// an IPv6 address (hex digits, ':' and '.') in brackets, then an optional port
// 1..65535; port 80 without one. An IPv6 address without brackets is refused,
// as its last group could be taken for a port. Anything else is an
// InvalidInput status whose message says what is wrong without repeating the
// text, so each caller can name it in its own way.
core::Result<EndpointOverride> ParseEndpointOverride(std::string_view text);

}  // namespace kestrune::request
