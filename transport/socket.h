// The platform's TCP sockets behind one narrow interface: POSIX sockets in
// socket_posix.cc, Winsock in socket_win32.cc (CMake picks one).
//
// Every operation waits at most the time-out it is given; a time-out is
// reported like any other failure of its step. Sockets are non-blocking
// underneath, so no call can hang.
//
// A Connection belongs to one thread at a time. A NetworkScope must be alive
// around every use of a Connection (on Windows it starts and cleans up
// Winsock; elsewhere it does nothing).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/os_error.h"

namespace kestrune::transport {

// The step of an exchange at which the platform failed.
enum class SocketStep {
  kStartup,  // the socket library could not be started
  kVersion,  // the socket library lacks the version asked for
  kResolve,  // no address for the host name
  kCreate,   // no socket could be created
  kConnect,  // no address accepted the connection
  kSend,
  kReceive,
};

struct SocketError {
  SocketStep step;
  bool timed_out = false;
  std::string detail;  // the system's description, for diagnostics
};

// The failure of `step` that the system gave as `code` (errno, or a Winsock
// number on Windows), described by core/os_error.h.
inline SocketError SystemFailure(SocketStep step, core::OsErrorCode code) {
  return SocketError{step, false, core::DescribeOsError(code, core::OsErrorSource::kSockets)};
}

// Empty on success.
using SocketStatus = std::optional<SocketError>;

// The longest wait that `timeout` allows without going past `deadline`; zero
// once the deadline has passed.
inline std::chrono::milliseconds WaitWithin(std::chrono::milliseconds timeout,
                                            std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return std::chrono::milliseconds(0);
  return left < timeout ? left : timeout;
}

class NetworkScope {
 public:
  NetworkScope();
  ~NetworkScope();
  NetworkScope(const NetworkScope&) = delete;
  NetworkScope& operator=(const NetworkScope&) = delete;

  // Whether start-up succeeded; if not, no Connection may be used.
  const SocketStatus& status() const { return status_; }
  // Whether the clean-up at destruction reported a failure is not knowable
  // until then; Close() does it early and says.
  bool Close();

 private:
  SocketStatus status_;
  bool started_ = false;
};

class Connection {
 public:
  Connection() = default;
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Resolves `host` (IPv4 and IPv6 addresses) and connects to the first
  // address that accepts. `timeout` bounds the whole: the name's resolution
  // and every address tried together (a resolver that does not answer in
  // time is left behind on a thread of its own). Fails at kResolve, kCreate
  // or kConnect, timed_out when the time-out ended the step.
  SocketStatus Open(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout);
  // Sends all of `data`, continuing after partial sends; fails at kSend when
  // the peer takes nothing for `timeout`.
  SocketStatus SendAll(std::string_view data, std::chrono::milliseconds timeout);
  // Waits up to `timeout` for data and stores up to `capacity` bytes in
  // `buffer`; `received` is 0 when the peer closed the connection in order.
  SocketStatus Receive(char* buffer, std::size_t capacity, std::chrono::milliseconds timeout,
                       std::size_t& received);
  void Close();
  // Whether an open connection has nothing waiting to be read: no data, no
  // close and no error. An idle kept connection that is not quiet was closed
  // by its peer or holds bytes no request asked for.
  bool Quiet() const;
  // Closes with a reset instead of an orderly close (for test servers that
  // must break a connection).
  void Abort();
  bool is_open() const { return handle_ != kInvalidHandle; }
  // When the last Open had the host's addresses (for the exchange's timing);
  // unset before any resolution succeeded.
  std::optional<std::chrono::steady_clock::time_point> resolved_at() const { return resolved_at_; }

 private:
  friend class Listener;
  static constexpr std::intptr_t kInvalidHandle = -1;
  std::intptr_t handle_ = kInvalidHandle;  // a file descriptor or a SOCKET
  std::optional<std::chrono::steady_clock::time_point> resolved_at_;
};

// A listening socket, for the local servers of tests and tools.
class Listener {
 public:
  Listener() = default;
  ~Listener() { Close(); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Listens on the numeric `address` (such as "127.0.0.1" or "::1") and
  // `port`; port 0 picks a free one, which port() then tells.
  SocketStatus Listen(const std::string& address, std::uint16_t port = 0);
  std::uint16_t port() const { return port_; }
  // Waits up to `timeout` for one connection and hands it to `connection`.
  SocketStatus Accept(Connection& connection, std::chrono::milliseconds timeout);
  void Close();

 private:
  std::intptr_t handle_ = Connection::kInvalidHandle;
  std::uint16_t port_ = 0;
};

}  // namespace kestrune::transport
