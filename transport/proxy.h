// HTTP proxies: which proxy a target goes through, and the two ways through
// one. A TLS target goes through a CONNECT tunnel (OpenTunnel, after the
// connection to the proxy and before the TLS handshake, which then runs inside
// the tunnel); a plain HTTP target goes as an absolute-form request to the
// proxy (AbsoluteFormRequest). The proxy's credentials go to the proxy alone:
// in the CONNECT request or in the absolute-form request's header, never
// inside a tunnel.
//
// The faces choose the proxy texts (ChooseProxyTexts, from the environment
// and --proxy); the engine receives them as options and never reads the
// environment. The proxy's password is a secret: no message, trace or
// output of this module holds it, and no refusal repeats a proxy URL.
//
// Plain values and stateless functions; safe from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/status.h"
#include "request/http_message.h"
#include "transport/socket.h"

namespace kestrune::transport {

inline constexpr std::uint16_t kDefaultProxyPort = 80;

struct ProxyServer {
  std::string host;  // a name, an IPv4 address, or an IPv6 address without brackets
  std::uint16_t port = kDefaultProxyPort;
  std::string user;      // percent-decoded; empty: no credentials
  std::string password;  // percent-decoded; a secret
  bool has_credentials() const { return !user.empty() || !password.empty(); }
};

// Parses "[http://][USER[:PASSWORD]@]HOST[:PORT][/]": a text without a scheme
// is an http:// proxy; the port is 80 without one; USER and PASSWORD are
// percent-decoded and may not hold control characters (nor USER a ':').
// HOST[:PORT] is read as request::ParseEndpointOverride reads it. Other
// schemes (socks5://, https://) are refused as not supported. A refusal is an
// InvalidInput status whose message never repeats the text.
core::Result<ProxyServer> ParseProxyUrl(std::string_view url);

// Whether `host` (a name or an IP address, IPv6 without brackets) bypasses
// the proxy under `no_proxy`: comma-separated entries, blanks around them
// ignored; "*" matches every host; a name matches itself and every name
// below it ("example.com" and ".example.com" both match "example.com" and
// "api.example.com"), letters in any case; an IP address matches only itself
// (no ranges). A port in an entry ("host:8080", "[::1]:8080") is ignored: the
// entry matches the host on every port.
bool NoProxyMatches(std::string_view no_proxy, std::string_view host);

// The proxy texts a face passes on to the engine; empty: none.
struct ProxyTexts {
  std::string http;   // for plain HTTP targets
  std::string https;  // for TLS targets
  std::string no_proxy;
  // Where `http` and `https` came from ("--proxy", "https_proxy", ...), for
  // messages about them.
  std::string http_source;
  std::string https_source;
};

// Looks up one environment variable; nullopt when it is not set.
using VariableLookup = std::function<std::optional<std::string>(std::string_view name)>;

// The proxy texts of the environment, as curl reads them: http_proxy for HTTP
// targets and https_proxy for TLS targets, else all_proxy, and no_proxy; each
// in lower case when set, else in upper case (HTTP_PROXY too); an empty value
// counts as unset. `option` (--proxy) replaces the environment's proxies for
// both kinds of target; an empty `option` means no proxy at all. no_proxy
// applies to every proxy.
ProxyTexts ChooseProxyTexts(const VariableLookup& variable,
                            const std::optional<std::string>& option);

// The parsed proxies of ProxyTexts.
struct ProxySettings {
  std::optional<ProxyServer> http;
  std::optional<ProxyServer> https;
  std::string no_proxy;
};

// Parses both proxy texts; a refusal names the text's source, when known,
// and never repeats the text.
core::Result<ProxySettings> ParseProxySettings(const ProxyTexts& texts);

// The proxy that a connection to `host` goes through, or nullptr for a direct
// connection. `tls`: the target speaks TLS.
const ProxyServer* ProxyFor(const ProxySettings& settings, std::string_view host, bool tls);

// "HOST:PORT" with an IPv6 address in brackets: the form of a trace line, a
// CONNECT request and an absolute-form authority.
std::string Authority(std::string_view host, std::uint16_t port);

// `request` with its target in absolute form ("http://HOST[:PORT]/?...", the
// port left out when 80) and, with credentials, a Proxy-Authorization field
// before the others. The rest of the request is untouched, so its signature
// (over the query) still holds.
request::HttpRequest AbsoluteFormRequest(request::HttpRequest request, std::string_view host,
                                         std::uint16_t port, const ProxyServer& proxy);

// On `connection`, connected to `proxy` with nothing sent yet: asks the proxy
// for a tunnel to `host`:`port` (CONNECT, with Basic credentials when the
// proxy has some) and reads its reply's header. Each wait lasts at most
// `idle_timeout` and none goes past `deadline`. Succeeds on a 2xx reply, after
// which the connection carries the tunnel. Fails with a message that says so
// for a 407 (the proxy refused or asked for credentials), with the status
// line for any other reply, and naming the step for a failed or timed-out
// send or receive.
core::Status OpenTunnel(Connection& connection, const std::string& host, std::uint16_t port,
                        const ProxyServer& proxy, std::chrono::milliseconds idle_timeout,
                        std::chrono::steady_clock::time_point deadline);

}  // namespace kestrune::transport
