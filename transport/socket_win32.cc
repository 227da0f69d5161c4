// Winsock for socket.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "transport/bounded_call.h"
#include "transport/socket.h"

namespace kestrune::transport {
namespace {

using Clock = std::chrono::steady_clock;

SocketError TimedOut(SocketStep step) { return SocketError{step, true, "timed out"}; }

SOCKET AsSocket(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

// Waits until `socket` is ready to read (or has failed), or to write, or the
// deadline passes. Returns 1 when ready, 0 on time-out, SOCKET_ERROR on error.
// select() rather than WSAPoll: it behaves the same on every Windows version
// and under Wine, and one socket never meets FD_SETSIZE.
int WaitFor(SOCKET socket, bool for_write, Clock::time_point deadline) {
  const auto left = std::max<long long>(
      0, std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count());
  timeval wait{static_cast<long>(left / 1000000), static_cast<long>(left % 1000000)};
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(socket, &ready);
  fd_set failed;
  FD_ZERO(&failed);
  FD_SET(socket, &failed);
  // A failed non-blocking connect shows in the exception set, not the write set.
  const int count =
      ::select(0, for_write ? nullptr : &ready, for_write ? &ready : nullptr, &failed, &wait);
  return count == SOCKET_ERROR ? SOCKET_ERROR : (count > 0 ? 1 : 0);
}

int ConnectWithin(SOCKET socket, const addrinfo& address, Clock::time_point deadline) {
  if (::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) return 0;
  const int started = ::WSAGetLastError();
  if (started != WSAEWOULDBLOCK && started != WSAEINPROGRESS) return started;
  const int ready = WaitFor(socket, true, deadline);
  if (ready == SOCKET_ERROR) return ::WSAGetLastError();
  if (ready == 0) return WSAETIMEDOUT;
  int error = 0;
  int length = sizeof error;
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
    return ::WSAGetLastError();
  }
  return error;
}

}  // namespace

NetworkScope::NetworkScope() {
  WSADATA data{};
  const int error = ::WSAStartup(MAKEWORD(2, 0), &data);
  if (error != 0) {
    status_ = SystemFailure(SocketStep::kStartup, error);
    return;
  }
  started_ = true;
  if (LOBYTE(data.wVersion) < 2) {
    status_ = SocketError{SocketStep::kVersion, false, "Winsock 2 is not available"};
    Close();
  }
}

NetworkScope::~NetworkScope() { Close(); }

bool NetworkScope::Close() {
  if (!started_) return true;
  started_ = false;
  return ::WSACleanup() == 0;
}

SocketStatus Connection::Open(const std::string& host, std::uint16_t port,
                              std::chrono::milliseconds timeout) {
  Close();
  resolved_at_.reset();
  const auto deadline = Clock::now() + timeout;
  struct Lookup {
    int resolved = WSANO_RECOVERY;
    addrinfo* addresses = nullptr;
  };
  // The resolving thread holds Winsock started for itself: it may outlive
  // the caller's NetworkScope.
  const std::string service = std::to_string(port);
  // An address written as numbers needs no lookup and cannot block: it is
  // read here, sparing a thread.
  std::optional<Lookup> lookup;
  {
    Lookup numeric;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    numeric.resolved = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &numeric.addresses);
    if (numeric.resolved == 0) lookup = numeric;
  }
  if (!lookup) {
    lookup = CallWithin<Lookup>(
        [host, service] {
          Lookup result;
          WSADATA data{};
          if (::WSAStartup(MAKEWORD(2, 0), &data) != 0) return result;
          addrinfo hints{};
          hints.ai_family = AF_UNSPEC;
          hints.ai_socktype = SOCK_STREAM;
          hints.ai_protocol = IPPROTO_TCP;
          hints.ai_flags = AI_NUMERICSERV;
          result.resolved = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &result.addresses);
          ::WSACleanup();
          return result;
        },
        [](Lookup& late) {
          if (late.resolved == 0 && late.addresses != nullptr) ::freeaddrinfo(late.addresses);
        },
        deadline);
  }
  if (!lookup) return TimedOut(SocketStep::kResolve);
  addrinfo* const addresses = lookup->addresses;
  if (lookup->resolved != 0 || addresses == nullptr) {
    return SystemFailure(SocketStep::kResolve, lookup->resolved);
  }
  resolved_at_ = std::chrono::steady_clock::now();

  SocketStatus failure;
  for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
    const SOCKET socket = ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    u_long non_blocking = 1;
    if (socket == INVALID_SOCKET || ::ioctlsocket(socket, FIONBIO, &non_blocking) != 0) {
      failure = SystemFailure(SocketStep::kCreate, ::WSAGetLastError());
      if (socket != INVALID_SOCKET) ::closesocket(socket);
      continue;
    }
    // One deadline for every address: a name with many unreachable
    // addresses must not multiply the time-out.
    const int error = ConnectWithin(socket, *address, deadline);
    if (error == 0) {
      // Requests and TLS records go out whole: waiting for an ACK before the
      // next small write (Nagle's rule) only adds a round trip's delay.
      const BOOL one = TRUE;
      (void)::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                         sizeof one);
      handle_ = static_cast<std::intptr_t>(socket);
      failure.reset();
      break;
    }
    ::closesocket(socket);
    failure = error == WSAETIMEDOUT ? TimedOut(SocketStep::kConnect)
                                    : SystemFailure(SocketStep::kConnect, error);
    if (error == WSAETIMEDOUT) break;
  }
  ::freeaddrinfo(addresses);
  return failure;
}

