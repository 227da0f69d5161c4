#include "request/http.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>

#include "core/ascii.h"
#include "request/socket.h"

namespace kestrune::request {
namespace {

constexpr std::size_t kReceiveChunk = 65536;

std::string DescribeDuration(std::chrono::milliseconds duration) {
  const long long ms = duration.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}

std::string DescribeSize(std::size_t bytes) {
  constexpr std::size_t kMiB = 1024 * 1024;
  if (bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string(bytes) + " bytes";
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// The next line of `text` from `pos`, without its "\n" or "\r\n"; npos in
// `pos` when there is no complete line.
std::string_view NextLine(std::string_view text, std::size_t& pos) {
  const std::size_t end = text.find('\n', pos);
  if (end == std::string_view::npos) {
    pos = std::string_view::npos;
    return {};
  }
  std::string_view line = text.substr(pos, end - pos);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  pos = end + 1;
  return line;
}

// Both parsers stop at values that do not fit a size_t (on 32-bit builds
// too), so a hostile header cannot wrap a length around.
bool ParseDecimal(std::string_view text, std::size_t& value) {
  if (text.empty() || text.size() > 18) return false;
  std::uint64_t parsed = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    parsed = parsed * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (parsed > std::numeric_limits<std::size_t>::max()) return false;
  value = static_cast<std::size_t>(parsed);
  return true;
}

bool ParseHex(std::string_view text, std::size_t& value) {
  if (text.empty() || text.size() > 15) return false;
  std::uint64_t parsed = 0;
  for (char c : text) {
    const char lower = core::LowerAscii(c);
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (lower >= 'a' && lower <= 'f') {
      digit = lower - 'a' + 10;
    } else {
      return false;
    }
    parsed = parsed * 16 + static_cast<std::uint64_t>(digit);
  }
  if (parsed > std::numeric_limits<std::size_t>::max()) return false;
  value = static_cast<std::size_t>(parsed);
  return true;
}

// Decodes a chunked body starting at `pos` of `raw` into `body`.
core::Status DecodeChunked(std::string_view raw, std::size_t pos, std::string& body) {
  for (;;) {
    std::string_view size_line = NextLine(raw, pos);
    if (pos == std::string_view::npos) {
      return core::Status::Error("the reply ended before the last chunk of its body");
    }
    size_line = Trim(size_line.substr(0, std::min(size_line.find(';'), size_line.size())));
    std::size_t size = 0;
    if (!ParseHex(size_line, size)) {
      return core::Status::Error("the reply's chunked body is malformed (bad chunk size \"" +
                                 std::string(size_line.substr(0, 20)) + "\")");
    }
    if (size == 0) return core::Status::Ok();  // trailers, if any, are not needed
    if (raw.size() - pos < size) {
      body.append(raw.substr(pos));
      return core::Status::Error("the reply ended inside a chunk of its body");
    }
    body.append(raw.substr(pos, size));
    pos += size;
    // Each chunk's data ends with a line end of its own.
    std::string_view rest = raw.substr(pos);
    if (rest.starts_with("\r\n")) {
      pos += 2;
    } else if (rest.starts_with("\n")) {
      pos += 1;
    } else if (rest.empty()) {
      return core::Status::Error("the reply ended before the last chunk of its body");
    } else {
      return core::Status::Error(
          "the reply's chunked body is malformed (no line end after a chunk)");
    }
  }
}

void Trace(const TraceFunction& trace, std::string_view text) {
  if (trace) trace(text);
}

std::string Target(const std::string& host, std::uint16_t port) {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

core::Result<EndpointOverride> ParseEndpointOverride(std::string_view text) {
  const std::string shown(text.substr(0, 80));
  EndpointOverride result;
  std::string_view port_text;
  bool has_port = false;
  if (text.starts_with("[")) {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) {
      return core::Status::Error("endpoint \"" + shown + "\": missing \"]\" after the address");
    }
    result.host = std::string(text.substr(1, close - 1));
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') {
        return core::Status::Error("endpoint \"" + shown + "\": expected \":port\" after \"]\"");
      }
      port_text = rest.substr(1);
      has_port = true;
    }
  } else {
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) == std::string_view::npos) {
      result.host = std::string(text.substr(0, colon));
      port_text = text.substr(colon + 1);
      has_port = true;
    } else {
      result.host = std::string(text);  // a name, or an IPv6 address without brackets
    }
  }
  if (result.host.empty()) {
    return core::Status::Error("endpoint \"" + shown + "\": the host name is empty");
  }
  for (char c : result.host) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == '/' || c == '[' || c == ']') {
      return core::Status::Error("endpoint \"" + shown +
                                 "\": the host name holds a character a host name cannot have");
    }
  }
  if (has_port) {
    std::size_t port = 0;
    if (!ParseDecimal(port_text, port) || port == 0 || port > 65535) {
      return core::Status::Error("endpoint \"" + shown +
                                 "\": the port must be a number from 1 to 65535");
    }
    result.port = static_cast<std::uint16_t>(port);
  }
  return result;
}

