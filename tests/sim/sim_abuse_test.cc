// Load and abuse of the kestrune-sim program on 127.0.0.1: a thousand
// connections opened at once, slow clients, oversized heads and garbage
// bytes. Throughout, the simulator must keep answering good requests, never
// die, and keep its memory bounded; each case prints the program's peak
// resident memory (VmHWM).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/clock.h"
#include "tests/sim/sim_test_util.h"

extern char** environ;

namespace kestrune::sim {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Generous: the simulator needs a few MiB; a leak per connection of the
// thousands opened here would pass this.
constexpr long kPeakMemoryBoundKib = 256 * 1024;

int ConnectNonBlocking(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Sends what it can of `data` within `timeout_ms`; returns the bytes sent.
std::size_t SendSome(int fd, std::string_view data, int timeout_ms) {
  std::size_t sent = 0;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
  while (sent < data.size() && SteadyClock::now() < deadline) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      break;
    }
    sent += static_cast<std::size_t>(n);
  }
  return sent;
}

// Reads until the peer closes or resets, or `timeout_ms` pass.
std::string ReadUntilClosed(int fd, int timeout_ms, bool* ended = nullptr) {
  std::string out;
  char buffer[16384];
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
  bool closed = false;
  while (!closed && SteadyClock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      out.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      closed = true;
    }
  }
  if (ended != nullptr) *ended = closed;
  return out;
}

int StatusOf(std::string_view reply) {
  if (!reply.starts_with("HTTP/1.1 ") || reply.size() < 12) return 0;
  return std::atoi(std::string(reply.substr(9, 3)).c_str());
}

class SimAbuseTest : public ::testing::Test {
 protected:
  // Starts the program with the given time for a request head.
  void StartSim(int read_timeout_ms) {
    audit_.Keys({});  // it serves the demo pair
    // A thousand client sockets here and as many on the simulator's side.
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_cur < 4096) {
      limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4096);
      ::setrlimit(RLIMIT_NOFILE, &limit);
      ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    descriptors_ = static_cast<long>(limit.rlim_cur);

    int out_pipe[2];
    ASSERT_EQ(::pipe2(out_pipe, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_addchdir_np(&actions, work_.c_str());
    std::string program = KESTRUNE_SIM_PATH;
    std::vector<std::string> args = {program, "--port",         "0",
                                     "-q",    "--read-timeout", std::to_string(read_timeout_ms)};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ASSERT_EQ(::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out_pipe[1]);
    std::string line;
    char c = 0;
    pollfd p{out_pipe[0], POLLIN, 0};
    while (line.size() < 100 && ::poll(&p, 1, 5000) > 0 && ::read(out_pipe[0], &c, 1) == 1 &&
           c != '\n') {
      line.push_back(c);
    }
    out_fd_ = out_pipe[0];
    first_line_ = line;
    ASSERT_TRUE(line.starts_with("listening on 127.0.0.1:")) << line;
    port_ = static_cast<std::uint16_t>(std::stoi(line.substr(23)));
  }

  void TearDown() override {
    StopSim();
    // All it printed, and all it wrote in its working directory.
    audit_.CheckText("the program's standard output", first_line_ + "\n" + RestOfOutput());
    audit_.CheckFilesUnder(work_);
    audit_.Finish();
  }

  void StopSim() {
    if (pid_ <= 0) return;
    // Still alive after everything, and still answering.
    EXPECT_EQ(::waitpid(pid_, nullptr, WNOHANG), 0) << "the simulator died";
    EXPECT_EQ(GoodRequest(), 200);
    const long peak = PeakMemoryKib();
    std::printf("[ peak     ] kestrune-sim VmHWM %ld KiB (%s)\n", peak,
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    RecordProperty("sim_peak_kib", std::to_string(peak));
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, kPeakMemoryBoundKib);
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(WIFEXITED(status)) << "the simulator did not stop on SIGTERM";
  }

  // What the program wrote after its first line, up to its end (bounded).
  std::string RestOfOutput() {
    std::string rest;
    char buffer[4096];
    pollfd p{out_fd_, POLLIN, 0};
    while (out_fd_ >= 0 && rest.size() < (1u << 20) && ::poll(&p, 1, 2000) > 0) {
      const ssize_t n = ::read(out_fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      rest.append(buffer, static_cast<std::size_t>(n));
    }
    if (out_fd_ >= 0) ::close(out_fd_);
    out_fd_ = -1;
    return rest;
  }

  long PeakMemoryKib() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.starts_with("VmHWM:")) return std::atol(line.c_str() + 6);
    }
    return -1;
  }

  std::string SignedRequest() {
    audit_.Secret(signer_.secret);
    return "GET /?" + signer_.Query("DescribeRegions", {}, clock_.NowMillis()) +
           " HTTP/1.1\r\nHost: ecs.aliyuncs.com\r\nConnection: close\r\n\r\n";
  }

  // One good request on a connection of its own; its HTTP status (0: none).
  int GoodRequest() {
    const int fd = ConnectNonBlocking(port_);
    if (fd < 0) return 0;
    SendSome(fd, SignedRequest(), 5000);
    const std::string reply = ReadUntilClosed(fd, 10000);
    ::close(fd);
    audit_.CheckText("a reply", reply);
    if (!reply.ends_with("</DescribeRegionsResponse>")) return -StatusOf(reply);
    return StatusOf(reply);
  }

  // Captures the program's standard error (its log) from the start.
  testing::SimAudit audit_;
  testing::ScratchDirectory scratch_;
  std::filesystem::path work_ = scratch_.Sub("work");
  std::string first_line_;
  int out_fd_ = -1;
  pid_t pid_ = 0;
  std::uint16_t port_ = 0;
  long descriptors_ = 0;
  SystemClock clock_;
  testing::Signer signer_;
};

