#include "sim/server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "sim/tls.h"
#include "tests/sim/sim_test_util.h"

extern char** environ;

namespace kestrune::sim {
namespace {

using testing::Element;

int Connect(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

struct Received {
  std::string bytes;
  bool closed = false;  // orderly end
  bool reset = false;
};

// Reads until the peer closes, resets, or the time runs out (bounded).
Received ReadAll(int fd, int timeout_ms = 5000) {
  Received out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  char buffer[65536];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      out.bytes.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      out.closed = true;
      break;
    } else if (errno != EINTR) {
      out.reset = errno == ECONNRESET;
      break;
    }
  }
  return out;
}

Received RawExchange(std::uint16_t port, const std::string& data, int timeout_ms = 5000) {
  const int fd = Connect(port);
  if (fd < 0) return {};
  ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
  Received out = ReadAll(fd, timeout_ms);
  ::close(fd);
  return out;
}

// One reply on a connection that stays open: its head and Content-Length
// bytes of body (bounded).
Received ReadOneReply(int fd) {
  Received out;
  char buffer[4096];
  for (int i = 0; i < 50; ++i) {
    const std::size_t head = out.bytes.find("\r\n\r\n");
    const std::size_t length = out.bytes.find("\r\nContent-Length: ");
    if (head != std::string::npos && length < head &&
        out.bytes.size() >= head + 4 + std::stoul(out.bytes.substr(length + 18))) {
      break;
    }
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    out.bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

// A native OpenSSL client that trusts only `ca_file` and wants the name
// localhost: whether the server passed, and what it answered `request`.
std::pair<bool, Received> TlsExchange(std::uint16_t port, const std::string& ca_file,
                                      const std::string& request) {
  std::pair<bool, Received> out{false, {}};
  const int fd = Connect(port);
  const timeval limit{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_load_verify_locations(context, ca_file.c_str(), nullptr);
  SSL* ssl = SSL_new(context);
  SSL_set_fd(ssl, fd);
  SSL_set1_host(ssl, "localhost");
  if (fd >= 0 && SSL_connect(ssl) == 1) {
    out.first = true;
    SSL_write(ssl, request.data(), static_cast<int>(request.size()));
    char buffer[16384];
    for (int n = 0; (n = SSL_read(ssl, buffer, sizeof buffer)) > 0;) {
      out.second.bytes.append(buffer, static_cast<std::size_t>(n));
    }
  }
  SSL_free(ssl);
  SSL_CTX_free(context);
  ::close(fd);
  return out;
}

int StatusOf(const Received& received) {
  if (!received.bytes.starts_with("HTTP/1.1 ")) return -1;
  return std::atoi(received.bytes.c_str() + 9);
}

std::string BodyOf(const Received& received) {
  const std::size_t end = received.bytes.find("\r\n\r\n");
  return end == std::string::npos ? "" : received.bytes.substr(end + 4);
}

// Decodes a chunked body; counts the chunks.
std::string Dechunk(const std::string& body, std::size_t& chunks, std::size_t& largest) {
  std::string out;
  std::size_t pos = 0;
  chunks = largest = 0;
  for (;;) {
    const std::size_t line_end = body.find("\r\n", pos);
    if (line_end == std::string::npos) return "<bad>";
    const std::size_t size = std::stoul(body.substr(pos, line_end - pos), nullptr, 16);
    pos = line_end + 2;
    if (size == 0) return body.substr(pos) == "\r\n" ? out : "<bad tail>";
    out += body.substr(pos, size);
    pos += size + 2;
    ++chunks;
    largest = std::max(largest, size);
  }
}

// Every reply and every request log line is audited for the secrets of the
// server's keys and of the signer.
class ServerTest : public ::testing::Test {
 protected:
  void Start(ServerOptions options = {}, const Clock* clock = nullptr) {
    audit_.Keys(options.gateway.keys);
    options.log = [this](std::string_view line) {
      std::lock_guard<std::mutex> lock(log_mutex_);
      log_.emplace_back(line);
    };
    server_ = std::make_unique<Server>(std::move(options), clock != nullptr ? *clock : clock_);
    const auto status = server_->Start();
    ASSERT_TRUE(status.ok()) << status.message();
    ASSERT_NE(server_->port(), 0);
  }
  void TearDown() override {
    if (server_) server_->Stop();
    audit_.CheckLines("the log", Lines());
    audit_.Finish();
  }
  Received Exchange(std::uint16_t port, const std::string& data, int timeout_ms = 5000) {
    Received received = RawExchange(port, data, timeout_ms);
    audit_.CheckText("a reply", received.bytes);
    return received;
  }
  std::string Request(const std::string& action, const testing::Params& extra = {},
                      const std::string& host = "ecs.aliyuncs.com", bool close = true,
                      std::int64_t signed_at = -1) {
    audit_.Secret(signer_.secret);
    return "GET /?" + signer_.Query(action, extra, signed_at < 0 ? clock_.NowMillis() : signed_at) +
           " HTTP/1.1\r\nHost: " + host + (close ? "\r\nConnection: close" : "") + "\r\n\r\n";
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(log_mutex_);
    return log_;
  }
  // The request lines of the log, or its other lines.
  std::vector<std::string> Log(bool requests = true) {
    std::vector<std::string> lines = Lines();
    std::erase_if(lines,
                  [&](const std::string& l) { return l.starts_with("connection #") == requests; });
    return lines;
  }
  // Waits (bounded) until the log holds `count` lines of the kind.
  std::vector<std::string> WaitForLog(std::size_t count, bool requests = true) {
    for (int i = 0; i < 500 && Log(requests).size() < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Log(requests);
  }

  testing::SimAudit audit_;
  ManualClock clock_{1767225600000};  // 2026-01-01T00:00:00Z
  testing::Signer signer_;
  std::unique_ptr<Server> server_;
  std::mutex log_mutex_;
  std::vector<std::string> log_;
};

TEST_F(ServerTest, AnswersASignedRequestAndCloses) {
  Start();
  const Received received = Exchange(server_->port(), Request("DescribeRegions"));
  EXPECT_TRUE(received.closed);
  ASSERT_EQ(StatusOf(received), 200) << received.bytes.substr(0, 300);
  EXPECT_NE(received.bytes.find("\r\nConnection: close\r\n"), std::string::npos);
  const std::string body = BodyOf(received);
  EXPECT_NE(received.bytes.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(testing::Count(body, "<Region>"), 28u);
  EXPECT_EQ(Log(), std::vector<std::string>{"GET ecs DescribeRegions ok 200"});
}

TEST_F(ServerTest, LargeReplyTravelsInSmallChunks) {
  Start();
  const Received received = Exchange(server_->port(), Request("DescribeInstanceTypes"));
  ASSERT_EQ(StatusOf(received), 200);
  EXPECT_NE(received.bytes.find("\r\nTransfer-Encoding: chunked\r\n"), std::string::npos);
  EXPECT_EQ(received.bytes.find("Content-Length"), std::string::npos);
  std::size_t chunks = 0, largest = 0;
  const std::string body = Dechunk(BodyOf(received), chunks, largest);
  EXPECT_GT(body.size(), 64u * 1024);
  EXPECT_GT(chunks, 30u);
  EXPECT_LE(largest, 4096u);
  EXPECT_TRUE(
      body.starts_with("<?xml version='1.0' encoding='UTF-8'?><DescribeInstanceTypesResponse>"));
  EXPECT_TRUE(body.ends_with("</InstanceTypes></DescribeInstanceTypesResponse>"));
}

TEST_F(ServerTest, StopThenDescribeShowsStoppedAcrossConnections) {
  Start();
  const std::string statuses = BodyOf(
      Exchange(server_->port(), Request("DescribeInstanceStatus", {{"RegionId", "cn-beijing"}})));
  const std::string id = Element(statuses, "InstanceId");
  ASSERT_EQ(Element(statuses, "Status"), "Running");
  ASSERT_EQ(StatusOf(Exchange(server_->port(), Request("StopInstance", {{"InstanceId", id}}))),
            200);
  const std::string after = BodyOf(
      Exchange(server_->port(), Request("DescribeInstanceStatus", {{"RegionId", "cn-beijing"}})));
  EXPECT_NE(after.find("<InstanceId>" + id + "</InstanceId><Status>Stopped</Status>"),
            std::string::npos);
}

TEST_F(ServerTest, BadInputIsAnsweredAndServingGoesOn) {
  Start({.read_timeout_ms = 300});
  const std::uint16_t port = server_->port();

  const Received garbage = Exchange(port, "GARBAGE\r\n\r\n");
  EXPECT_EQ(StatusOf(garbage), 400);
  EXPECT_EQ(Element(BodyOf(garbage), "Code"), "BadRequest");

  const Received huge =
      Exchange(port, "GET / HTTP/1.1\r\nX: " + std::string(20000, 'a') + "\r\n\r\n");
  EXPECT_EQ(StatusOf(huge), 431);

  EXPECT_EQ(StatusOf(Exchange(port, "GET /?Action=\xff\xfe HTTP/1.1\r\nHost: x\r\n\r\n")), 400);
  const Received escaped =
      Exchange(port, "GET /?Action=%FF HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(StatusOf(escaped), 400);
  EXPECT_EQ(Element(BodyOf(escaped), "Code"), "InvalidParameter");

  std::mt19937 random(3);
  std::string noise(20000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  const int noise_status = StatusOf(Exchange(port, noise));
  EXPECT_TRUE(noise_status == 400 || noise_status == 431) << noise_status;

  // A silent client and a slow one are timed out with 408.
  const int silent = Connect(port);
  const int slow = Connect(port);
  ::send(slow, "GET /?Act", 9, MSG_NOSIGNAL);
  const Received silent_reply = ReadAll(silent, 5000);
  const Received slow_reply = ReadAll(slow, 5000);
  ::close(silent);
  ::close(slow);
  audit_.CheckText("a time-out reply", silent_reply.bytes);
  audit_.CheckText("a time-out reply", slow_reply.bytes);
  EXPECT_EQ(StatusOf(silent_reply), 408);
  EXPECT_EQ(StatusOf(slow_reply), 408);
  EXPECT_EQ(Element(BodyOf(slow_reply), "Code"), "RequestTimeout");

  // A client that hangs up at once, and one that sends half a request.
  ::close(Connect(port));
  const int half = Connect(port);
  ::send(half, "GET / HT", 8, MSG_NOSIGNAL);
  ::close(half);

  // Many connections at once: the server keeps serving the good request.
  // Both ends live in this process, so the flood is sized to the descriptor limit.
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur < 8192 && limit.rlim_max > limit.rlim_cur) {
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 8192);
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
  const std::size_t flood = std::min<std::size_t>(2000, (limit.rlim_cur - 200) / 2);
  std::vector<int> idle;
  for (std::size_t i = 0; i < flood; ++i) {
    const int fd = Connect(port);
    if (fd >= 0) idle.push_back(fd);
  }
  EXPECT_GE(idle.size(), flood * 9 / 10);
  const Received good = Exchange(port, Request("DescribeRegions"));
  EXPECT_EQ(StatusOf(good), 200);
  for (int fd : idle) ::close(fd);

  // A request with a body is answered and the body does not spoil the reply.
  const std::string with_body = Request("DescribeRegions");
  const Received answered =
      Exchange(port, with_body.substr(0, with_body.size() - 2) + "Content-Length: 5\r\n\r\nhello");
  EXPECT_EQ(StatusOf(answered), 200);
  EXPECT_TRUE(answered.closed);

  EXPECT_EQ(StatusOf(Exchange(port, Request("DescribeRegions"))), 200);
}

TEST_F(ServerTest, ConnectionLimitShedsExtraConnections) {
  Start({.max_connections = 4});
  std::vector<int> held;
  for (int i = 0; i < 4; ++i) held.push_back(Connect(server_->port()));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const Received shed = Exchange(server_->port(), Request("DescribeRegions"), 2000);
  EXPECT_TRUE(shed.bytes.empty());
  for (int fd : held) ::close(fd);
  // Once they are gone, service resumes (bounded retries while closes land).
  int status = -1;
  for (int attempt = 0; attempt < 50 && status != 200; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    status = StatusOf(Exchange(server_->port(), Request("DescribeRegions")));
  }
  EXPECT_EQ(status, 200);
}

TEST_F(ServerTest, FaultsOnTheWire) {
  ServerOptions options;
  options.gateway.faults = {.delay_ms = 200, .close = 1, .half = 1};
  Start(options);
  const Received closed = Exchange(server_->port(), Request("DescribeRegions"));
  EXPECT_TRUE(closed.bytes.empty());

  const auto before = std::chrono::steady_clock::now();
  const Received half = Exchange(server_->port(), Request("DescribeInstanceTypes"));
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(190));
  // Exactly the first half of the reply arrives, then a reset.
  EXPECT_TRUE(half.reset);
  EXPECT_FALSE(half.closed);
  EXPECT_TRUE(half.bytes.starts_with("HTTP/1.1 200 OK\r\n"));
  EXPECT_GT(half.bytes.size(), 100u * 1024);
  EXPECT_EQ(half.bytes.find("</DescribeInstanceTypesResponse>"), std::string::npos);

  const Received whole = Exchange(server_->port(), Request("DescribeRegions"));
  EXPECT_EQ(StatusOf(whole), 200);
  EXPECT_TRUE(BodyOf(whole).ends_with("</DescribeRegionsResponse>"));
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], "GET ecs DescribeRegions fault:close -");
  EXPECT_EQ(log[1], "GET ecs DescribeInstanceTypes fault:half 200");
  EXPECT_EQ(log[2], "GET ecs DescribeRegions ok 200");
}

TEST_F(ServerTest, LogNeverCarriesSecretsOrSignatures) {
  Start({.gateway = {.keys = {{"log-id", "very-secret-value"}}}});
  signer_.key_id = "log-id";
  signer_.secret = "very-secret-value";
  const std::string good = Request("DescribeRegions");
  EXPECT_EQ(StatusOf(Exchange(server_->port(), good)), 200);
  signer_.secret = "wrong-secret-value";
  const std::string bad = Request("DescribeZones", {{"RegionId", "cn-hangzhou"}});
  const Received refused = Exchange(server_->port(), bad);
  EXPECT_EQ(StatusOf(refused), 400);
  // The reply (not the log) names the server's string to sign, which holds
  // no secret: the audit checks both.
  const std::string signature = bad.substr(bad.find("Signature=") + 10, 20);
  for (const std::string& line : Log()) {
    EXPECT_EQ(line.find("secret"), std::string::npos) << line;
    EXPECT_EQ(line.find(signature), std::string::npos) << line;
  }
  EXPECT_EQ(Log().back(), "GET ecs DescribeZones SignatureDoesNotMatch 400");
}

// One connection serves requests until one says "Connection: close". A
// server clock 1200 s ahead judges a fresh time stamp expired and tells its
// time in Date; a request signed by that time then passes.
TEST_F(ServerTest, KeepsConnectionsOpenAndJudgesTimeByItsOwnClock) {
  const OffsetClock ahead(clock_, 1200 * 1000);
  Start({}, &ahead);
  const int fd = Connect(server_->port());
  const std::string first = Request("DescribeRegions", {}, "ecs.aliyuncs.com", false);
  ::send(fd, first.data(), first.size(), MSG_NOSIGNAL);
  const Received expired = ReadOneReply(fd);
  EXPECT_EQ(StatusOf(expired), 400);
  EXPECT_EQ(Element(BodyOf(expired), "Code"), "InvalidTimeStamp.Expired");
  EXPECT_NE(expired.bytes.find("\r\nConnection: keep-alive\r\n"), std::string::npos);
  EXPECT_NE(expired.bytes.find("\r\nDate: " + FormatHttpDate(ahead.NowMillis()) + "\r\n"),
            std::string::npos)
      << expired.bytes.substr(0, 200);
  const std::string second =
      Request("DescribeRegions", {}, "ecs.aliyuncs.com", true, ahead.NowMillis());
  ::send(fd, second.data(), second.size(), MSG_NOSIGNAL);
  const Received good = ReadAll(fd);
  ::close(fd);
  audit_.CheckText("the replies", expired.bytes + good.bytes);
  EXPECT_EQ(StatusOf(good), 200);
  EXPECT_TRUE(good.closed);
  EXPECT_EQ(Log(), (std::vector<std::string>{"GET ecs DescribeRegions InvalidTimeStamp.Expired 400",
                                             "GET ecs DescribeRegions ok 200"}));
  ASSERT_EQ(Log(false).size(), 1u);
  EXPECT_TRUE(Log(false)[0].starts_with("connection #1 from 127.0.0.1:")) << Log(false)[0];
}

// A held reply waits on a timer of its own: another client's request is read
// while the first reply is still held.
TEST_F(ServerTest, LatencyHoldsNoOtherClient) {
  Start({.latency_ms = 2000});
  const int first = Connect(server_->port());
  const int second = Connect(server_->port());
  for (const int fd : {first, second}) {
    const std::string request = Request("DescribeRegions");
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    ASSERT_EQ(WaitForLog(fd == first ? 1 : 2).size(), fd == first ? 1u : 2u);
  }
  pollfd held{first, POLLIN, 0};
  EXPECT_EQ(::poll(&held, 1, 0), 0) << "the first reply came before the second request was read";
  EXPECT_EQ(StatusOf(ReadAll(first)), 200);
  EXPECT_EQ(StatusOf(ReadAll(second)), 200);
  ::close(first);
  ::close(second);
}

// HTTPS with the self-signed set: a client trusting ca.pem is answered; one
// trusting other-ca.pem refuses the server and leaves no request in the log;
// a silent client holds nobody up and is let go after the handshake time.
TEST_F(ServerTest, ServesTlsWithTheSelfSignedSet) {
  const testing::ScratchDirectory scratch;
  auto files = MakeSelfSigned((scratch.path() / "tls").string());
  ASSERT_TRUE(files.ok()) << files.status().message();
  Start({.read_timeout_ms = 500,
         .tls_certificate_file = files->certificate,
         .tls_key_file = files->key});
  const int silent = Connect(server_->port());
  const auto [trusted, reply] = TlsExchange(server_->port(), files->ca, Request("DescribeRegions"));
  audit_.CheckText("the reply", reply.bytes);
  EXPECT_TRUE(trusted);
  EXPECT_EQ(StatusOf(reply), 200);
  EXPECT_TRUE(BodyOf(reply).ends_with("</DescribeRegionsResponse>"));
  EXPECT_FALSE(TlsExchange(server_->port(), files->other_ca, Request("DescribeRegions")).first);
  // Three connections, the refusal and the silent client's time-out.
  const std::vector<std::string> others = WaitForLog(5, false);
  ::close(silent);
  EXPECT_EQ(others.size(), 5u);
  EXPECT_EQ(std::count_if(others.begin(), others.end(),
                          [](const std::string& l) {
                            return l.find(" tls handshake failed: ") != std::string::npos;
                          }),
            2);
  EXPECT_NE(
      std::find(others.begin(), others.end(), "connection #1 tls handshake failed: timed out"),
      others.end());
  EXPECT_EQ(Log(), std::vector<std::string>{"GET ecs DescribeRegions ok 200"});
}

TEST_F(ServerTest, RefusesNonLoopbackAddresses) {
  Server server({.address = "0.0.0.0"}, clock_);
  EXPECT_FALSE(server.Start().ok());
  Server bad({.address = "not-an-address"}, clock_);
  EXPECT_FALSE(bad.Start().ok());
}

// A kestrune-sim process started by a test: its standard output comes back
// on a pipe; its standard error is this process's (so the audit sees it).
// Killed if the test ends while it runs.
class SimProgram {
 public:
  SimProgram(std::vector<std::string> args, const std::filesystem::path& directory) {
    int out_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    const std::string program = KESTRUNE_SIM_PATH;
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = 0;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(out_pipe[1]);
    out_ = out_pipe[0];
  }
  ~SimProgram() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  SimProgram(const SimProgram&) = delete;
  SimProgram& operator=(const SimProgram&) = delete;

  pid_t pid() const { return pid_; }
  // Reads standard output up to a newline (not kept), its end, or a time-out.
  std::string ReadLine(std::size_t limit = 100, int timeout_ms = 5000) {
    std::string line;
    char c = 0;
    pollfd p{out_, POLLIN, 0};
    while (line.size() < limit && ::poll(&p, 1, timeout_ms) > 0 && ::read(out_, &c, 1) == 1 &&
           c != '\n') {
      line.push_back(c);
    }
    return line;
  }
  // Waits (bounded) for the process to end; its wait status, or -1.
  int Wait() {
    int status = 0;
    for (int i = 0; i < 100 && pid_ > 0; ++i) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        return status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }

 private:
  pid_t pid_ = 0;
  int out_ = -1;
};

// The program: first line names the port; SIGTERM stops it cleanly. What it
// shows (both standard streams, its request log among them, and its replies)
// and whatever it writes in its working directory hold none of the secrets;
// its keys file is input and lies in a directory of its own.
TEST(SimulatorProgramTest, PrintsItsAddressAndStopsOnSigterm) {
  testing::SimAudit audit;
  const testing::ScratchDirectory scratch;
  const std::filesystem::path keys = scratch.Sub("input") / "keys";
  std::ofstream(keys, std::ios::binary) << "# for the test\nfile-id:file-key-secret\n";
  const std::filesystem::path work = scratch.Sub("work");
  testing::Signer signer{.key_id = "prog-id", .secret = "prog-secret"};
  testing::Signer from_file{.key_id = "file-id", .secret = "file-key-secret"};
  testing::Signer wrong{.key_id = "prog-id", .secret = "prog-wrong-secret"};
  for (const testing::Signer* s : {&signer, &from_file, &wrong}) audit.Secret(s->secret);

  // Not quiet: the request log goes to standard error.
  SimProgram program(
      {"--port", "0", "--access-key", "prog-id:prog-secret", "--access-key-file", keys.string()},
      work);
  ASSERT_GT(program.pid(), 0);
  const std::string first_line = program.ReadLine();
  ASSERT_TRUE(first_line.starts_with("listening on 127.0.0.1:")) << first_line;
  const auto port = static_cast<std::uint16_t>(std::stoi(first_line.substr(23)));

  SystemClock clock;
  auto exchange = [&](testing::Signer& by) {
    const Received reply =
        RawExchange(port, "GET /?" + by.Query("DescribeRegions", {}, clock.NowMillis()) +
                              " HTTP/1.1\r\nHost: ecs.aliyuncs.com\r\nConnection: close\r\n\r\n");
    audit.CheckText("a reply", reply.bytes);
    return reply;
  };
  EXPECT_EQ(StatusOf(exchange(signer)), 200);
  EXPECT_EQ(StatusOf(exchange(from_file)), 200);
  const Received refused = exchange(wrong);
  EXPECT_EQ(StatusOf(refused), 400);
  EXPECT_EQ(Element(BodyOf(refused), "Code"), "SignatureDoesNotMatch");

  ASSERT_EQ(::kill(program.pid(), SIGTERM), 0);
  const int status = program.Wait();
  ASSERT_NE(status, -1) << "kestrune-sim did not stop on SIGTERM";
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  audit.CheckText("the program's standard output", first_line + "\n" + program.ReadLine(1 << 20));
  audit.CheckFilesUnder(work);
  audit.Finish();
}

// --tls-self-signed: the CA's path is the second line, the files are in the
// directory (the key private to the user) and a client trusting the CA is
// answered. Unusable --tls files end the program with a failure.
TEST(SimulatorProgramTest, MakesItsOwnCertificatesOrRefusesBadOnes) {
  testing::SimAudit audit;
  testing::Signer signer;
  audit.Secret(signer.secret);
  const testing::ScratchDirectory scratch;
  const std::filesystem::path dir = scratch.path() / "made" / "tls";
  SimProgram program({"--port", "0", "-q", "--tls-self-signed", dir.string()}, scratch.path());
  // Making RSA keys can take a while on a busy machine.
  const std::string first_line = program.ReadLine(100, 60000);
  ASSERT_TRUE(first_line.starts_with("listening on 127.0.0.1:")) << first_line;
  EXPECT_EQ(program.ReadLine(1000), (dir / "ca.pem").string());
  EXPECT_TRUE(std::filesystem::exists(dir / "other-ca.pem"));
  EXPECT_EQ(std::filesystem::status(dir / "server-key.pem").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const auto [trusted, reply] = TlsExchange(
      static_cast<std::uint16_t>(std::stoi(first_line.substr(23))), (dir / "ca.pem").string(),
      "GET /?" + signer.Query("DescribeRegions", {}, SystemClock().NowMillis()) +
          " HTTP/1.1\r\nHost: ecs.aliyuncs.com\r\nConnection: close\r\n\r\n");
  audit.CheckText("the reply", reply.bytes);
  EXPECT_TRUE(trusted);
  EXPECT_EQ(StatusOf(reply), 200);
  for (const auto& [certificate, key] :
       {std::pair{"missing.pem", "server-key.pem"}, std::pair{"other-ca.pem", "server-key.pem"}}) {
    SimProgram refused({"--tls", (dir / certificate).string(), (dir / key).string()},
                       scratch.path());
    const int status = refused.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << certificate << ": " << status;
    EXPECT_EQ(refused.ReadLine(), "") << certificate;
  }
  audit.Finish();
}

// A refused command line names the fault without showing a secret given on it.
TEST(SimulatorProgramTest, UsageErrorsExitWithTwo) {
  testing::SimAudit audit;
  audit.Secret("colonless-secret-value");
  audit.Secret("stray-secret-value");
  const testing::ScratchDirectory scratch;
  const std::filesystem::path work = scratch.Sub("work");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--fault", "melt"}, std::vector<std::string>{"--port", "x"},
        std::vector<std::string>{"--access-key", "colonless-secret-value"},
        std::vector<std::string>{"-q", "stray-id:stray-secret-value"}}) {
    SimProgram program(args, work);
    ASSERT_GT(program.pid(), 0);
    const int status = program.Wait();
    ASSERT_NE(status, -1) << args[0];
    EXPECT_TRUE(WIFEXITED(status)) << args[0];
    EXPECT_EQ(WEXITSTATUS(status), 2) << args[0];
    audit.CheckText("the program's standard output", program.ReadLine(1 << 20));
  }
  audit.CheckFilesUnder(work);
  audit.Finish();
}

}  // namespace
}  // namespace kestrune::sim