SocketStatus Connection::SendAll(std::string_view data, std::chrono::milliseconds timeout) {
  const SOCKET socket = AsSocket(handle_);
  while (!data.empty()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(data.size(), 1 << 30));
    const int sent = ::send(socket, data.data(), chunk, 0);
    if (sent > 0) {
      data.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    const int error = sent == SOCKET_ERROR ? ::WSAGetLastError() : WSAEWOULDBLOCK;
    if (error != WSAEWOULDBLOCK) return SystemFailure(SocketStep::kSend, error);
    const int ready = WaitFor(socket, true, Clock::now() + timeout);
    if (ready == SOCKET_ERROR) return SystemFailure(SocketStep::kSend, ::WSAGetLastError());
    if (ready == 0) return TimedOut(SocketStep::kSend);
  }
  return std::nullopt;
}

SocketStatus Connection::Receive(char* buffer, std::size_t capacity,
                                 std::chrono::milliseconds timeout, std::size_t& received) {
  const SOCKET socket = AsSocket(handle_);
  received = 0;
  const auto deadline = Clock::now() + timeout;
  const int chunk = static_cast<int>(std::min<std::size_t>(capacity, 1 << 30));
  for (;;) {
    const int count = ::recv(socket, buffer, chunk, 0);
    if (count >= 0) {
      received = static_cast<std::size_t>(count);
      return std::nullopt;
    }
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return SystemFailure(SocketStep::kReceive, error);
    const int ready = WaitFor(socket, false, deadline);
    if (ready == SOCKET_ERROR) return SystemFailure(SocketStep::kReceive, ::WSAGetLastError());
    if (ready == 0) return TimedOut(SocketStep::kReceive);
  }
}

bool Connection::Quiet() const {
  return handle_ != kInvalidHandle && WaitFor(AsSocket(handle_), false, Clock::now()) == 0;
}

void Connection::Abort() {
  if (handle_ != kInvalidHandle) {
    const linger reset{1, 0};
    ::setsockopt(AsSocket(handle_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset),
                 sizeof reset);
  }
  Close();
}

void Connection::Close() {
  if (handle_ != kInvalidHandle) {
    ::closesocket(AsSocket(handle_));
    handle_ = kInvalidHandle;
  }
}

SocketStatus Listener::Listen(const std::string& address, std::uint16_t port) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* addresses = nullptr;
  const int resolved =
      ::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &addresses);
  if (resolved != 0 || addresses == nullptr) return SystemFailure(SocketStep::kResolve, resolved);
  const SOCKET socket =
      ::socket(addresses->ai_family, addresses->ai_socktype, addresses->ai_protocol);
  if (socket == INVALID_SOCKET) {
    ::freeaddrinfo(addresses);
    return SystemFailure(SocketStep::kCreate, ::WSAGetLastError());
  }
  u_long non_blocking = 1;
  const bool listening =
      ::bind(socket, addresses->ai_addr, static_cast<int>(addresses->ai_addrlen)) == 0 &&
      ::listen(socket, 16) == 0 && ::ioctlsocket(socket, FIONBIO, &non_blocking) == 0;
  ::freeaddrinfo(addresses);
  sockaddr_storage bound{};
  int length = sizeof bound;
  if (!listening || ::getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    const int error = ::WSAGetLastError();
    ::closesocket(socket);
    return SystemFailure(SocketStep::kConnect, error);
  }
  port_ =
      ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port
                                        : reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
  handle_ = static_cast<std::intptr_t>(socket);
  return std::nullopt;
}

SocketStatus Listener::Accept(Connection& connection, std::chrono::milliseconds timeout) {
  const SOCKET socket = AsSocket(handle_);
  const int ready = WaitFor(socket, false, Clock::now() + timeout);
  if (ready == SOCKET_ERROR) return SystemFailure(SocketStep::kConnect, ::WSAGetLastError());
  if (ready == 0) return TimedOut(SocketStep::kConnect);
  const SOCKET accepted = ::accept(socket, nullptr, nullptr);
  u_long non_blocking = 1;
  if (accepted == INVALID_SOCKET || ::ioctlsocket(accepted, FIONBIO, &non_blocking) != 0) {
    const int error = ::WSAGetLastError();
    if (accepted != INVALID_SOCKET) ::closesocket(accepted);
    return SystemFailure(SocketStep::kConnect, error);
  }
  connection.Close();
  connection.handle_ = static_cast<std::intptr_t>(accepted);
  return std::nullopt;
}

void Listener::Close() {
  if (handle_ != Connection::kInvalidHandle) {
    ::closesocket(AsSocket(handle_));
    handle_ = Connection::kInvalidHandle;
  }
}

}  // namespace kestrune::transport
