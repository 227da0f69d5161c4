// The engine over its own TCP transport against small scripted servers on
// 127.0.0.1 that misbehave on purpose: no listener, silence, resets before and
// during the reply, a reply trickling byte by byte, one far over the size
// cap, a proxy's error page, chunk boundaries inside tags, a nonce that is
// always "used", and bytes that are not UTF-8. For each, the outcome the user
// sees (outcome, report text, rows) and then the same engine answering the
// next request normally. Every test is audited: the secret shows in no
// result (the request built included), row, trace line or standard stream.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/wide_text.h"
#include "engine/engine.h"
#include "report/display_text.h"
#include "report/result_list.h"
#include "report/trace_sink.h"
#include "request/clock.h"
#include "tests/e2e/engine_audit.h"
#include "tests/support/secret_audit.h"

namespace kestrune::engine {
namespace {

using report::RecordingResultList;
using report::Row;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kSecret = "fault-secret-never-shown";
const Row kSep = Row::Break();

// ---------------------------------------------------------------------------
// A scripted server: each accepted connection is handed to the next behaviour
// of the script (the last one repeats), one connection at a time, since the
// engine sends one request at a time. Everything it does is bounded by
// deadlines and by the stop flag.

struct Peer {
  int fd = -1;
  const std::atomic<bool>* stopping = nullptr;

  // Reads until the blank line that ends a request head (or 5 s pass).
  std::string ReadRequest() const {
    std::string request;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && Clock::now() < deadline &&
           !stopping->load()) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    return request;
  }

  // Sends all of `data` (or gives up after 20 s, on a stop or when the client
  // went away). Returns whether everything was sent.
  bool Send(std::string_view data) const {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!data.empty()) {
      if (Clock::now() > deadline || stopping->load()) return false;
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
      if (n < 0) return false;
      data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  // Waits until the client closes the connection or the server stops.
  void WaitForClose() const {
    char buffer[256];
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!stopping->load() && Clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      if (recv(fd, buffer, sizeof buffer, 0) <= 0) return;
    }
  }

  void NoDelay() const {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }

  // Closes with a reset instead of an orderly close.
  void Reset() {
    const linger abort_close{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
    close(fd);
    fd = -1;
  }
};

using Behaviour = std::function<void(Peer&)>;

class ScriptedServer {
 public:
  // Listens on `port` (0: any free port) of 127.0.0.1.
  explicit ScriptedServer(std::vector<Behaviour> script, std::uint16_t port = 0)
      : script_(std::move(script)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 16) != 0) {
      close(listener_);
      listener_ = -1;
      return;
    }
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedServer() { Stop(); }

  void Stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
  }

  bool ok() const { return listener_ >= 0; }
  std::uint16_t port() const { return port_; }
  int connections() const { return connections_.load(); }
  std::string endpoint() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  void Run() {
    // At most 64 connections, and never longer than a minute.
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (!stopping_ && connections_ < 64 && Clock::now() < deadline) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      Peer peer{accept(listener_, nullptr, nullptr), &stopping_};
      if (peer.fd < 0) continue;
      const std::size_t index = std::min<std::size_t>(connections_++, script_.size() - 1);
      script_[index](peer);
      if (peer.fd >= 0) close(peer.fd);
    }
  }

  std::vector<Behaviour> script_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

// ---------------------------------------------------------------------------
// Replies.

const std::string kRegionsBody =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><DescribeRegionsResponse><RequestId>R-OK"
    "</RequestId><Regions><Region><RegionId>cn-qingdao</RegionId><RegionEndpoint>"
    "ecs.aliyuncs.com</RegionEndpoint><LocalName>华北 1</LocalName></Region><Region><RegionId>"
    "cn-beijing</RegionId><RegionEndpoint>ecs.aliyuncs.com</RegionEndpoint><LocalName>华北 2"
    "</LocalName></Region></Regions></DescribeRegionsResponse>";

