// The steps of one exchange with a host, as a user sees them in the trace:
// the platform's sockets started, the name resolved, the connection made
// (through a proxy where one applies), the TLS handshake and certificate
// check, the request sent and the reply received until its own framing or
// the server's close ends it. Each step returns the failure to report,
// naming the step and the address. KeptConnection (http.h) runs these steps
// for every exchange; nothing else does.
//
// A HostExchange belongs to one thread and one exchange.
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
#include "transport/proxy.h"
#include "transport/reply_framing.h"
#include "transport/socket.h"
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

// Receives each line of the exchange's progress and failure texts.
using TraceFunction = std::function<void(std::string_view line)>;

// The connection of one exchange, or the one kept between exchanges. Its
// members are destroyed in reverse order: the TLS session before the
// connection, the connection before the platform's sockets.
struct ConnectionState {
  std::optional<NetworkScope> network;  // started anew with each connection
  Connection connection;
  std::unique_ptr<TlsChannel> tls;  // set once the handshake succeeded
  bool open = false;                // kept after a reply for the next exchange
  std::string route;                // where the kept connection leads
};

// What the trace shows as an exchange goes on. A step's outcome and the start
// of the next one go out as one piece; where a step names its host or
// address, the piece is `before`, that name, then `after`.
enum class TraceStep {
  kUsingProxy,
  kVersionMissing,
  kStartupFailed,
  kLookingUp,
  kResolveFailed,
  kResolved,
  kCreateFailed,
  kCreated,
  kConnectFailed,
  kConnected,
  kSendFailed,
  kSent,
  kReceiveFailed,
  kCleanupFailed,
  kConnectedForTls,
  kHandshakeFailed,
  kVerified,
  kReused,
};

// One exchange with a host, in the steps a user sees in the trace. Each step
// returns the failure to report, naming the step and the address.
class HostExchange {
 public:
  HostExchange(const std::string& host, std::uint16_t port, const ExchangeOptions& options,
               HttpReply& reply, const TraceFunction& trace, ConnectionState& state)
      : host_(host),
        port_(port),
        options_(options),
        proxy_(ProxyFor(options.proxy, host, options.use_tls)),
        peer_host_(proxy_ != nullptr ? proxy_->host : host),
        peer_port_(proxy_ != nullptr ? proxy_->port : port),
        peer_(Authority(peer_host_, peer_port_)),
        peer_name_(proxy_ != nullptr ? "the proxy " + peer_ : peer_),
        deadline_(Clock::now() + options.exchange_timeout),
        reply_(reply),
        trace_(trace),
        start_(std::chrono::steady_clock::now()),
        state_(state) {}

  // Starts the platform's sockets, resolves the host (or the proxy) and
  // connects.
  core::Status Connect();
  // Goes on over the connection kept from an earlier exchange, already
  // connected and secured.
  void Reuse() { Trace(TraceStep::kReused, peer_); }
  // With options.use_tls, the tunnel through a proxy if one applies, then
  // the handshake and the certificate check; nothing when the exchange is
  // plain.
  core::Status Secure();
  // Writes out and sends the whole request (in absolute form through a
  // proxy, when plain).
  core::Status Send(const request::HttpRequest& request);
  // Receives into reply.raw until the server closes the connection or the
  // reply is whole by its own framing, within the reply limit.
  core::Status ReceiveUntilComplete();
  // A proxy's refusal of the request's credentials, once the reply is parsed.
  core::Status CheckProxyReply();
  // Closes the connection and the platform's sockets; a failed clean-up is
  // only traced.
  void Close();

  void Trace(TraceStep step, std::string_view name = {}) const;
  // How far a failed exchange got: before any of the request was written,
  // after, or to a failure that sending again cannot mend.
  FailureStage failure_stage() const {
    if (final_) return FailureStage::kFinal;
    return written_ ? FailureStage::kAfterSending : FailureStage::kBeforeSending;
  }
  // Whether the reply ended with the server's close rather than by its own
  // framing.
  bool peer_closed() const { return peer_closed_; }
  // Whether more came than the reply's own length: whatever follows on this
  // connection cannot be trusted to answer the next request.
  bool extra_bytes() const { return extra_bytes_; }

 private:
  using Clock = std::chrono::steady_clock;

  // Whether a wait of `timeout` that ran out was cut short by the whole
  // exchange's deadline rather than by the idle time-out (the clock alone
  // cannot tell: a wait may end a fraction of a millisecond early).
  bool Overran(std::chrono::milliseconds timeout) const { return timeout < options_.idle_timeout; }
  // What a step cut off by the whole exchange's time-out reports.
  std::string OverranText(std::string_view what) const;
  // The connection's or, once secured, the TLS channel's, each wait bounded
  // by `timeout`.
  SocketStatus SendAll(std::string_view data, std::chrono::milliseconds timeout);
  SocketStatus Receive(char* buffer, std::size_t capacity, std::chrono::milliseconds timeout,
                       std::size_t& received);
  // Notes in reply.times that a phase ended at `when` (now by default).
  void Mark(std::optional<std::chrono::microseconds> PhaseTimes::*phase,
            std::chrono::steady_clock::time_point when = std::chrono::steady_clock::now());

  const std::string& host_;
  const std::uint16_t port_;
  const ExchangeOptions& options_;
  const ProxyServer* const proxy_;  // within options_; nullptr: direct
  const std::string& peer_host_;    // the host connected to: the proxy or host_
  const std::uint16_t peer_port_;
  const std::string peer_;       // its HOST:PORT
  const std::string peer_name_;  // as messages name it
  const Clock::time_point deadline_;
  HttpReply& reply_;
  const TraceFunction& trace_;
  const std::chrono::steady_clock::time_point start_;
  ConnectionState& state_;
  Connection& connection_ = state_.connection;
  std::unique_ptr<TlsChannel>& tls_ = state_.tls;
  bool written_ = false;  // the request began to go out
  bool final_ = false;    // a failure that sending again cannot mend
  bool peer_closed_ = false;
  bool extra_bytes_ = false;
};

// Where a connection for `host`:`port` under `options` leads: a kept one is
// used again only for the same place, reached the same way, trusted alike.
std::string RouteOf(const std::string& host, std::uint16_t port, const ExchangeOptions& options);

}  // namespace kestrune::transport
