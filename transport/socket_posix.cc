// POSIX sockets for socket.h.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "transport/bounded_call.h"
#include "transport/socket.h"

namespace kestrune::transport {
namespace {

using Clock = std::chrono::steady_clock;

SocketError TimedOut(SocketStep step) { return SocketError{step, true, "timed out"}; }

// Waits until `fd` is ready for `events` or the deadline passes. Returns 1
// when ready, 0 on time-out, -1 on error (errno set).
int WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const int wait_ms =
        left.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 1 << 30));
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, wait_ms);
    if (ready >= 0) return ready;  // POLLERR/POLLHUP count as ready: the call says why
    if (errno != EINTR) return -1;
  }
}

bool SetNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL, 0);
  return flags != -1 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != -1;
}

// Connects `fd` to `address` within the deadline; 0 or an errno value, or
// ETIMEDOUT on time-out.
int ConnectWithin(int fd, const addrinfo& address, Clock::time_point deadline) {
  if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) return 0;
  if (errno != EINPROGRESS && errno != EINTR) return errno;
  const int ready = WaitFor(fd, POLLOUT, deadline);
  if (ready < 0) return errno;
  if (ready == 0) return ETIMEDOUT;
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

}  // namespace

NetworkScope::NetworkScope() = default;
NetworkScope::~NetworkScope() = default;
bool NetworkScope::Close() { return true; }

SocketStatus Connection::Open(const std::string& host, std::uint16_t port,
                              std::chrono::milliseconds timeout) {
  Close();
  resolved_at_.reset();
  const auto deadline = Clock::now() + timeout;
  struct Lookup {
    int resolved = EAI_FAIL;
    int error = 0;  // errno for EAI_SYSTEM
    addrinfo* addresses = nullptr;
  };
  const std::string service = std::to_string(port);
  // An address written as numbers needs no lookup and cannot block: it is
  // read here, sparing a thread and the resolver's configuration.
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
          addrinfo hints{};
          hints.ai_family = AF_UNSPEC;
          hints.ai_socktype = SOCK_STREAM;
          hints.ai_protocol = IPPROTO_TCP;
          hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
          result.resolved = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &result.addresses);
          if (result.resolved != 0) {
            // AI_ADDRCONFIG hides loopback-only families on hosts without other
            // addresses; ask once more without it.
            hints.ai_flags = AI_NUMERICSERV;
            result.resolved =
                ::getaddrinfo(host.c_str(), service.c_str(), &hints, &result.addresses);
          }
          result.error = errno;
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
    if (lookup->resolved == EAI_SYSTEM) return SystemFailure(SocketStep::kResolve, lookup->error);
    return SocketError{SocketStep::kResolve, false, ::gai_strerror(lookup->resolved)};
  }
  resolved_at_ = std::chrono::steady_clock::now();

  SocketStatus failure;
  for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
    const int fd =
        ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
    if (fd < 0 || !SetNonBlocking(fd)) {
      failure = SystemFailure(SocketStep::kCreate, errno);
      if (fd >= 0) ::close(fd);
      continue;
    }
    // One deadline for every address: a name with many unreachable
    // addresses must not multiply the time-out.
    const int error = ConnectWithin(fd, *address, deadline);
    if (error == 0) {
      // Requests and TLS records go out whole: waiting for an ACK before the
      // next small write (Nagle's rule) only adds a round trip's delay.
      const int one = 1;
      (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      handle_ = fd;
      failure.reset();
      break;
    }
    ::close(fd);
    failure = error == ETIMEDOUT ? TimedOut(SocketStep::kConnect)
                                 : SystemFailure(SocketStep::kConnect, error);
    if (error == ETIMEDOUT) break;
  }
  ::freeaddrinfo(addresses);
  return failure;
}

SocketStatus Connection::SendAll(std::string_view data, std::chrono::milliseconds timeout) {
  const int fd = static_cast<int>(handle_);
  while (!data.empty()) {
    const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      data.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      return SystemFailure(SocketStep::kSend, errno);
    }
    // The time-out counts from the last progress, like the receive side.
    const int ready = WaitFor(fd, POLLOUT, Clock::now() + timeout);
    if (ready < 0) return SystemFailure(SocketStep::kSend, errno);
    if (ready == 0) return TimedOut(SocketStep::kSend);
  }
  return std::nullopt;
}

SocketStatus Connection::Receive(char* buffer, std::size_t capacity,
                                 std::chrono::milliseconds timeout, std::size_t& received) {
  const int fd = static_cast<int>(handle_);
  received = 0;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const ssize_t count = ::recv(fd, buffer, capacity, 0);
    if (count >= 0) {
      received = static_cast<std::size_t>(count);
      return std::nullopt;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return SystemFailure(SocketStep::kReceive, errno);
    const int ready = WaitFor(fd, POLLIN, deadline);
    if (ready < 0) return SystemFailure(SocketStep::kReceive, errno);
    if (ready == 0) return TimedOut(SocketStep::kReceive);
  }
}

bool Connection::Quiet() const {
  return handle_ != kInvalidHandle && WaitFor(static_cast<int>(handle_), POLLIN, Clock::now()) == 0;
}

void Connection::Abort() {
  if (handle_ != kInvalidHandle) {
    const linger reset{1, 0};
    ::setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  Close();
}

void Connection::Close() {
  if (handle_ != kInvalidHandle) {
    ::close(static_cast<int>(handle_));
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
  if (resolved != 0 || addresses == nullptr) {
    return SocketError{SocketStep::kResolve, false, ::gai_strerror(resolved)};
  }
  const int fd =
      ::socket(addresses->ai_family, addresses->ai_socktype | SOCK_CLOEXEC, addresses->ai_protocol);
  if (fd < 0) {
    ::freeaddrinfo(addresses);
    return SystemFailure(SocketStep::kCreate, errno);
  }
  const int reuse = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  const bool listening = ::bind(fd, addresses->ai_addr, addresses->ai_addrlen) == 0 &&
                         ::listen(fd, 16) == 0 && SetNonBlocking(fd);
  ::freeaddrinfo(addresses);
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  if (!listening || ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    const int error = errno;
    ::close(fd);
    return SystemFailure(SocketStep::kConnect, error);
  }
  port_ =
      ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port
                                        : reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
  handle_ = fd;
  return std::nullopt;
}

SocketStatus Listener::Accept(Connection& connection, std::chrono::milliseconds timeout) {
  const int fd = static_cast<int>(handle_);
  const int ready = WaitFor(fd, POLLIN, Clock::now() + timeout);
  if (ready < 0) return SystemFailure(SocketStep::kConnect, errno);
  if (ready == 0) return TimedOut(SocketStep::kConnect);
  const int accepted = ::accept(fd, nullptr, nullptr);
  if (accepted < 0 || !SetNonBlocking(accepted)) {
    const int error = errno;
    if (accepted >= 0) ::close(accepted);
    return SystemFailure(SocketStep::kConnect, error);
  }
  connection.Close();
  connection.handle_ = accepted;
  return std::nullopt;
}

void Listener::Close() {
  if (handle_ != Connection::kInvalidHandle) {
    ::close(static_cast<int>(handle_));
    handle_ = Connection::kInvalidHandle;
  }
}

}  // namespace kestrune::transport
