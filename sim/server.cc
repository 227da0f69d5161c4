#include "sim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <queue>
#include <unordered_map>
#include <vector>

#include "core/os_error.h"
#include "sim/http.h"
#include "sim/tls.h"

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
  Loop(const ServerOptions& options, const Clock& clock, std::unique_ptr<TlsContext> tls)
      : options_(options), clock_(clock), tls_(std::move(tls)), gateway_(options.gateway, clock) {}

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
    // OpenSSL writes to the socket without MSG_NOSIGNAL: a peer that has gone
    // must give this thread EPIPE, not end the process. The signal stays
    // pending on this thread alone and dies with it.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    std::vector<epoll_event> events(256);
    while (!stopping_.load()) {
      const int timeout = ready_.empty() ? NextTimeout() : 0;
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
      RunReady();
      ExpireDeadlines();
    }
  }

 private:
  enum class Phase { kHandshaking, kReading, kDelayed, kWriting, kDraining, kResetting };
  // What one read or write came to; for TLS, which readiness it waits for.
  enum class Io { kDone, kWantRead, kWantWrite, kClosed, kFailed };

  struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
  };

  struct Conn {
    std::uint64_t number = 0;  // in accept order, from 1, for the log
    std::unique_ptr<SSL, SslFree> ssl;
    std::uint32_t interest = 0;  // the epoll events asked for
    RequestParser parser;
    std::string pending;  // bytes read with the previous request, not parsed yet
    Phase phase = Phase::kReading;
    WireReply reply;
    std::size_t sent = 0;
    std::size_t next_break = 0;
    bool reset_after = false;
    bool keep_alive = false;
    bool got_bytes = false;
    int served = 0;  // replies begun on this connection
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

  void Interest(int fd, Conn& conn, std::uint32_t events) {
    if (conn.interest == events) return;
    conn.interest = events;
    Watch(fd, events, EPOLL_CTL_MOD);
  }

  // TLS may need to write while reading and the other way round.
  void InterestFor(int fd, Conn& conn, Io io) {
    Interest(fd, conn, io == Io::kWantWrite ? EPOLLOUT : EPOLLIN | EPOLLRDHUP);
  }

  Io SslResult(Conn& conn, int result) {
    switch (SSL_get_error(conn.ssl.get(), result)) {
      case SSL_ERROR_WANT_READ:
        return Io::kWantRead;
      case SSL_ERROR_WANT_WRITE:
        return Io::kWantWrite;
      case SSL_ERROR_ZERO_RETURN:
        return Io::kClosed;
      default:
        return Io::kFailed;
    }
  }

  Io Receive(int fd, Conn& conn, char* buffer, std::size_t capacity, std::size_t& received) {
    if (conn.ssl) {
      ERR_clear_error();
      const int n = SSL_read(conn.ssl.get(), buffer, static_cast<int>(capacity));
      if (n > 0) {
        received = static_cast<std::size_t>(n);
        return Io::kDone;
      }
      return SslResult(conn, n);
    }
    for (;;) {
      const ssize_t n = ::recv(fd, buffer, capacity, 0);
      if (n > 0) {
        received = static_cast<std::size_t>(n);
        return Io::kDone;
      }
      if (n == 0) return Io::kClosed;
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK ? Io::kWantRead : Io::kFailed;
    }
  }

  Io Send(int fd, Conn& conn, const char* data, std::size_t size, std::size_t& written) {
    if (conn.ssl) {
      ERR_clear_error();
      const int n =
          SSL_write(conn.ssl.get(), data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
      if (n > 0) {
        written = static_cast<std::size_t>(n);
        return Io::kDone;
      }
      return SslResult(conn, n);
    }
    for (;;) {
      const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
      if (n > 0) {
        written = static_cast<std::size_t>(n);
        return Io::kDone;
      }
      if (n < 0 && errno == EINTR) continue;
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? Io::kWantWrite : Io::kFailed;
    }
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
        case Phase::kHandshaking:
          LogLine("connection #" + std::to_string(conn.number) +
                  " tls handshake failed: timed out");
          Close(timer.fd);
          break;
        case Phase::kReading: {
          // Bytes that arrived while the loop was busy elsewhere count as in
          // time: read them before judging the client slow.
          Read(timer.fd, conn);
          it = conns_.find(timer.fd);
          if (it == conns_.end() || it->second.phase != Phase::kReading ||
              it->second.generation != timer.generation) {
            break;
          }
          if (!it->second.got_bytes && it->second.served > 0) {
            // A persistent connection left idle: close it without a word, as
            // a client may be just about to reuse it.
            Close(timer.fd);
            break;
          }
          // A silent or slow client: say so, then close.
          Outcome outcome = gateway_.Malformed(408, "timeout");
          Log(outcome, "-");
          it->second.keep_alive = false;
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
      sockaddr_in peer{};
      socklen_t peer_length = sizeof peer;
      const int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &peer_length,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
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
      SSL* ssl = nullptr;
      if (tls_) {
        ssl = SSL_new(tls_->get());
        if (ssl == nullptr || SSL_set_fd(ssl, fd) != 1) {
          SSL_free(ssl);
          ERR_clear_error();
          ::close(fd);
          continue;
        }
        SSL_set_accept_state(ssl);
      }
      Conn& conn = conns_[fd];
      conn.number = ++accepted_;
      conn.ssl.reset(ssl);
      conn.phase = ssl != nullptr ? Phase::kHandshaking : Phase::kReading;
      conn.interest = EPOLLIN | EPOLLRDHUP;
      Watch(fd, conn.interest, EPOLL_CTL_ADD);
      SetDeadline(fd, conn, SteadyMillis() + options_.read_timeout_ms);
      char address[INET_ADDRSTRLEN] = "?";
      ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
      LogLine("connection #" + std::to_string(conn.number) + " from " + address + ":" +
              std::to_string(ntohs(peer.sin_port)));
    }
  }

  void OnEvent(int fd, Conn& conn, std::uint32_t events) {
    switch (conn.phase) {
      case Phase::kHandshaking:
        Handshake(fd, conn);
        break;
      case Phase::kReading:
        if (events & (EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) Read(fd, conn);
        break;
      case Phase::kWriting:
        if (events & (EPOLLHUP | EPOLLERR)) {
          Close(fd);
        } else if (events & (EPOLLOUT | EPOLLIN)) {
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

  // Drives the TLS handshake as far as the socket allows. Nothing is read
  // as a request before it completes, so a client that refuses the
  // certificate leaves only the failure in the log.
  void Handshake(int fd, Conn& conn) {
    ERR_clear_error();
    const int result = SSL_accept(conn.ssl.get());
    if (result == 1) {
      conn.phase = Phase::kReading;
      InterestFor(fd, conn, Io::kWantRead);
      Read(fd, conn);
      return;
    }
    const int error = SSL_get_error(conn.ssl.get(), result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      InterestFor(fd, conn, error == SSL_ERROR_WANT_WRITE ? Io::kWantWrite : Io::kWantRead);
      return;
    }
    const int os_error = errno;
    std::string reason = TakeTlsError("");
    if (reason.empty()) {
      reason = error == SSL_ERROR_SYSCALL && os_error != 0 ? std::strerror(os_error)
                                                           : "the client closed the connection";
    }
    LogLine("connection #" + std::to_string(conn.number) + " tls handshake failed: " + reason);
    Close(fd);
  }

  // Takes received bytes into the request; true when the request is complete
  // or refused and has been answered (the connection may be gone then).
  bool Consume(int fd, Conn& conn, std::string_view data) {
    if (!conn.got_bytes) {
      conn.got_bytes = true;
      // Between requests the idle time-out ran; the head has its own.
      if (conn.served > 0) SetDeadline(fd, conn, SteadyMillis() + options_.read_timeout_ms);
    }
    const auto state = conn.parser.Feed(data);
    if (state == RequestParser::State::kComplete) {
      Outcome outcome = gateway_.Handle(conn.parser.request());
      conn.keep_alive =
          conn.parser.request().KeepAlive() && outcome.disposition == Disposition::kReply;
      Log(outcome, conn.parser.request().method);
      BeginReply(fd, conn, outcome, /*apply_delay=*/true);
      return true;
    }
    if (state == RequestParser::State::kError) {
      Outcome outcome = gateway_.Malformed(conn.parser.error_status(), conn.parser.error_reason());
      conn.keep_alive = false;  // the rest of the stream cannot be trusted
      Log(outcome, "-");
      BeginReply(fd, conn, outcome, /*apply_delay=*/false);
      return true;
    }
    return false;
  }

  void Read(int fd, Conn& conn) {
    if (!conn.pending.empty()) {
      const std::string pending = std::move(conn.pending);
      conn.pending.clear();
      if (Consume(fd, conn, pending)) return;
    }
    char buffer[4096];
    for (;;) {
      std::size_t n = 0;
      const Io io = Receive(fd, conn, buffer, sizeof buffer, n);
      if (io == Io::kDone) {
        if (Consume(fd, conn, std::string_view(buffer, n))) return;
        continue;
      }
      if (io == Io::kWantRead || io == Io::kWantWrite) {
        InterestFor(fd, conn, io);
        return;
      }
      // The client went away (between requests, or before finishing one).
      Close(fd);
      return;
    }
  }

  // Connections whose next request may already be buffered (after the
  // previous one, or inside the TLS session) where epoll cannot see it.
  void RunReady() {
    std::vector<int> ready;
    ready.swap(ready_);
    for (int fd : ready) {
      auto it = conns_.find(fd);
      if (it != conns_.end() && it->second.phase == Phase::kReading) Read(fd, it->second);
    }
  }

  void BeginReply(int fd, Conn& conn, const Outcome& outcome, bool apply_delay) {
    ++conn.served;
    if (outcome.disposition == Disposition::kCloseWithoutReply) {
      Close(fd);
      return;
    }
    conn.reply = SerializeResponse(outcome.response, clock_.NowMillis(), conn.keep_alive);
    if (outcome.disposition == Disposition::kResetWithoutReply) {
      conn.reply.bytes.clear();
      conn.reply.breaks.clear();
      conn.reset_after = true;
    }
    if (outcome.disposition == Disposition::kHalfThenReset) {
      const std::size_t half = conn.reply.bytes.size() / 2;
      conn.reply.bytes.resize(half);
      std::erase_if(conn.reply.breaks, [&](std::size_t b) { return b >= half; });
      conn.reset_after = true;
    }
    const int delay_ms = options_.latency_ms + (apply_delay ? outcome.delay_ms : 0);
    if (delay_ms > 0) {
      // The reply waits on its own timer; the loop serves others meanwhile.
      conn.phase = Phase::kDelayed;
      Interest(fd, conn, 0);  // only hang-ups and errors (always reported)
      SetDeadline(fd, conn, SteadyMillis() + delay_ms);
      return;
    }
    StartWriting(fd, conn);
  }

  void StartWriting(int fd, Conn& conn) {
    conn.phase = Phase::kWriting;
    Interest(fd, conn, EPOLLOUT);
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
      std::size_t n = 0;
      const Io io = Send(fd, conn, bytes.data() + conn.sent, end - conn.sent, n);
      if (io == Io::kDone) {
        conn.sent += n;
        SetDeadline(fd, conn, SteadyMillis() + options_.write_timeout_ms);
        continue;
      }
      if (io == Io::kWantRead || io == Io::kWantWrite) {
        Interest(fd, conn, io == Io::kWantRead ? EPOLLIN : EPOLLOUT);
        return;
      }
      Close(fd);
      return;
    }
    if (conn.reset_after) {
      // Let the bytes leave the send queue first: a reset discards what is
      // still queued, and the peer should see half a reply, then the reset.
      conn.phase = Phase::kResetting;
      conn.reset_by = SteadyMillis() + 2000;
      Interest(fd, conn, 0);  // only hang-ups and errors (always reported)
      SetDeadline(fd, conn, SteadyMillis() + 5);
      return;
    }
    if (conn.keep_alive) {
      NextRequest(fd, conn);
      return;
    }
    if (conn.ssl) {
      // close_notify, as far as the socket takes it at once: the reply
      // itself is complete either way.
      ERR_clear_error();
      SSL_shutdown(conn.ssl.get());
      ERR_clear_error();
    }
    // Half-close and read what the client still sends, so that unread input
    // does not turn our close into a reset that could destroy the reply.
    ::shutdown(fd, SHUT_WR);
    conn.phase = Phase::kDraining;
    conn.reply = WireReply();
    Interest(fd, conn, EPOLLIN | EPOLLRDHUP);
    SetDeadline(fd, conn, SteadyMillis() + 2000);
  }

  // A persistent connection waits for its next request.
  void NextRequest(int fd, Conn& conn) {
    conn.pending = conn.parser.TakeSurplus();
    conn.parser = RequestParser();
    conn.reply = WireReply();
    conn.sent = 0;
    conn.next_break = 0;
    conn.got_bytes = false;
    conn.keep_alive = false;
    conn.phase = Phase::kReading;
    InterestFor(fd, conn, Io::kWantRead);
    SetDeadline(fd, conn, SteadyMillis() + options_.idle_timeout_ms);
    ready_.push_back(fd);
  }

  void Drain(int fd) {
    // Raw bytes, also under TLS: they are thrown away unread.
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

  void LogLine(const std::string& line) {
    if (options_.log) options_.log(line);
  }

  // A value from the client, printable and short for the log; "-" when empty.
  static std::string Printable(std::string_view value) {
    std::string text;
    for (char c : value.substr(0, 64)) {
      text.push_back(
          static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E ? '?' : c);
    }
    return text.empty() ? "-" : text;
  }

  void Log(const Outcome& outcome, std::string_view method) {
    if (!options_.log) return;
    std::string line;
    line.reserve(96);
    line += method.empty() ? "-" : std::string(method);
    line.push_back(' ');
    line += outcome.service.empty() ? "-" : outcome.service;
    line.push_back(' ');
    line += Printable(outcome.action);
    line.push_back(' ');
    line += outcome.disposition == Disposition::kHalfThenReset       ? "fault:half"
            : outcome.disposition == Disposition::kResetWithoutReply ? "fault:reset"
                                                                     : outcome.outcome;
    line.push_back(' ');
    line += outcome.disposition == Disposition::kCloseWithoutReply ||
                    outcome.disposition == Disposition::kResetWithoutReply
                ? "-"
                : std::to_string(outcome.response.status);
    if (options_.log_nonces) {
      line += " nonce=" + Printable(outcome.nonce);
      line += " token=" + Printable(outcome.client_token);
    }
    options_.log(line);
  }

  const ServerOptions& options_;
  const Clock& clock_;
  std::unique_ptr<TlsContext> tls_;
  Gateway gateway_;
  std::uint64_t accepted_ = 0;
  std::vector<int> ready_;
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
  std::unique_ptr<TlsContext> tls;
  if (!options_.tls_certificate_file.empty() || !options_.tls_key_file.empty()) {
    auto loaded = TlsContext::FromFiles(options_.tls_certificate_file, options_.tls_key_file);
    if (!loaded.ok()) return loaded.status();
    tls = std::move(loaded).value();
  }
  auto loop = std::make_unique<Loop>(options_, clock_, std::move(tls));
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
