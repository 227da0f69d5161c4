#include "sim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <queue>
#include <unordered_map>
#include <vector>

#include "core/os_error.h"
#include "sim/http.h"

namespace kestrune::sim {
namespace {

std::int64_t SteadyMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

class Server::Loop {
 public:
  Loop(const ServerOptions& options, const Clock& clock)
      : options_(options), clock_(clock), gateway_(options.gateway, clock) {}

  ~Loop() {
    for (auto& [fd, conn] : conns_) ::close(fd);
    if (listen_fd_ >= 0) ::close(listen_fd_);
    if (wake_fd_ >= 0) ::close(wake_fd_);
    if (epoll_fd_ >= 0) ::close(epoll_fd_);
    if (reserve_fd_ >= 0) ::close(reserve_fd_);
  }

  core::Status Open(std::uint16_t& port) {
    in_addr address{};
    if (::inet_pton(AF_INET, options_.address.c_str(), &address) != 1) {
      return core::Status::Error("not an IPv4 address: " + options_.address);
    }
    if ((ntohl(address.s_addr) >> 24) != 127) {
      return core::Status::Error("refusing to listen on a non-loopback address: " +
                                 options_.address);
    }
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) return core::OsError("socket", errno);
    const int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(options_.port);
    sa.sin_addr = address;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      return core::OsError("bind " + options_.address + ":" + std::to_string(options_.port), errno);
    }
    if (::listen(listen_fd_, 4096) != 0) return core::OsError("listen", errno);
    socklen_t length = sizeof sa;
    if (::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
      return core::OsError("getsockname", errno);
    }
    port = ntohs(sa.sin_port);
    epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_fd_ < 0) return core::OsError("epoll_create1", errno);
    wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd_ < 0) return core::OsError("eventfd", errno);
    Watch(listen_fd_, EPOLLIN, EPOLL_CTL_ADD);
    Watch(wake_fd_, EPOLLIN, EPOLL_CTL_ADD);
    // A spare descriptor lets the loop shed a connection when the process
    // runs out of descriptors, instead of spinning on a readable listener.
    reserve_fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    return core::Status::Ok();
  }

  void RequestStop() {
    stopping_.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
  }

  void Run() {
    std::vector<epoll_event> events(256);
    while (!stopping_.load()) {
      const int timeout = NextTimeout();
      const int n =
          ::epoll_wait(epoll_fd_, events.data(), static_cast<int>(events.size()), timeout);
      if (n < 0 && errno != EINTR) break;
      for (int i = 0; i < n; ++i) {
        const int fd = events[i].data.fd;
        if (fd == wake_fd_) continue;
        if (fd == listen_fd_) {
          AcceptAll();
          continue;
        }
        auto it = conns_.find(fd);
        if (it == conns_.end()) continue;
        OnEvent(fd, it->second, events[i].events);
      }
      ExpireDeadlines();
    }
  }

 private:
  enum class Phase { kReading, kDelayed, kWriting, kDraining, kResetting };

  struct Conn {
    RequestParser parser;
    Phase phase = Phase::kReading;
    WireReply reply;
    std::size_t sent = 0;
    std::size_t next_break = 0;
    bool reset_after = false;
    bool got_bytes = false;
    std::int64_t reset_by = 0;
    std::int64_t deadline = 0;
    std::uint64_t generation = 0;
  };

  struct Timer {
    std::int64_t when;
    int fd;
    std::uint64_t generation;
    bool operator>(const Timer& other) const { return when > other.when; }
  };

  void Watch(int fd, std::uint32_t events, int op) {
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = fd;
    ::epoll_ctl(epoll_fd_, op, fd, &ev);
  }

  void SetDeadline(int fd, Conn& conn, std::int64_t when) {
    conn.deadline = when;
    ++conn.generation;
    timers_.push({when, fd, conn.generation});
    // Superseded entries are skipped lazily; rebuild the heap when they
    // outnumber the live ones, so memory follows the open connections.
    if (timers_.size() > 4 * conns_.size() + 1024) {
      std::vector<Timer> live;
      live.reserve(conns_.size());
      for (const auto& [live_fd, live_conn] : conns_) {
        live.push_back({live_conn.deadline, live_fd, live_conn.generation});
      }
      timers_ = decltype(timers_)(std::greater<Timer>(), std::move(live));
    }
  }

  int NextTimeout() {
    while (!timers_.empty()) {
      const Timer& top = timers_.top();
      auto it = conns_.find(top.fd);
      if (it == conns_.end() || it->second.generation != top.generation) {
        timers_.pop();
        continue;
      }
      const std::int64_t wait = top.when - SteadyMillis();
      return wait <= 0 ? 0 : static_cast<int>(std::min<std::int64_t>(wait, 1000));
    }
    return 1000;
  }

  void ExpireDeadlines() {
    const std::int64_t now = SteadyMillis();
    while (!timers_.empty() && timers_.top().when <= now) {
      const Timer timer = timers_.top();
      timers_.pop();
      auto it = conns_.find(timer.fd);
      if (it == conns_.end() || it->second.generation != timer.generation) continue;
      Conn& conn = it->second;
      switch (conn.phase) {
        case Phase::kReading: {
          // Bytes that arrived while the loop was busy elsewhere count as in
          // time: read them before judging the client slow.
          Read(timer.fd, conn);
          it = conns_.find(timer.fd);
          if (it == conns_.end() || it->second.phase != Phase::kReading) break;
          // A silent or slow client: say so, then close.
          Outcome outcome = gateway_.Malformed(408, "timeout");
          Log(outcome, "-");
          BeginReply(timer.fd, it->second, outcome, /*apply_delay=*/false);
          break;
        }
        case Phase::kDelayed:
          StartWriting(timer.fd, conn);
          break;
        case Phase::kWriting:
        case Phase::kDraining:
          Close(timer.fd);
          break;
        case Phase::kResetting: {
          int queued = 0;
          if (::ioctl(timer.fd, SIOCOUTQ, &queued) == 0 && queued > 0 && now < conn.reset_by) {
            SetDeadline(timer.fd, conn, now + 5);
            break;
          }
          // An abortive close: the peer sees a reset instead of an orderly end.
          const linger hard{1, 0};
          ::setsockopt(timer.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
          Close(timer.fd);
          break;
        }
      }
    }
  }

  void AcceptAll() {
    for (;;) {
      const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if ((errno == EMFILE || errno == ENFILE) && reserve_fd_ >= 0) {
          ::close(reserve_fd_);
          const int shed = ::accept(listen_fd_, nullptr, nullptr);
          if (shed >= 0) ::close(shed);
          reserve_fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
          continue;
        }
        return;  // EAGAIN, or a transient error: wait for the next event
      }
      if (conns_.size() >= options_.max_connections) {
        ::close(fd);
        continue;
      }
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      Conn& conn = conns_[fd];
      Watch(fd, EPOLLIN | EPOLLRDHUP, EPOLL_CTL_ADD);
      SetDeadline(fd, conn, SteadyMillis() + options_.read_timeout_ms);
    }
  }

  void OnEvent(int fd, Conn& conn, std::uint32_t events) {
    switch (conn.phase) {
      case Phase::kReading:
        if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) Read(fd, conn);
        break;
      case Phase::kWriting:
        if (events & (EPOLLHUP | EPOLLERR)) {
          Close(fd);
        } else if (events & EPOLLOUT) {
          Write(fd, conn);
        }
        break;
      case Phase::kDraining:
        Drain(fd);
        break;
      case Phase::kDelayed:
      case Phase::kResetting:
        if (events & (EPOLLHUP | EPOLLERR)) Close(fd);
        break;
    }
  }

  void Read(int fd, Conn& conn) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) {
        conn.got_bytes = true;
        const auto state = conn.parser.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        if (state == RequestParser::State::kComplete) {
          Outcome outcome = gateway_.Handle(conn.parser.request());
          Log(outcome, conn.parser.request().method);
          BeginReply(fd, conn, outcome, /*apply_delay=*/true);
          return;
        }
        if (state == RequestParser::State::kError) {
          Outcome outcome =
              gateway_.Malformed(conn.parser.error_status(), conn.parser.error_reason());
          Log(outcome, "-");
          BeginReply(fd, conn, outcome, /*apply_delay=*/false);
          return;
        }
        continue;
      }
      if (n == 0) {
        // The client gave up before finishing its request.
        Close(fd);
        return;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) Close(fd);
      return;
    }
  }

  void BeginReply(int fd, Conn& conn, const Outcome& outcome, bool apply_delay) {
    if (outcome.disposition == Disposition::kCloseWithoutReply) {
      Close(fd);
      return;
    }
    conn.reply = SerializeResponse(outcome.response, clock_.NowMillis());
    if (outcome.disposition == Disposition::kHalfThenReset) {
      const std::size_t half = conn.reply.bytes.size() / 2;
      conn.reply.bytes.resize(half);
      std::erase_if(conn.reply.breaks, [&](std::size_t b) { return b >= half; });
      conn.reset_after = true;
    }
    if (apply_delay && outcome.delay_ms > 0) {
      conn.phase = Phase::kDelayed;
      Watch(fd, 0, EPOLL_CTL_MOD);  // only hang-ups and errors (always reported)
      SetDeadline(fd, conn, SteadyMillis() + outcome.delay_ms);
      return;
    }
    StartWriting(fd, conn);
  }

  void StartWriting(int fd, Conn& conn) {
    conn.phase = Phase::kWriting;
    Watch(fd, EPOLLOUT, EPOLL_CTL_MOD);
    SetDeadline(fd, conn, SteadyMillis() + options_.write_timeout_ms);
    Write(fd, conn);
  }

  void Write(int fd, Conn& conn) {
    const std::string& bytes = conn.reply.bytes;
    while (conn.sent < bytes.size()) {
      while (conn.next_break < conn.reply.breaks.size() &&
             conn.reply.breaks[conn.next_break] <= conn.sent) {
        ++conn.next_break;
      }
      const std::size_t end = conn.next_break < conn.reply.breaks.size()
                                  ? conn.reply.breaks[conn.next_break]
                                  : bytes.size();
      const ssize_t n = ::send(fd, bytes.data() + conn.sent, end - conn.sent, MSG_NOSIGNAL);
      if (n > 0) {
        conn.sent += static_cast<std::size_t>(n);
        SetDeadline(fd, conn, SteadyMillis() + options_.write_timeout_ms);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      Close(fd);
      return;
    }
    if (conn.reset_after) {
      // Let the bytes leave the send queue first: a reset discards what is
      // still queued, and the peer should see half a reply, then the reset.
      conn.phase = Phase::kResetting;
      conn.reset_by = SteadyMillis() + 2000;
      Watch(fd, 0, EPOLL_CTL_MOD);  // only hang-ups and errors (always reported)
      SetDeadline(fd, conn, SteadyMillis() + 5);
      return;
    }
    // Half-close and read what the client still sends, so that unread input
    // does not turn our close into a reset that could destroy the reply.
    ::shutdown(fd, SHUT_WR);
    conn.phase = Phase::kDraining;
    conn.reply = WireReply();
    Watch(fd, EPOLLIN | EPOLLRDHUP, EPOLL_CTL_MOD);
    SetDeadline(fd, conn, SteadyMillis() + 2000);
  }

  void Drain(int fd) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) continue;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      Close(fd);
      return;
    }
  }

  void Close(int fd) {
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    conns_.erase(fd);
  }

  void Log(const Outcome& outcome, std::string_view method) {
    if (!options_.log) return;
    std::string line;
    line.reserve(96);
    line += method.empty() ? "-" : std::string(method);
    line.push_back(' ');
    line += outcome.service.empty() ? "-" : outcome.service;
    line.push_back(' ');
    // The action comes from the client: keep the line printable and short.
    std::string action;
    for (char c : outcome.action.substr(0, 64)) {
      action.push_back(
          static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E ? '?' : c);
    }
    line += action.empty() ? "-" : action;
    line.push_back(' ');
    line += outcome.disposition == Disposition::kHalfThenReset ? "fault:half" : outcome.outcome;
    line.push_back(' ');
    line += outcome.disposition == Disposition::kCloseWithoutReply
                ? "-"
                : std::to_string(outcome.response.status);
    options_.log(line);
  }

  const ServerOptions& options_;
  const Clock& clock_;
  Gateway gateway_;
  int listen_fd_ = -1;
  int epoll_fd_ = -1;
  int wake_fd_ = -1;
  int reserve_fd_ = -1;
  std::atomic<bool> stopping_{false};
  std::unordered_map<int, Conn> conns_;
  std::priority_queue<Timer, std::vector<Timer>, std::greater<Timer>> timers_;
};

Server::Server(ServerOptions options, const Clock& clock)
    : options_(std::move(options)), clock_(clock) {}

Server::~Server() { Stop(); }

core::Status Server::Start() {
  if (loop_) return core::Status::Error("server already started");
  auto loop = std::make_unique<Loop>(options_, clock_);
  core::Status status = loop->Open(port_);
  if (!status.ok()) return status;
  loop_ = std::move(loop);
  thread_ = std::thread([this] { loop_->Run(); });
  return core::Status::Ok();
}

void Server::Stop() {
  if (!loop_) return;
  loop_->RequestStop();
  if (thread_.joinable()) thread_.join();
  loop_.reset();
}

}  // namespace kestrune::sim
