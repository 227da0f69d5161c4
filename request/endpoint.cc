#include "request/endpoint.h"

#include <algorithm>
#include <string>
#include <utility>

#include "core/ascii.h"

namespace kestrune::request {
namespace {

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

bool IsHexDigit(char ch) {
  return IsDigit(ch) || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

bool IsHostChar(char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || IsDigit(ch) || ch == '.' ||
         ch == '-' || ch == '_';
}

core::Status Refused(std::string reason) { return core::Status::InvalidInput(std::move(reason)); }

}  // namespace

core::Result<EndpointOverride> ParseEndpointOverride(std::string_view text) {
  if (text.empty()) return Refused("the endpoint is empty; expected HOST[:PORT]");
  EndpointOverride result;
  if (const std::size_t separator = text.find("://"); separator != std::string_view::npos) {
    const std::string_view scheme = text.substr(0, separator);
    if (core::EqualsIgnoreCase(scheme, "https")) {
      result.scheme = Scheme::kHttps;
      result.port = kDefaultHttpsPort;
    } else if (!core::EqualsIgnoreCase(scheme, "http")) {
      return Refused("the scheme must be https:// or http://");
    }
    text.remove_prefix(separator + 3);
    // "https://host/" is how addresses are often pasted; anything further
    // would be a path this client cannot send to.
    if (text.ends_with('/')) text.remove_suffix(1);
    if (text.empty()) return Refused("the host is missing after the scheme");
  }
  std::string_view host = text;
  std::string_view port;
  if (text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos || close == 1) {
      return Refused("an IPv6 address needs its closing ']'");
    }
    host = text.substr(1, close - 1);
    // Every IPv6 address has a ':'; without one, "[0]" would name the host
    // "0", which the resolver reads as an IPv4 address.
    if (host.find(':') == std::string_view::npos) return Refused("not an IPv6 address");
    for (char ch : host) {
      if (!IsHexDigit(ch) && ch != ':' && ch != '.') return Refused("not an IPv6 address");
    }
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return Refused("expected ':' and a port after ']'");
      port = rest.substr(1);
      if (port.empty()) return Refused("the port is missing after ':'");
    }
  } else {
    if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
      host = text.substr(0, colon);
      port = text.substr(colon + 1);
      if (port.empty()) return Refused("the port is missing after ':'");
    }
    if (host.empty()) return Refused("the host is missing; expected HOST[:PORT]");
    for (char ch : host) {
      if (!IsHostChar(ch)) return Refused("expected HOST[:PORT]");
    }
    // A port typed alone would be read by the resolver as a 32-bit IPv4
    // address (35593 as 0.0.139.9), which nobody means.
    if (std::all_of(host.begin(), host.end(), IsDigit)) {
      std::string reason = "\"";
      reason += host;
      reason += "\" is a number, not a host; a port goes after one, as in 127.0.0.1:";
      reason += host;
      return Refused(std::move(reason));
    }
  }
  result.host = std::string(host);
  if (!port.empty()) {
    // Stops as soon as the number is too large, so no length of digits wraps.
    std::uint32_t number = 0;
    for (char ch : port) {
      if (!IsDigit(ch) || number > 65535) return Refused("the port must be 1..65535");
      number = number * 10 + static_cast<std::uint32_t>(ch - '0');
    }
    if (number == 0 || number > 65535) return Refused("the port must be 1..65535");
    result.port = static_cast<std::uint16_t>(number);
  }
  return result;
}

bool IsAddressHost(std::string_view host) {
  if (host.find(':') != std::string_view::npos) return true;  // IPv6
  if (core::EqualsIgnoreCase(host, "localhost")) return true;
  return !host.empty() &&
         std::all_of(host.begin(), host.end(), [](char ch) { return IsDigit(ch) || ch == '.'; });
}

core::Result<EndpointChoice> ParseEndpointChoice(std::string_view text) {
  core::Result<EndpointOverride> parsed = ParseEndpointOverride(text);
  if (!parsed.ok()) return parsed.status();
  EndpointChoice choice{std::move(parsed.value()), false};
  if (IsAddressHost(choice.to.host)) return choice;
  choice.names_host = true;
  if (text.find("://") == std::string_view::npos) {
    const bool port_given = text.find(':') != std::string_view::npos;
    choice.to.scheme = Scheme::kHttps;
    if (!port_given) choice.to.port = kDefaultHttpsPort;
  }
  return choice;
}

std::string EndpointText(const EndpointOverride& to) {
  std::string text = to.scheme == Scheme::kHttps ? "https://" : "http://";
  const bool v6 = to.host.find(':') != std::string::npos;
  if (v6) text += '[';
  text += to.host;
  if (v6) text += ']';
  text += ':';
  text += std::to_string(to.port);
  return text;
}

}  // namespace kestrune::request
