// A one-connection server for exchange tests: listens on a loopback address,
// port 0, on its own thread; accepts one client within a bounded wait, reads
// its request up to the blank line, then runs the test's script and closes.
// A script may accept further clients (AcceptAnother) and read their requests
// (ReadHead).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "transport/socket.h"

namespace kestrune::transport::testing {

class TestServer {
 public:
  using Script = std::function<void(Connection& client)>;

  // With `read_request` false the request is left unread, so closing the
  // connection resets it on every platform (the kernel answers unread data
  // with a reset, whatever the socket library makes of SO_LINGER).
  explicit TestServer(Script script, const std::string& address = "127.0.0.1",
                      bool read_request = true)
      : script_(std::move(script)), read_request_(read_request) {
    listening_ = !listener_.Listen(address).has_value();
    if (listening_) thread_ = std::thread([this] { Serve(); });
  }
  ~TestServer() {
    if (thread_.joinable()) thread_.join();
  }
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  bool listening() const { return listening_; }
  std::uint16_t port() const { return listener_.port(); }
  // The request as the server read it; complete once the server is done.
  std::string request() {
    if (thread_.joinable()) thread_.join();
    return request_;
  }

  // Helpers for scripts.
  static void Send(Connection& client, std::string_view data) {
    (void)client.SendAll(data, std::chrono::seconds(5));
  }
  // Reads a request head into `request`, bounded in size and time.
  static void ReadHead(Connection& client, std::string& request) {
    char buffer[65536];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < (64u << 20) &&
           std::chrono::steady_clock::now() < deadline) {
      std::size_t received = 0;
      if (client.Receive(buffer, sizeof buffer, std::chrono::seconds(5), received) ||
          received == 0) {
        break;
      }
      request.append(buffer, received);
    }
  }
  // Accepts one more client within `timeout`; false when none came.
  bool AcceptAnother(Connection& client, std::chrono::milliseconds timeout) {
    return !listener_.Accept(client, timeout).has_value();
  }
  static void Pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

 private:
  void Serve() {
    NetworkScope network;
    Connection client;
    if (listener_.Accept(client, std::chrono::seconds(10))) return;
    if (read_request_) ReadHead(client, request_);
    script_(client);
    client.Close();
  }

  NetworkScope network_;
  Script script_;
  bool read_request_;
  Listener listener_;
  bool listening_ = false;
  std::string request_;
  std::thread thread_;
};

}  // namespace kestrune::transport::testing
