// One HTTP/1.1 exchange with a service host: connect, send the signed
// request, collect the whole reply until the server closes the connection.
//
// The reply is kept raw (for display as it came) and parsed: the status line
// and code, and the body with any chunked transfer coding removed, so that a
// search in the body never meets a chunk boundary.
//
// An EndpointOverride sends the request to another host and port (a local
// simulator or test server) while the request's Host header still names the
// service.
//
// Stateless; separate exchanges may run on separate threads.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/status.h"
#include "request/endpoint.h"

namespace kestrune::transport {

inline constexpr std::size_t kReplyLimit = 16 * 1024 * 1024;

struct ExchangeOptions {
  std::chrono::milliseconds connect_timeout{10000};
  // Longest wait for the peer to take or give any data.
  std::chrono::milliseconds idle_timeout{30000};
  std::size_t reply_limit = kReplyLimit;
};

// When each phase of one exchange ended, counted from its start; a phase not
// reached (or not taken: no TLS on plain HTTP) stays unset.
struct PhaseTimes {
  std::optional<std::chrono::microseconds> resolved;    // the host's addresses known
  std::optional<std::chrono::microseconds> connected;   // the TCP connection up
  std::optional<std::chrono::microseconds> secured;     // the TLS handshake done
  std::optional<std::chrono::microseconds> first_byte;  // the reply's first byte in
  std::optional<std::chrono::microseconds> complete;    // the whole reply in
};

struct HttpReply {
  std::string raw;          // every byte received, headers included
  std::string status_line;  // without its line end; empty when there is none
  int status_code = 0;      // 0 when there is no status line
  std::string body;         // after the header, transfer coding removed
  bool chunked = false;
  PhaseTimes times;
};

// Receives each line of the exchange's progress and failure texts.
using TraceFunction = std::function<void(std::string_view line)>;

// Splits `raw` into status line, code and body, decoding a chunked body.
// Fails when a chunked body is malformed or ends before its last chunk; the
// fields parsed so far are still set.
core::Status ParseReply(HttpReply& reply);

// Connects to `host`:`port`, sends `request` whole and stores the reply in
// `reply` (its previous content is discarded). The reply ends when the server
// closes the connection, or earlier once its Content-Length or final chunk
// has arrived. Fails, with a message naming the step, when the host does not
// resolve, no connection can be made, a send or receive fails or times out,
// the reply exceeds options.reply_limit, or the reply does not parse; what was
// received stays in reply.raw. `trace` receives the progress and failure
// texts as pieces that end their own lines with "\r\n".
core::Status ExchangeWithHost(const std::string& host, std::uint16_t port, std::string_view request,
                              const ExchangeOptions& options, HttpReply& reply,
                              const TraceFunction& trace = {});

// The exchange with the service of `endpoint` on port 80, or with
// `override_to` when given.
core::Status HttpExchange(const request::ServiceEndpoint& endpoint, std::string_view request,
                          const std::optional<request::EndpointOverride>& override_to,
                          const ExchangeOptions& options, HttpReply& reply,
                          const TraceFunction& trace = {});

}  // namespace kestrune::transport