const std::vector<Row> kRegionsRows = {{"RequestId", "R-OK"},   kSep, {"RegionId", "cn-qingdao"},
                                       {"LocalName", "华北 1"}, kSep, {"RegionId", "cn-beijing"},
                                       {"LocalName", "华北 2"}, kSep};

const std::string kNonceUsedBody =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Error><RequestId>R-NONCE</RequestId>"
    "<HostId>ecs.aliyuncs.com</HostId><Code>SignatureNonceUsed</Code><Message>Specified "
    "signature nonce was used already.</Message></Error>";

std::string Reply(std::string_view body, std::string_view status = "200 OK",
                  std::string_view type = "text/xml;charset=UTF-8") {
  return "HTTP/1.1 " + std::string(status) + "\r\nContent-Type: " + std::string(type) +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
         std::string(body);
}

Behaviour Answer(std::string reply) {
  return [reply = std::move(reply)](Peer& peer) {
    peer.ReadRequest();
    peer.Send(reply);
  };
}

Behaviour GoodRegions() { return Answer(Reply(kRegionsBody)); }

// ---------------------------------------------------------------------------

class FaultInjectionTest : public ::testing::Test {
 protected:
  // An engine aimed at `endpoint`, with short time-outs so silence costs
  // little. One attempt unless told: these tests show how each failure is
  // reported (whether it is retried has tests of its own).
  void Aim(const std::string& endpoint, int max_attempts = 1) {
    EngineOptions options;
    options.max_attempts = max_attempts;
    options.endpoint_override = endpoint;
    options.connect_timeout = std::chrono::milliseconds(2000);
    options.idle_timeout = std::chrono::milliseconds(idle_ms_);
    engine_ = std::make_unique<Engine>(clock_, rows_, trace_, options);
  }

  RequestResult Send() {
    rows_.Clear();
    RequestResult result = engine_->Send(
        credentials_, catalogue::ResolveActionName(catalogue::kEcsService, "DescribeRegions"), {});
    AuditResult(audit_, result, rows_);
    return result;
  }

  // A failure the user sees as "no connection": the report text says so,
  // nothing is shown, and a reason is given.
  void ExpectConnectionFailed(const RequestResult& result, std::string_view reason) {
    EXPECT_EQ(result.outcome, Outcome::kConnectionFailed) << result.detail;
    EXPECT_EQ(result.result_text, "");  // the faces word it
    EXPECT_TRUE(rows_.produced().empty());
    EXPECT_FALSE(result.formatted);
    EXPECT_NE(result.detail.find(reason), std::string::npos) << result.detail;
  }

  // The next request through the same engine is answered normally.
  void ExpectNextRequestAnswered() {
    const RequestResult next = Send();
    EXPECT_EQ(next.outcome, Outcome::kGoodReply) << next.detail;
    EXPECT_EQ(next.result_text, "Action=DescribeRegions");
    EXPECT_EQ(rows_.produced(), kRegionsRows);
  }

  void TearDown() override {
    audit_.CheckLines("the trace", trace_.lines());
    audit_.Finish();
  }

  int idle_ms_ = 5000;
  request::SystemClock clock_;
  RecordingResultList rows_;
  report::RecordingTraceSink trace_;
  request::Credentials credentials_{"fault-id", std::string(kSecret)};
  std::unique_ptr<Engine> engine_;
  testsupport::SecretAudit audit_{{std::string(kSecret)}};
};

TEST_F(FaultInjectionTest, RefusedConnectionThenAListenerOnTheSamePort) {
  // A port that was free a moment ago and has no listener now.
  std::uint16_t port = 0;
  {
    ScriptedServer probe({GoodRegions()});
    ASSERT_TRUE(probe.ok());
    port = probe.port();
  }
  Aim("127.0.0.1:" + std::to_string(port));
  const RequestResult refused = Send();
  ExpectConnectionFailed(refused, "could not connect");
  EXPECT_EQ(refused.attempts, 1);

  ScriptedServer server({GoodRegions()}, port);
  ASSERT_TRUE(server.ok()) << "the port was taken meanwhile";
  ExpectNextRequestAnswered();
}

