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
// ParseEndpointOverride, so they accept and refuse the same texts. The text
// may name its scheme: "https://" speaks TLS to the address, "http://" or no
// scheme plain HTTP (so a bare address keeps meaning a local simulator).
//
// The vendor's tools take an endpoint of their own (--endpoint,
// ALIBABA_CLOUD_ENDPOINT) as the host itself: ParseEndpointChoice reads such a
// text, where a host name becomes the request's Host and TLS name as well,
// while an address (which names no service) keeps the override's meaning.
//
// Plain values and stateless parsers; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/status.h"

namespace kestrune::request {

inline constexpr std::uint16_t kDefaultHttpPort = 80;
inline constexpr std::uint16_t kDefaultHttpsPort = 443;
inline constexpr std::string_view kEndpointVariable = "KESTRUNE_ENDPOINT";
// The faces' default for the PEM file whose certificates alone are trusted
// for TLS instead of the system's store.
inline constexpr std::string_view kCaFileVariable = "KESTRUNE_CA_FILE";

struct ServiceEndpoint {
  std::string host;          // e.g. "ecs.aliyuncs.com"
  std::string host_line;     // e.g. "Host: ecs.aliyuncs.com\r\n"
  std::string version_item;  // e.g. "Version=2014-05-26"
};

enum class Scheme { kHttp, kHttps };

struct EndpointOverride {
  std::string host;  // a name, an IPv4 address, or an IPv6 address without brackets
  std::uint16_t port = kDefaultHttpPort;
  Scheme scheme = Scheme::kHttp;
};

// Parses "[SCHEME://]HOST[:PORT]": an optional scheme "https" or "http" (in
// any case), a host of ASCII letters, digits, '.', '-' and '_', or an IPv6
// address (hex digits, ':' and '.') in brackets, then an optional port
// 1..65535; without one, port 443 for https and 80 otherwise. An IPv6 address
// without brackets is refused, as its last group could be taken for a port;
// so is a path after the address. Anything else is an InvalidInput status
// whose message says what is wrong without repeating the text, so each caller
// can name it in its own way.
core::Result<EndpointOverride> ParseEndpointOverride(std::string_view text);

// Whether `host`, as ParseEndpointOverride gives it, is an address rather
// than a name: an IPv4 or IPv6 address, or "localhost" (in any case).
bool IsAddressHost(std::string_view host);

// An endpoint the user gave in the vendor's tools' sense.
struct EndpointChoice {
  EndpointOverride to;
  // `to.host` is a host name, which the request then names in its Host
  // header and checks the certificate against: the service's own host is
  // replaced. False for an address: only where the request is sent.
  bool names_host = false;
};

// Reads `text` as ParseEndpointOverride does, except that a host name
// without a scheme is reached over HTTPS (port 443 unless given), as the
// vendor's hosts are; an address without a scheme keeps plain HTTP, as for a
// local simulator.
core::Result<EndpointChoice> ParseEndpointChoice(std::string_view text);

// "https://HOST:PORT" or "http://HOST:PORT" ("[...]" around an IPv6 address):
// the text ParseEndpointOverride reads back as `to`.
std::string EndpointText(const EndpointOverride& to);

}  // namespace kestrune::request
