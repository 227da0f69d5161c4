// One HTTP/1.1 exchange with a service host: connect, send the signed
// request, collect the whole reply until the server closes the connection.
//
// The reply is parsed: the status line and code, its head as it came (for
// display), and the body with any chunked transfer coding removed, so that a
// search in the body never meets a chunk boundary.
//
// A service is reached over TLS on port 443, its certificate verified before
// any of the request is sent. An EndpointOverride sends the request to
// another host and port (a local simulator or test server), over TLS when its
// scheme is https, while the request's Host header still names the service;
// the name the certificate must carry is the one connected to.
//
// ExchangeWithHost and HttpExchange are stateless (one connection each;
// separate exchanges may run on separate threads); a KeptConnection carries
// the exchanges of a walk over one connection.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/status.h"
#include "request/endpoint.h"
#include "transport/proxy.h"
#include "transport/tls.h"

namespace kestrune::transport {

inline constexpr std::size_t kReplyLimit = 16 * 1024 * 1024;

struct ExchangeOptions {
  // Bounds the name's resolution and the connection to any of its addresses.
  std::chrono::milliseconds connect_timeout{10000};
  // Longest wait for the peer to take or give any data.
  std::chrono::milliseconds idle_timeout{30000};
  // Bounds the whole exchange, from the resolution to the reply's last byte,
  // however steadily a slow peer keeps sending.
  std::chrono::milliseconds exchange_timeout{120000};
  std::size_t reply_limit = kReplyLimit;
  // The proxies a host that they do not exempt is reached through.
  ProxySettings proxy;
  // Whether ExchangeWithHost speaks TLS to the host (HttpExchange sets it
  // from where the request goes), and whom it trusts when it does.
  bool use_tls = false;
  TlsOptions tls;
};

// When each phase of one exchange ended, counted from its start; a phase not
// reached (or not taken: no TLS on plain HTTP) stays unset.
struct PhaseTimes {
  std::optional<std::chrono::microseconds> resolved;    // the host's addresses known
  std::optional<std::chrono::microseconds> connected;   // the TCP connection up
  std::optional<std::chrono::microseconds> secured;     // the TLS handshake done
  std::optional<std::chrono::microseconds> sent;        // the whole request sent
  std::optional<std::chrono::microseconds> first_byte;  // the reply's first byte in
  std::optional<std::chrono::microseconds> complete;    // the whole reply in
};

// How far a failed exchange got: what a caller deciding whether to send the
// request again must know.
enum class FailureStage {
  kNone,           // no failure
  kBeforeSending,  // nothing of the request was written: the server cannot have acted on it
  kAfterSending,   // the request was written (perhaps in part): the server may have acted on it
  kFinal,          // sending again cannot mend it (a proxy's refusal of its credentials, a reply
                   // over the limit)
};

// Every byte received goes to `raw`; ParseReply then moves the body out of
// it, so that a large reply is held once: `raw` keeps the status line and
// header (up to and including the empty line that ends it) and `body` the
// rest, transfer coding removed. A reply whose header never ended stays whole
// in `raw`; one without an HTTP header is all body.
struct HttpReply {
  std::string raw;           // the head as received, or every byte before parsing
  std::size_t received = 0;  // every byte received, headers included
  std::string status_line;   // without its line end; empty when there is none
  int status_code = 0;       // 0 when there is no status line
  std::string body;          // after the header, transfer coding removed
  bool chunked = false;
  PhaseTimes times;
  // Set by a failed exchange; kNone after a good one.
  FailureStage failure = FailureStage::kNone;
};

// Receives each line of the exchange's progress and failure texts.
using TraceFunction = std::function<void(std::string_view line)>;

// Splits `raw` into status line, code and body, decoding a chunked body in
// place, and leaves the head in `raw` (see HttpReply); sets `received`. Fails
// when a chunked body is malformed or ends before its last chunk; the fields
// parsed so far are still set.
core::Status ParseReply(HttpReply& reply);

// Connects to `host`:`port` (and, with options.use_tls, runs the TLS handshake
// and verifies the certificate for `host`), sends `request` whole and stores the reply in
// `reply` (its previous content is discarded). The reply ends when the server
// closes the connection, or earlier once its Content-Length or final chunk
// (and its trailers) has arrived. Through an HTTP proxy (options.proxy, for a
// host it does not exempt) the connection goes to the proxy, and the request
// in absolute form (AbsoluteFormRequest) or, for TLS, through a CONNECT
// tunnel. Fails, with a message naming the step, when the host does not
// resolve, no connection can be made, the proxy refuses (a 407 is named), the
// handshake or the certificate check fails (nothing of the request is sent
// then), a send or receive fails or times out, the whole exchange outlasts
// options.exchange_timeout, the reply exceeds options.reply_limit, or the
// reply does not parse; what was received stays in reply.raw (split into head
// and body once the header is whole). `trace`
// receives the progress and failure
// texts as pieces that end their own lines with "\r\n".
core::Status ExchangeWithHost(const std::string& host, std::uint16_t port, std::string_view request,
                              const ExchangeOptions& options, HttpReply& reply,
                              const TraceFunction& trace = {});

// The exchange with the service of `endpoint` over TLS on port 443, or with
// `override_to` when given, over TLS when its scheme says so (options.use_tls
// is set from that either way).
core::Status HttpExchange(const request::ServiceEndpoint& endpoint, std::string_view request,
                          const std::optional<request::EndpointOverride>& override_to,
                          const ExchangeOptions& options, HttpReply& reply,
                          const TraceFunction& trace = {});

// A connection (with its TLS session) kept open from one exchange to the
// next with the same host, so that a walk of many requests pays for one
// connection and one handshake.
//
// Each exchange goes as ExchangeWithHost's, over the kept connection when it
// leads to the same host, port, proxy, scheme and trust, else over a new one.
// The connection is kept after the reply only when the request asked for it
// ("Connection: keep-alive" in its header), the reply ended by its own
// framing (Content-Length or last chunk, not the server's close) and did not
// say "Connection: close"; otherwise it is closed after the reply.
//
// A kept connection found closed (or holding unasked bytes) before anything
// is sent on it is opened anew. Once the request was written, nothing is sent
// again, even when the connection ends before any byte of the reply: the
// server may have taken the request and acted on it, so whether to send it
// once more (signed afresh) is the caller's decision, by
// HttpReply::failure.
//
// Belongs to one thread at a time.
class KeptConnection {
 public:
  KeptConnection();
  ~KeptConnection();
  KeptConnection(const KeptConnection&) = delete;
  KeptConnection& operator=(const KeptConnection&) = delete;

  core::Status ExchangeWithHost(const std::string& host, std::uint16_t port,
                                std::string_view request, const ExchangeOptions& options,
                                HttpReply& reply, const TraceFunction& trace = {});
  // As HttpExchange.
  core::Status Exchange(const request::ServiceEndpoint& endpoint, std::string_view request,
                        const std::optional<request::EndpointOverride>& override_to,
                        const ExchangeOptions& options, HttpReply& reply,
                        const TraceFunction& trace = {});

  // Whether a connection is kept open for the next exchange.
  bool open() const;
  // Closes the kept connection, if any.
  void Close();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace kestrune::transport
