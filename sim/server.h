// The simulator's HTTP server: one event-loop thread (epoll) serving many
// connections, plain or over TLS (non-blocking OpenSSL driven by the loop's
// readiness). HTTP/1.1 connections persist until a request says
// "Connection: close" or they stay idle too long; HTTP/1.0 ones close after
// the reply unless asked to stay. Slow and silent clients are timed out (a
// TLS handshake as much as a request head); request heads are capped; a
// connection flood is bounded by max_connections (extra connections are
// closed at once). Replies may be held back by a latency without holding
// the loop: each waits on a timer of its own.
//
// The log receives, in order, one line per accepted connection
// ("connection #N from 127.0.0.1:PORT"), one per failed TLS handshake
// ("connection #N tls handshake failed: REASON") and one per request read
// (after the handshake, on TLS), as described in sim/README.md.
//
// Start() and Stop() may be called from any thread (Stop is idempotent and
// joins the loop); the loop owns every connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "core/status.h"
#include "sim/clock.h"
#include "sim/gateway.h"

namespace kestrune::sim {

struct ServerOptions {
  std::string address = "127.0.0.1";  // a loopback address
  std::uint16_t port = 0;             // 0: the system picks a free port
  GatewayOptions gateway{};
  int read_timeout_ms = 10000;   // for the whole request head
  int write_timeout_ms = 30000;  // without progress while sending
  int idle_timeout_ms = 5000;    // between requests on a persistent connection
  std::size_t max_connections = 4096;
  int latency_ms = 0;  // every reply waits this long before it is sent
  // PEM files of the certificate chain and its key: serve HTTPS (TLS 1.2 or
  // later). Both empty: plain HTTP.
  std::string tls_certificate_file{};
  std::string tls_key_file{};
  // Receives the log lines (no newline); called on the loop thread.
  std::function<void(std::string_view)> log{};
  // Each request's log line also gives its SignatureNonce and ClientToken
  // ("nonce=N token=T", "-" for none), so a test can see what was sent again.
  bool log_nonces = false;
};

class Server {
 public:
  Server(ServerOptions options, const Clock& clock);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Loads the TLS files (if any), binds, listens and starts the loop thread.
  core::Status Start();
  // The bound port (after Start).
  std::uint16_t port() const { return port_; }
  // Stops the loop, closes every connection and joins the thread.
  void Stop();

 private:
  class Loop;
  ServerOptions options_;
  const Clock& clock_;
  std::uint16_t port_ = 0;
  std::unique_ptr<Loop> loop_;
  std::thread thread_;
};

}  // namespace kestrune::sim
