#include "transport/http.h"

#include <memory>
#include <optional>
#include <string>

#include "request/http_message.h"

namespace kestrune::transport {

namespace {

// Calls `exchange(host, port, options)` for the override, or for the service
// on port 443; over TLS unless the override says http.
template <typename ExchangeFunction>
core::Status WithTarget(const request::ServiceEndpoint& endpoint,
                        const std::optional<request::EndpointOverride>& override_to,
                        const ExchangeOptions& options, const ExchangeFunction& exchange) {
  ExchangeOptions chosen = options;
  if (override_to) {
    chosen.use_tls = override_to->scheme == request::Scheme::kHttps;
    return exchange(override_to->host, override_to->port, chosen);
  }
  chosen.use_tls = true;
  return exchange(endpoint.host, request::kDefaultHttpsPort, chosen);
}

// Whether a kept connection can carry the next request: nothing has come on
// it since its last reply. Whatever has (the server's close, a reset, bytes
// that no request asked for) would be read as the next reply or its end, so
// such a connection is given up before anything is sent on it.
bool StillIdle(const ConnectionState& state) {
  return state.connection.Quiet() && !(state.tls && state.tls->Holds());
}

}  // namespace

KeptConnection::KeptConnection() : state_(std::make_unique<ConnectionState>()) {}

KeptConnection::~KeptConnection() { Close(); }

bool KeptConnection::open() const { return state_->open; }

void KeptConnection::Close() {
  // The close_notify of a session left idle: the peer either takes it at
  // once or has gone, so the wait is short.
  if (state_->tls) state_->tls->Shutdown(std::chrono::milliseconds(1000));
  state_ = std::make_unique<ConnectionState>();
}

core::Status KeptConnection::ExchangeWithHost(const std::string& host, std::uint16_t port,
                                              const request::HttpRequest& request,
                                              const ExchangeOptions& options, HttpReply& reply,
                                              const TraceFunction& trace) {
  const std::string route = RouteOf(host, port, options);
  if (state_->open && (state_->route != route || !StillIdle(*state_))) Close();
  const bool keep = request.keep_alive;
  const bool reused = state_->open;
  reply = HttpReply();
  HostExchange exchange(host, port, options, reply, trace, *state_);
  core::Status status = core::Status::Ok();
  if (reused) {
    exchange.Reuse();
  } else {
    status = exchange.Connect();
    if (status.ok()) status = exchange.Secure();
  }
  if (status.ok()) status = exchange.Send(request);
  if (status.ok()) status = exchange.ReceiveUntilComplete();
  // Counted whether or not the reply was whole: a reply cut off at the limit
  // or by a failure still arrived in part.
  reply.received = reply.raw.size();
  if (status.ok()) status = ParseReply(reply);
  if (status.ok() && keep && !exchange.peer_closed() && !exchange.extra_bytes() &&
      !reply.head.closes) {
    state_->open = true;
    state_->route = route;
  } else {
    exchange.Close();
  }
  if (status.ok()) status = exchange.CheckProxyReply();
  if (!status.ok()) reply.failure = exchange.failure_stage();
  return status;
}

core::Status KeptConnection::Exchange(const request::ServiceEndpoint& endpoint,
                                      const request::HttpRequest& request,
                                      const std::optional<request::EndpointOverride>& override_to,
                                      const ExchangeOptions& options, HttpReply& reply,
                                      const TraceFunction& trace) {
  return WithTarget(
      endpoint, override_to, options,
      [&](const std::string& host, std::uint16_t port, const ExchangeOptions& chosen) {
        return ExchangeWithHost(host, port, request, chosen, reply, trace);
      });
}

core::Status HttpExchange(const request::ServiceEndpoint& endpoint,
                          const request::HttpRequest& request,
                          const std::optional<request::EndpointOverride>& override_to,
                          const ExchangeOptions& options, HttpReply& reply,
                          const TraceFunction& trace) {
  KeptConnection connection;
  core::Status status = connection.Exchange(endpoint, request, override_to, options, reply, trace);
  connection.Close();
  return status;
}

}  // namespace kestrune::transport
