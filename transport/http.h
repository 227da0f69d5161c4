// HTTP/1.1 exchanges with a service host: connect, send the signed request,
// collect the whole reply (reply_framing.h), over a connection that a walk
// of many requests may keep from one exchange to the next.
//
// A service is reached over TLS on port 443, its certificate verified before
// any of the request is sent. An EndpointOverride sends the request to
// another host and port (a local simulator or test server), over TLS when its
// scheme is https, while the request's Host header still names the service;
// the name the certificate must carry is the one connected to.
//
// HttpExchange is a single request: a KeptConnection of its own that closes
// after the reply. Separate exchanges may run on separate threads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/status.h"
#include "request/endpoint.h"
#include "request/http_message.h"
#include "transport/exchange_steps.h"
#include "transport/reply_framing.h"

namespace kestrune::transport {

// A connection (with its TLS session) kept open from one exchange to the
// next with the same host, so that a walk of many requests pays for one
// connection and one handshake.
//
// ExchangeWithHost connects to `host`:`port` (and, with options.use_tls,
// runs the TLS handshake and verifies the certificate for `host`), sends
// `request` whole and stores the reply in `reply` (its previous content is
// discarded). The reply ends when the server closes the connection, or
// earlier once its Content-Length or final chunk (and its trailers) has
// arrived. Through an HTTP proxy (options.proxy, for a host it does not
// exempt) the connection goes to the proxy, and the request in absolute form
// (AbsoluteFormRequest) or, for TLS, through a CONNECT tunnel. Fails, with a
// message naming the step, when the host does not resolve, no connection can
// be made, the proxy refuses (a 407 is named), the handshake or the
// certificate check fails (nothing of the request is sent then), a send or
// receive fails or times out, the whole exchange outlasts
// options.exchange_timeout, the reply exceeds options.reply_limit, or the
// reply does not parse; what was received stays in reply.raw (split into
// head and body once the header is whole) and is counted in reply.received.
// `trace` receives the progress and failure texts as pieces that end their
// own lines with "\r\n".
//
// Each exchange goes over the kept connection when it leads to the same
// host, port, proxy, scheme and trust, else over a new one. The connection
// is kept after the reply only when the request asked for it
// (HttpRequest::keep_alive), the reply ended by its own
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
                                const request::HttpRequest& request, const ExchangeOptions& options,
                                HttpReply& reply, const TraceFunction& trace = {});
  // The exchange with the service of `endpoint` over TLS on port 443, or
  // with `override_to` when given, over TLS when its scheme says so
  // (options.use_tls is set from that either way).
  core::Status Exchange(const request::ServiceEndpoint& endpoint,
                        const request::HttpRequest& request,
                        const std::optional<request::EndpointOverride>& override_to,
                        const ExchangeOptions& options, HttpReply& reply,
                        const TraceFunction& trace = {});

  // Whether a connection is kept open for the next exchange.
  bool open() const;
  // Closes the kept connection, if any.
  void Close();

 private:
  std::unique_ptr<ConnectionState> state_;
};

// One request on a connection of its own, closed after the reply: as
// KeptConnection::Exchange.
core::Status HttpExchange(const request::ServiceEndpoint& endpoint,
                          const request::HttpRequest& request,
                          const std::optional<request::EndpointOverride>& override_to,
                          const ExchangeOptions& options, HttpReply& reply,
                          const TraceFunction& trace = {});

}  // namespace kestrune::transport