TEST_F(FaultInjectionTest, SilentServerTimesOut) {
  idle_ms_ = 300;
  ScriptedServer server({[](Peer& peer) {
                           peer.ReadRequest();
                           peer.WaitForClose();
                         },
                         GoodRegions()});
  ASSERT_TRUE(server.ok());
  Aim(server.endpoint());
  const auto start = Clock::now();
  const RequestResult result = Send();
  ExpectConnectionFailed(result, "no reply data");
  // Bounded by the time-out, not by the server (which would wait 20 s).
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  ExpectNextRequestAnswered();
}

TEST_F(FaultInjectionTest, ResetAfterTheRequest) {
  ScriptedServer server({[](Peer& peer) {
                           peer.ReadRequest();
                           peer.Reset();
                         },
                         GoodRegions()});
  ASSERT_TRUE(server.ok());
  Aim(server.endpoint());
  ExpectConnectionFailed(Send(), "receiving");
  ExpectNextRequestAnswered();
}

TEST_F(FaultInjectionTest, ResetInTheMiddleOfTheReplyShowsNothingOfIt) {
  const std::string whole = Reply(kRegionsBody);
  ScriptedServer server({[&whole](Peer& peer) {
                           peer.ReadRequest();
                           peer.Send(std::string_view(whole).substr(0, whole.size() / 2));
                           std::this_thread::sleep_for(std::chrono::milliseconds(100));
                           peer.Reset();
                         },
                         GoodRegions()});
  ASSERT_TRUE(server.ok());
  Aim(server.endpoint());
  const RequestResult result = Send();
  // Whether the half arrives before the reset or is discarded with it, the
  // user sees a failed exchange and no row of the half reply.
  EXPECT_EQ(result.outcome, Outcome::kConnectionFailed) << result.detail;
  EXPECT_EQ(result.result_text, "");  // the faces word it
  EXPECT_TRUE(rows_.produced().empty());
  ExpectNextRequestAnswered();
}

TEST_F(FaultInjectionTest, ReplyCutShortOfItsContentLengthIsAFailure) {
  const std::string whole = Reply(kRegionsBody);
  ScriptedServer server({[&whole](Peer& peer) {
                           peer.ReadRequest();
                           // An orderly close after 3/4 of the announced body.
                           peer.Send(std::string_view(whole).substr(0, whole.size() * 3 / 4));
                         },
                         GoodRegions()});
  ASSERT_TRUE(server.ok());
  Aim(server.endpoint());
  ExpectConnectionFailed(Send(), "bytes its header announced");
  ExpectNextRequestAnswered();
}

// Without a length header only the close ends the reply: one cut off after
// its first region used to pass for a good reply of one region.
TEST_F(FaultInjectionTest, ReplyWhoseDocumentNeverEndsIsCutOffWithItsRowsKept) {
  const std::size_t cut = kRegionsBody.find("<Region><RegionId>cn-beijing");
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n\r\n";
  ScriptedServer server({Answer(head + kRegionsBody.substr(0, cut)), Answer(head + kRegionsBody)});
  ASSERT_TRUE(server.ok());
  Aim(server.endpoint());
  const RequestResult result = Send();
  EXPECT_EQ(result.outcome, Outcome::kConnectionFailed);
  EXPECT_EQ(result.result_text, "");  // the faces word it
  EXPECT_NE(result.detail.find("the reply was cut off after " + std::to_string(cut) + " bytes"),
            std::string::npos)
      << result.detail;
  EXPECT_TRUE(result.partial);
  EXPECT_EQ(rows_.produced(), std::vector<Row>(kRegionsRows.begin(), kRegionsRows.begin() + 5));
  ExpectNextRequestAnswered();  // the whole document, framed by the close alone
}