TEST_F(SimAbuseTest, ThousandConnectionsOpenedAtOnceAreAllAnswered) {
  constexpr int kConnections = 1000;
  // Ten seconds for a head: the flood is served by one thread, and what is
  // measured here is that none is lost, not how fast they go.
  StartSim(10000);
  if (descriptors_ < kConnections + 100) GTEST_SKIP() << "too few descriptors: " << descriptors_;
  std::vector<std::string> requests;
  for (int i = 0; i < kConnections; ++i) requests.push_back(SignedRequest());
  std::vector<int> fds;
  for (int i = 0; i < kConnections; ++i) {
    const int fd = ConnectNonBlocking(port_);
    ASSERT_GE(fd, 0) << "connection " << i;
    fds.push_back(fd);
  }
  // Every request is written before any reply is read.
  std::vector<std::size_t> written(kConnections, 0);
  std::vector<std::string> replies(kConnections);
  std::vector<bool> done(kConnections, false);
  int finished = 0;
  const auto deadline = SteadyClock::now() + std::chrono::seconds(30);
  std::vector<pollfd> polls(kConnections);
  char buffer[16384];
  while (finished < kConnections && SteadyClock::now() < deadline) {
    for (int i = 0; i < kConnections; ++i) {
      const bool writing = written[i] < requests[i].size();
      polls[i] = {done[i] ? -1 : fds[i], static_cast<short>(writing ? POLLOUT : POLLIN), 0};
    }
    if (::poll(polls.data(), polls.size(), 100) <= 0) continue;
    for (int i = 0; i < kConnections; ++i) {
      if (done[i] || polls[i].revents == 0) continue;
      if (written[i] < requests[i].size()) {
        const ssize_t n = ::send(fds[i], requests[i].data() + written[i],
                                 requests[i].size() - written[i], MSG_NOSIGNAL);
        if (n > 0) written[i] += static_cast<std::size_t>(n);
        if (n < 0 && errno != EAGAIN) done[i] = true, ++finished;
        continue;
      }
      const ssize_t n = ::recv(fds[i], buffer, sizeof buffer, 0);
      if (n > 0) {
        replies[i].append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EAGAIN) {
        done[i] = true;
        ++finished;
      }
    }
  }
  int answered = 0;
  for (int i = 0; i < kConnections; ++i) {
    ::close(fds[i]);
    audit_.CheckText("a reply", replies[i]);
    if (StatusOf(replies[i]) == 200 && replies[i].ends_with("</DescribeRegionsResponse>")) {
      ++answered;
    }
  }
  EXPECT_EQ(finished, kConnections);
  EXPECT_EQ(answered, kConnections);
}