core::Result<std::optional<EndpointOverride>> EndpointOverrideFromEnvironment() {
  return EndpointOverrideFromVariable(std::getenv(std::string(kEndpointVariable).c_str()));
}

core::Result<std::optional<EndpointOverride>> EndpointOverrideFromVariable(const char* value) {
  if (value == nullptr || *value == '\0') return std::optional<EndpointOverride>();
  core::Result<EndpointOverride> parsed = ParseEndpointOverride(value);
  if (!parsed.ok()) {
    return core::Status::Error(std::string(kEndpointVariable) + ": " + parsed.status().message());
  }
  return std::optional<EndpointOverride>(std::move(parsed).value());
}

namespace {

// What the header says about the body. `body_start` is npos while the header
// is incomplete.
struct HeaderFacts {
  std::size_t body_start = std::string_view::npos;
  bool chunked = false;
  std::optional<std::size_t> content_length;
};

// Reads the header lines after the status line (which ends before `pos`).
HeaderFacts ReadHeader(std::string_view raw, std::size_t pos) {
  HeaderFacts facts;
  for (;;) {
    const std::string_view line = NextLine(raw, pos);
    if (pos == std::string_view::npos) return facts;
    if (line.empty()) break;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (core::EqualsIgnoreCase(name, "Transfer-Encoding")) {
      // The last coding applied is the one framing the body.
      const std::size_t comma = value.rfind(',');
      const std::string_view last =
          Trim(comma == std::string_view::npos ? value : value.substr(comma + 1));
      facts.chunked = core::EqualsIgnoreCase(last, "chunked");
    } else if (core::EqualsIgnoreCase(name, "Content-Length")) {
      std::size_t length = 0;
      if (ParseDecimal(value, length)) facts.content_length = length;
    }
  }
  facts.body_start = pos;
  return facts;
}

// Whether `raw` already holds a whole reply by its own framing, so a server
// that keeps the connection open despite "Connection: close" costs no
// time-out. Replies framed by the close alone are never complete early.
bool ReplyComplete(std::string_view raw) {
  if (!raw.starts_with("HTTP/")) return false;
  std::size_t pos = 0;
  NextLine(raw, pos);
  if (pos == std::string_view::npos) return false;
  const HeaderFacts facts = ReadHeader(raw, pos);
  if (facts.body_start == std::string_view::npos) return false;
  if (facts.chunked) {
    if (!raw.ends_with("0\r\n\r\n")) return false;
    std::string body;
    return DecodeChunked(raw, facts.body_start, body).ok();
  }
  return facts.content_length && raw.size() - facts.body_start >= *facts.content_length;
}

}  // namespace

core::Status ParseReply(HttpReply& reply) {
  reply.status_line.clear();
  reply.status_code = 0;
  reply.body.clear();
  reply.chunked = false;
  const std::string_view raw = reply.raw;
  if (!raw.starts_with("HTTP/")) {
    reply.body = reply.raw;  // no HTTP header at all: the reply is its own body
    return core::Status::Ok();
  }
  std::size_t pos = 0;
  const std::string_view line = NextLine(raw, pos);
  if (pos == std::string_view::npos) {
    reply.status_line = std::string(Trim(raw));
    return core::Status::Error("the reply ended inside its status line");
  }
  reply.status_line = std::string(line);
  const std::size_t space = line.find(' ');
  std::size_t code = 0;
  if (space != std::string_view::npos && ParseDecimal(line.substr(space + 1, 3), code) &&
      code >= 100 && (line.size() == space + 4 || line[space + 4] == ' ')) {
    reply.status_code = static_cast<int>(code);
  }

  const HeaderFacts facts = ReadHeader(raw, pos);
  if (facts.body_start == std::string_view::npos) {
    return core::Status::Error("the reply ended inside its header");
  }
  reply.chunked = facts.chunked;
  if (facts.chunked) return DecodeChunked(raw, facts.body_start, reply.body);
  std::string_view body = raw.substr(facts.body_start);
  if (facts.content_length) {
    if (body.size() < *facts.content_length) {
      reply.body = std::string(body);
      return core::Status::Error("the reply ended after " + std::to_string(body.size()) +
                                 " of the " + std::to_string(*facts.content_length) +
                                 " bytes its header announced");
    }
    body = body.substr(0, *facts.content_length);
  }
  reply.body = std::string(body);
  return core::Status::Ok();
}

