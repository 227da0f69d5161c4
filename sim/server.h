// The simulator's HTTP server: one event-loop thread (epoll) serving many
// connections, one request per connection, "Connection: close" on every
// reply. Slow and silent clients are timed out; request heads are capped; a
// connection flood is bounded by max_connections (extra connections are
// closed at once).
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
  std::size_t max_connections = 4096;
  // Receives one line per request (no newline); called on the loop thread.
  std::function<void(std::string_view)> log{};
};

class Server {
 public:
  Server(ServerOptions options, const Clock& clock);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds, listens and starts the loop thread.
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