TEST_F(SimAbuseTest, SlowClientsAreTimedOutWhileGoodRequestsAreServed) {
  constexpr int kSlow = 200;
  StartSim(1000);
  std::vector<int> slow;
  for (int i = 0; i < kSlow; ++i) {
    const int fd = ConnectNonBlocking(port_);
    ASSERT_GE(fd, 0);
    slow.push_back(fd);
  }
  // A request head dribbled one byte per 100 ms never completes within the
  // one-second read time-out; good requests are answered meanwhile.
  const std::string head = SignedRequest();
  int good = 0;
  for (std::size_t step = 0; step < 8; ++step) {
    for (int fd : slow) SendSome(fd, std::string_view(head).substr(step, 1), 100);
    if (GoodRequest() == 200) ++good;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(good, 8);
  // Every slow client is let go: a 408 answer or a close, within a bound.
  int released = 0;
  for (int fd : slow) {
    bool ended = false;
    const std::string reply = ReadUntilClosed(fd, 5000, &ended);
    audit_.CheckText("a reply", reply);
    if (ended && (reply.empty() || StatusOf(reply) == 408)) ++released;
    ::close(fd);
  }
  EXPECT_EQ(released, kSlow);
}

TEST_F(SimAbuseTest, OversizedHeadsAreRefusedWith431) {
  constexpr int kClients = 50;
  StartSim(1000);
  int refused = 0;
  for (int i = 0; i < kClients; ++i) {
    const int fd = ConnectNonBlocking(port_);
    ASSERT_GE(fd, 0);
    // Either one header line far over the size cap, or more header lines
    // than the count cap in a head of modest size.
    std::string head = "GET /?Action=DescribeRegions HTTP/1.1\r\nHost: ecs.aliyuncs.com\r\n";
    if (i % 2 == 0) {
      head += "X-Big: " + std::string(64 * 1024, 'a') + "\r\n";
    } else {
      for (int k = 0; k < 500; ++k) head += "X-" + std::to_string(k) + ": v\r\n";
    }
    head += "\r\n";
    SendSome(fd, head, 2000);
    const std::string reply = ReadUntilClosed(fd, 5000);
    audit_.CheckText("a reply", reply);
    if (StatusOf(reply) == 431) ++refused;
    ::close(fd);
  }
  EXPECT_EQ(refused, kClients);
  EXPECT_EQ(GoodRequest(), 200);
}

TEST_F(SimAbuseTest, GarbageBytesNeverStopTheService) {
  StartSim(1000);
  std::mt19937 random(8);  // fixed: the same garbage every run
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(1, 32 * 1024);
  std::uniform_int_distribution<int> ending(0, 2);
  int good = 0;
  for (int i = 0; i < 300; ++i) {
    const int fd = ConnectNonBlocking(port_);
    ASSERT_GE(fd, 0);
    std::string garbage(static_cast<std::size_t>(length(random)), '\0');
    for (char& c : garbage) c = static_cast<char>(byte(random));
    // Some garbage starts like a request, so it gets past the request line.
    if (i % 3 == 0) garbage = "GET /?" + garbage;
    if (i % 5 == 0) garbage += "\r\n\r\n";
    SendSome(fd, garbage, 200);
    switch (ending(random)) {
      case 0:  // done sending: wait for whatever answer comes
        ::shutdown(fd, SHUT_WR);
        audit_.CheckText("a reply", ReadUntilClosed(fd, 2000));
        ::close(fd);
        break;
      case 1:  // hang up at once
        ::close(fd);
        break;
      default: {  // reset
        const linger abort_close{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
        ::close(fd);
      }
    }
    if (i % 30 == 0 && GoodRequest() == 200) ++good;
  }
  EXPECT_EQ(good, 10);
}

}  // namespace
}  // namespace kestrune::sim