core::Status ExchangeWithHost(const std::string& host, std::uint16_t port, std::string_view request,
                              const ExchangeOptions& options, HttpReply& reply,
                              const TraceFunction& trace) {
  reply = HttpReply();
  const std::string target = Target(host, port);

  NetworkScope network;
  if (const SocketStatus& started = network.status()) {
    const bool version = started->step == SocketStep::kVersion;
    Trace(trace, version ? "required version not supported!\r\n" : "startup failed!\r\n");
    return core::Status::Error(version ? "required version not supported!"
                                       : "startup failed! (" + started->detail + ")");
  }

  Connection connection;
  Trace(trace, "Looking up hostname " + host + "... ");
  // An empty name would mean "this machine" to some resolvers: never ask.
  const SocketStatus opened =
      host.empty() ? SocketError{SocketStep::kResolve, false, "the host name is empty"}
                   : connection.Open(host, port, options.connect_timeout);
  if (opened && opened->step == SocketStep::kResolve) {
    Trace(trace, "could not resolve hostname.\r\n");
    return core::Status::Error("could not resolve hostname " + host + " (" + opened->detail + ")");
  }
  Trace(trace, "found.\r\nCreating socket... ");
  if (opened && opened->step == SocketStep::kCreate) {
    Trace(trace, "could not create socket.\r\n");
    return core::Status::Error("could not create socket (" + opened->detail + ")");
  }
  Trace(trace, "created.\r\nAttempting to connect to " + target + "... ");
  if (opened) {
    Trace(trace, "could not connect.\r\n");
    if (opened->timed_out) {
      return core::Status::Error("could not connect to " + target + ": no answer within " +
                                 DescribeDuration(options.connect_timeout));
    }
    return core::Status::Error("could not connect to " + target + " (" + opened->detail + ")");
  }
  Trace(trace, "connected.\r\nSending request... ");

  if (const SocketStatus sent = connection.SendAll(request, options.idle_timeout)) {
    Trace(trace, "failed to send data.\r\n");
    if (sent->timed_out) {
      return core::Status::Error("failed to send data to " + target + ": it took nothing for " +
                                 DescribeDuration(options.idle_timeout));
    }
    return core::Status::Error("failed to send data to " + target + " (" + sent->detail + ")");
  }
  Trace(trace, "request sent.\r\nDumping received data...\r\n\r\n");

  // Receive straight into the reply; one spare byte beyond the limit tells an
  // oversized reply from one that is exactly at it.
  for (;;) {
    const std::size_t stored = reply.raw.size();
    const std::size_t room = std::min(kReceiveChunk, options.reply_limit + 1 - stored);
    reply.raw.resize(stored + room);
    std::size_t received = 0;
    const SocketStatus status =
        connection.Receive(reply.raw.data() + stored, room, options.idle_timeout, received);
    reply.raw.resize(stored + received);
    if (status) {
      Trace(trace, "socket error while receiving.\r\n");
      if (status->timed_out) {
        return core::Status::Error("no reply data from " + target + " for " +
                                   DescribeDuration(options.idle_timeout) + " (" +
                                   std::to_string(reply.raw.size()) + " bytes received)");
      }
      return core::Status::Error("socket error while receiving from " + target + " (" +
                                 status->detail + ")");
    }
    if (received == 0) break;  // the server closed the connection: the reply is whole
    if (reply.raw.size() > options.reply_limit) {
      reply.raw.resize(options.reply_limit);
      return core::Status::Error("the reply from " + target + " is larger than " +
                                 DescribeSize(options.reply_limit) +
                                 "; it was not read to its end");
    }
    if (ReplyComplete(reply.raw)) break;
  }
  connection.Close();
  if (!network.Close()) Trace(trace, "cleanup failed!\r\n");
  return ParseReply(reply);
}

core::Status HttpExchange(const ServiceEndpoint& endpoint, std::string_view request,
                          const std::optional<EndpointOverride>& override_to,
                          const ExchangeOptions& options, HttpReply& reply,
                          const TraceFunction& trace) {
  if (override_to) {
    return ExchangeWithHost(override_to->host, override_to->port, request, options, reply, trace);
  }
  return ExchangeWithHost(endpoint.host, kDefaultHttpPort, request, options, reply, trace);
}

}  // namespace kestrune::request