// A NUL byte used to end the reply for the extractor, hiding every row
// after it; it is shown as a symbol and the rest of the reply stays.
TEST_F(FaultInjectionTest, NulByteIsShownAndHidesNothing) {
  std::string body = kRegionsBody;
  body.insert(body.find("dao</RegionId>"), std::string(1, '\0'));
  ScriptedServer server({Answer(Reply(body))});
  ASSERT_TRUE(server.ok());
  Aim(server.endpoint());
  const RequestResult result = Send();
  EXPECT_EQ(result.outcome, Outcome::kGoodReply) << result.detail;
  std::vector<Row> expected = kRegionsRows;
  expected[2].info =
      "cn-qing\xE2\x90\x80"
      "dao";
  EXPECT_EQ(rows_.produced(), expected);
  EXPECT_EQ(result.reply.body, body);  // the body itself is kept as received
}

TEST_F(FaultInjectionTest, ReplyTricklingOneByteAtATimeIsWhole) {
  const std::string whole = Reply(kRegionsBody);
  ScriptedServer server({[&whole](Peer& peer) {
    peer.ReadRequest();
    peer.NoDelay();
    for (char c : whole) {
      if (!peer.Send(std::string_view(&c, 1))) return;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  }});
  ASSERT_TRUE(server.ok());
  Aim(server.endpoint());
  const RequestResult result = Send();
  EXPECT_EQ(result.outcome, Outcome::kGoodReply) << result.detail;
  EXPECT_EQ(rows_.produced(), kRegionsRows);
  EXPECT_EQ(result.reply.raw + result.reply.body, whole);
  ExpectNextRequestAnswered();
}

TEST_F(FaultInjectionTest, ReplyOverTheSizeCapIsAClearFailure) {
  // Far past the cap plus what the two sockets' buffers can hold (several
  // MiB each on loopback), so that only a client that stops reading and
  // closes keeps the server from sending it all.
  constexpr std::size_t kHuge = 64u * 1024 * 1024;
  std::atomic<bool> server_sent_all{false};
  ScriptedServer server({[&server_sent_all](Peer& peer) {
                           peer.ReadRequest();
                           std::string head =
                               "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n"
                               "Content-Length: " +
                               std::to_string(kHuge) + "\r\n\r\n<RequestId>";
                           if (!peer.Send(head)) return;
                           const std::string piece(64 * 1024, 'x');
                           std::size_t sent = head.size();
                           while (sent < kHuge) {
                             if (!peer.Send(piece)) return;  // the client gave up
                             sent += piece.size();
                           }
                           server_sent_all = true;
                         },
                         GoodRegions()});
  ASSERT_TRUE(server.ok());
  Aim(server.endpoint());
  const RequestResult result = Send();
  ExpectConnectionFailed(result, "larger than");
  EXPECT_NE(result.detail.find("16 MiB"), std::string::npos) << result.detail;
  // What was kept is the cap, not more.
  EXPECT_LE(result.reply.raw.size(), 16u * 1024 * 1024);
  EXPECT_FALSE(server_sent_all.load());
  ExpectNextRequestAnswered();
}

TEST_F(FaultInjectionTest, ProxyErrorPageIsReportedByItsStatusLine) {
  const std::string page =
      "<html>\r\n<head><title>502 Bad Gateway</title></head>\r\n<body><center><h1>502 Bad "
      "Gateway</h1></center></body>\r\n</html>\r\n";
  ScriptedServer server({Answer(Reply(page, "502 Bad Gateway", "text/html")), GoodRegions()});
  ASSERT_TRUE(server.ok());
  Aim(server.endpoint());
  const RequestResult result = Send();
  EXPECT_EQ(result.outcome, Outcome::kHttpError);
  EXPECT_EQ(result.reply.head.status, 502);
  EXPECT_EQ(result.result_text, "HTTP/1.1 502 Bad Gateway");
  EXPECT_TRUE(rows_.produced().empty());
  EXPECT_EQ(result.attempts, 1);
  ExpectNextRequestAnswered();
}

TEST_F(FaultInjectionTest, ChunkBoundariesInsideTagsChangeNothing) {
  // Chunks of 1 to 7 bytes, each written on its own, so boundaries fall
  // inside every tag name; a chunk extension and a trailer for good measure.
  ScriptedServer server({[](Peer& peer) {
    peer.ReadRequest();
    peer.NoDelay();
    if (!peer.Send("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nTransfer-Encoding: "
                   "chunked\r\nConnection: close\r\n\r\n")) {
      return;
    }
    std::size_t at = 0;
    std::size_t size = 1;
    while (at < kRegionsBody.size()) {
      const std::string piece = kRegionsBody.substr(at, size);
      char length[16];
      std::snprintf(length, sizeof length, "%zx", piece.size());
      const std::string extension = at == 0 ? ";note=first" : "";
      if (!peer.Send(length + extension + "\r\n" + piece + "\r\n")) return;
      at += piece.size();
      size = size % 7 + 1;
    }
    peer.Send("0\r\nX-Trailer: done\r\n\r\n");
  }});
  ASSERT_TRUE(server.ok());
  Aim(server.endpoint());
  const RequestResult result = Send();
  EXPECT_EQ(result.outcome, Outcome::kGoodReply) << result.detail;
  EXPECT_EQ(result.reply.body, kRegionsBody);
  EXPECT_EQ(rows_.produced(), kRegionsRows);
  ExpectNextRequestAnswered();
}

TEST_F(FaultInjectionTest, NonceUsedForEverStopsAfterFourAttemptsWithErrorRows) {
  std::vector<Behaviour> script(4, Answer(Reply(kNonceUsedBody, "400 Bad Request")));
  script.push_back(GoodRegions());
  ScriptedServer server(script);
  ASSERT_TRUE(server.ok());
  Aim(server.endpoint(), EngineOptions{}.max_attempts);
  const RequestResult result = Send();
  EXPECT_EQ(result.outcome, Outcome::kErrorReply);
  EXPECT_EQ(result.attempts, 4);
  EXPECT_EQ(server.connections(), 4);
  EXPECT_TRUE(result.result_text.empty());
  const std::vector<Row> expected = {{"RequestId", "R-NONCE"},
                                     {"HostId", "ecs.aliyuncs.com"},
                                     {"Code", "SignatureNonceUsed"},
                                     {"Message", "Specified signature nonce was used already."}};
  EXPECT_EQ(rows_.produced(), expected);
  ExpectNextRequestAnswered();
  EXPECT_EQ(server.connections(), 5);
}

TEST_F(FaultInjectionTest, InvalidUtf8InValuesIsShownWithoutHarm) {
  // A lone continuation byte, a truncated sequence, an overlong form and a
  // surrogate, in the value of a shown element.
  const std::string bad = "a\x80z\xE4\xB8-\xC0\xAF-\xED\xA0\x80";
  const std::string body =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><DescribeRegionsResponse><RequestId>R-BAD"
      "</RequestId><Regions><Region><RegionId>cn-x</RegionId><LocalName>" +
      bad + "</LocalName></Region></Regions></DescribeRegionsResponse>";
  ScriptedServer server({Answer(Reply(body)), GoodRegions()});
  ASSERT_TRUE(server.ok());
  Aim(server.endpoint());
  const RequestResult result = Send();
  EXPECT_EQ(result.outcome, Outcome::kGoodReply) << result.detail;
  const std::vector<Row> expected = {
      {"RequestId", "R-BAD"}, kSep, {"RegionId", "cn-x"}, {"LocalName", bad}, kSep};
  // The row keeps the bytes as they came; each display makes them safe.
  ASSERT_EQ(rows_.produced(), expected);
  const std::wstring wide = core::ToWide(rows_.produced()[3].info);
  EXPECT_NE(wide.find(L'\uFFFD'), std::wstring::npos);
  EXPECT_EQ(wide.front(), L'a');
  const std::string gbk =
      report::DisplayText(report::DisplayEncoding::kGbk).Convert(rows_.produced()[3].info);
  EXPECT_NE(gbk.find('?'), std::string::npos);
  EXPECT_EQ(gbk.front(), 'a');
  ExpectNextRequestAnswered();
}

}  // namespace
}  // namespace kestrune::engine
