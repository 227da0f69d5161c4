// A one-connection HTTP proxy for tests, on 127.0.0.1 port 0 and a thread of
// its own: accepts one client within a bounded wait and records its request
// head. With a `refusal` it answers with that text alone; otherwise it
// connects to the target the head names (CONNECT HOST:PORT, or an
// absolute-form http://HOST:PORT/ request, forwarded as it came) and relays
// bytes both ways until either side closes or ten seconds pass.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "transport/socket.h"

namespace kestrune::transport::testing {

class TestProxy {
 public:
  explicit TestProxy(std::string refusal = {}) : refusal_(std::move(refusal)) {
    listening_ = !listener_.Listen("127.0.0.1").has_value();
    if (listening_) thread_ = std::thread([this] { Serve(); });
  }
  ~TestProxy() {
    if (thread_.joinable()) thread_.join();
  }
  TestProxy(const TestProxy&) = delete;
  TestProxy& operator=(const TestProxy&) = delete;

  bool listening() const { return listening_; }
  std::uint16_t port() const { return listener_.port(); }
  // The client's request head as the proxy read it; complete once it is done.
  std::string head() {
    if (thread_.joinable()) thread_.join();
    return head_;
  }

 private:
  void Serve() {
    using std::chrono::milliseconds;
    NetworkScope network;
    Connection client;
    if (listener_.Accept(client, std::chrono::seconds(10))) return;
    char buffer[16384];
    while (head_.find("\r\n\r\n") == std::string::npos && head_.size() < (1u << 20)) {
      std::size_t received = 0;
      if (client.Receive(buffer, sizeof buffer, std::chrono::seconds(5), received) ||
          received == 0) {
        return;
      }
      head_.append(buffer, received);
    }
    if (!refusal_.empty()) {
      (void)client.SendAll(refusal_, std::chrono::seconds(5));
      return;
    }
    const bool tunnel = head_.starts_with("CONNECT ");
    const std::size_t start = tunnel ? 8 : head_.find("http://") + 7;
    const std::string authority = head_.substr(start, head_.find_first_of(" /", start) - start);
    const std::size_t colon = authority.rfind(':');
    Connection upstream;
    if (upstream.Open(authority.substr(0, colon),
                      static_cast<std::uint16_t>(std::stoi(authority.substr(colon + 1))),
                      std::chrono::seconds(5))) {
      (void)client.SendAll("HTTP/1.1 502 Bad Gateway\r\n\r\n", std::chrono::seconds(5));
      return;
    }
    (void)(tunnel ? client.SendAll("HTTP/1.1 200 Connection established\r\n\r\n",
                                   std::chrono::seconds(5))
                  : upstream.SendAll(head_, std::chrono::seconds(5)));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (!Relay(client, upstream, buffer, sizeof buffer) ||
          !Relay(upstream, client, buffer, sizeof buffer)) {
        return;
      }
    }
  }

  // Moves what `from` has within a short wait to `to`; false once `from` is
  // closed or broken.
  static bool Relay(Connection& from, Connection& to, char* buffer, std::size_t size) {
    std::size_t received = 0;
    const SocketStatus status = from.Receive(buffer, size, std::chrono::milliseconds(10), received);
    if (status) return status->timed_out;
    if (received == 0) return false;
    return !to.SendAll(std::string_view(buffer, received), std::chrono::seconds(5));
  }

  NetworkScope network_;
  std::string refusal_;
  Listener listener_;
  bool listening_ = false;
  std::string head_;
  std::thread thread_;
};

}  // namespace kestrune::transport::testing
