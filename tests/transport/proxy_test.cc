#include "transport/proxy.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/base64.h"
#include "tests/support/secret_audit.h"
#include "tests/transport/test_server.h"
#include "transport/http.h"

namespace kestrune::transport {
namespace {

using testing::TestServer;

constexpr char kUser[] = "proxy-user";
constexpr char kPassword[] = "pr0xy-pass:w0rd";  // sent percent-encoded in URLs
const request::HttpRequest kRequest{
    "GET", "/?Action=DescribeRegions", {{"Host", "ecs.aliyuncs.com"}}, "", false};
constexpr char kRequestText[] =
    "GET /?Action=DescribeRegions HTTP/1.1\r\nHost: ecs.aliyuncs.com\r\n"
    "Connection: close\r\n\r\n";
constexpr char kReply[] = "HTTP/1.1 200 OK\r\n\r\n<Ok/>";

ProxyServer LoopbackProxy(std::uint16_t port) {
  return ProxyServer{"127.0.0.1", port, kUser, kPassword};
}

std::string BasicHeader() {
  return "Proxy-Authorization: Basic " + core::Base64Encode(std::string(kUser) + ":" + kPassword) +
         "\r\n";
}

ExchangeOptions ThroughProxy(std::uint16_t proxy_port, std::string no_proxy = {}) {
  ExchangeOptions options;
  options.connect_timeout = options.idle_timeout = std::chrono::milliseconds(2000);
  options.proxy.http = LoopbackProxy(proxy_port);
  options.proxy.no_proxy = std::move(no_proxy);
  return options;
}

TEST(ProxyUrlTest, ReadsAddressAndPercentDecodedCredentials) {
  core::Result<ProxyServer> bare = ParseProxyUrl("proxy.example");
  ASSERT_TRUE(bare.ok()) << bare.status().message();
  EXPECT_EQ(bare->host, "proxy.example");
  EXPECT_EQ(bare->port, 80);
  EXPECT_FALSE(bare->has_credentials());

  core::Result<ProxyServer> full = ParseProxyUrl("HTTP://us%40er:pr0xy-pass%3Aw0rd@[::1]:3128/");
  ASSERT_TRUE(full.ok()) << full.status().message();
  EXPECT_EQ(full->host, "::1");
  EXPECT_EQ(full->port, 3128);
  EXPECT_EQ(full->user, "us@er");
  EXPECT_EQ(full->password, kPassword);
}

TEST(ProxyUrlTest, RefusalsNameTheFaultButNeverTheText) {
  testsupport::SecretAudit audit({});
  audit.AddProxyCredentials(kUser, kPassword);
  for (const char* url :
       {"socks5://proxy-user:pr0xy-pass%3Aw0rd@h:1080", "https://proxy-user:pr0xy-pass%3Aw0rd@h",
        "http://proxy-user:pr0xy-pass%3Aw0rd%zz@h", "http://proxy-user:pr0xy-pass%3Aw0rd@h/path",
        "http://proxy-user:pr0xy-pass%3Aw0rd@h:99999", "http://proxy-user:pr0xy-pass%0Aw0rd@h"}) {
    core::Result<ProxyServer> parsed = ParseProxyUrl(url);
    ASSERT_FALSE(parsed.ok()) << url;
    audit.CheckText(url, parsed.status().message());
  }
  EXPECT_EQ(ParseProxyUrl("socks5://h").status().message(),
            "the proxy scheme \"socks5://\" is not supported; give an http:// proxy");
}

TEST(NoProxyTest, NamesMatchThemselvesAndBelowAndAddressesExactly) {
  EXPECT_TRUE(NoProxyMatches("*", "ecs.aliyuncs.com"));
  EXPECT_TRUE(NoProxyMatches("example.com", "example.com"));
  EXPECT_TRUE(NoProxyMatches(" other , .Aliyuncs.COM:443", "ecs.aliyuncs.com"));
  EXPECT_TRUE(NoProxyMatches("aliyuncs.com", "ecs.aliyuncs.com."));
  EXPECT_FALSE(NoProxyMatches("aliyuncs.com", "notaliyuncs.com"));
  EXPECT_FALSE(NoProxyMatches("ecs.aliyuncs.com", "aliyuncs.com"));
  EXPECT_TRUE(NoProxyMatches("127.0.0.1", "127.0.0.1"));
  EXPECT_FALSE(NoProxyMatches("0.0.1", "127.0.0.1"));
  EXPECT_TRUE(NoProxyMatches("[::1]:8080", "::1"));
  EXPECT_FALSE(NoProxyMatches("", "localhost"));
  EXPECT_FALSE(NoProxyMatches("*.example.com", "a.example.com"));  // no wildcards inside
}

TEST(ProxyChoiceTest, LowerCaseWinsAllProxyFillsInAndTheOptionReplacesAll) {
  std::map<std::string, std::string, std::less<>> environment = {{"http_proxy", "lower:1"},
                                                                 {"HTTP_PROXY", "upper:2"},
                                                                 {"ALL_PROXY", "all:3"},
                                                                 {"NO_PROXY", "example.com"},
                                                                 {"https_proxy", ""}};
  const VariableLookup lookup = [&](std::string_view name) -> std::optional<std::string> {
    const auto found = environment.find(name);
    if (found == environment.end()) return std::nullopt;
    return found->second;
  };
  const ProxyTexts from_environment = ChooseProxyTexts(lookup, std::nullopt);
  EXPECT_EQ(from_environment.http, "lower:1");
  EXPECT_EQ(from_environment.https, "all:3");
  EXPECT_EQ(from_environment.https_source, "ALL_PROXY");
  EXPECT_EQ(from_environment.no_proxy, "example.com");

  const ProxyTexts none = ChooseProxyTexts(lookup, std::string());
  EXPECT_EQ(none.http + none.https, "");
  EXPECT_EQ(ChooseProxyTexts(lookup, std::string("given:4")).https, "given:4");
}

TEST(ProxyExchangeTest, TunnelCarriesTheRequestAndOnlyTheProxySeesCredentials) {
  // The proxy (its head read by the test server) opens the tunnel, then
  // plays the target at its far end.
  std::string inner;
  TestServer proxy([&inner](Connection& client) {
    TestServer::Send(client, "HTTP/1.1 200 Connection established\r\n\r\n");
    char buffer[512];
    std::size_t received = 1;
    for (int i = 0; i < 100 && inner.find("\r\n\r\n") == std::string::npos && received; ++i) {
      if (client.Receive(buffer, sizeof buffer, std::chrono::seconds(5), received)) break;
      inner.append(buffer, received);
    }
    TestServer::Send(client, kReply);
  });
  NetworkScope network;
  Connection connection;
  ASSERT_FALSE(connection.Open("127.0.0.1", proxy.port(), std::chrono::seconds(2)));
  const core::Status opened = OpenTunnel(
      connection, "ecs.aliyuncs.com", 443, LoopbackProxy(proxy.port()), std::chrono::seconds(2),
      std::chrono::steady_clock::now() + std::chrono::seconds(5));
  ASSERT_TRUE(opened.ok()) << opened.message();
  ASSERT_FALSE(connection.SendAll(kRequestText, std::chrono::seconds(2)));
  char buffer[256];
  std::size_t received = 0;
  ASSERT_FALSE(connection.Receive(buffer, sizeof buffer, std::chrono::seconds(2), received));
  EXPECT_EQ(std::string(buffer, received), kReply);
  EXPECT_EQ(proxy.request(),
            "CONNECT ecs.aliyuncs.com:443 HTTP/1.1\r\nHost: ecs.aliyuncs.com:443\r\n" +
                BasicHeader() + "\r\n");
  EXPECT_EQ(inner, kRequestText);
}

TEST(ProxyExchangeTest, PlainRequestGoesInAbsoluteFormAndTheTraceNamesTheProxyAlone) {
  TestServer proxy([](Connection& client) { TestServer::Send(client, kReply); });
  testsupport::SecretAudit audit({});
  audit.AddProxyCredentials(kUser, kPassword);
  HttpReply reply;
  std::string trace;
  const core::Status status = KeptConnection().ExchangeWithHost(
      "ecs.aliyuncs.com", 80, kRequest, ThroughProxy(proxy.port()), reply,
      [&trace](std::string_view line) { trace += line; });
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(reply.body, "<Ok/>");
  EXPECT_EQ(proxy.request(), "GET http://ecs.aliyuncs.com/?Action=DescribeRegions HTTP/1.1\r\n" +
                                 BasicHeader() +
                                 "Host: ecs.aliyuncs.com\r\nConnection: close\r\n\r\n");
  EXPECT_TRUE(trace.starts_with("Using the proxy 127.0.0.1:" + std::to_string(proxy.port()) +
                                ".\r\nLooking up hostname 127.0.0.1... "))
      << trace;
  audit.CheckText("the trace", trace);
}

TEST(ProxyExchangeTest, NoProxyHostIsReachedDirectly) {
  std::uint16_t closed_port = 0;
  {
    NetworkScope network;
    Listener listener;
    ASSERT_FALSE(listener.Listen("127.0.0.1").has_value());
    closed_port = listener.port();
  }  // nothing listens there now: only a direct connection can succeed
  TestServer server([](Connection& client) { TestServer::Send(client, kReply); });
  HttpReply reply;
  const core::Status status =
      KeptConnection().ExchangeWithHost("127.0.0.1", server.port(), kRequest,
                                        ThroughProxy(closed_port, "localhost,127.0.0.1"), reply);
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(server.request(), kRequestText);
}

TEST(ProxyExchangeTest, RefusalsSayWhatTheProxyAnsweredWithoutThePassword) {
  testsupport::SecretAudit audit({});
  audit.AddProxyCredentials(kUser, kPassword);
  constexpr char k407[] = "HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n";
  for (const auto& [answer, expected] :
       {std::pair{k407, "refused the credentials (407 Proxy Authentication Required)"},
        std::pair{"HTTP/1.1 403 Forbidden\r\n\r\n",
                  "ecs.aliyuncs.com:443: HTTP/1.1 403 Forbidden"}}) {
    TestServer proxy([answer](Connection& client) { TestServer::Send(client, answer); });
    NetworkScope network;
    Connection connection;
    ASSERT_FALSE(connection.Open("127.0.0.1", proxy.port(), std::chrono::seconds(2)));
    const core::Status tunnel = OpenTunnel(
        connection, "ecs.aliyuncs.com", 443, LoopbackProxy(proxy.port()), std::chrono::seconds(2),
        std::chrono::steady_clock::now() + std::chrono::seconds(5));
    EXPECT_NE(tunnel.message().find(expected), std::string::npos) << tunnel.message();
    audit.CheckText("a tunnel refusal", tunnel.message());
  }
  TestServer proxy([&k407](Connection& client) { TestServer::Send(client, k407); });
  HttpReply reply;
  const core::Status plain = KeptConnection().ExchangeWithHost("ecs.aliyuncs.com", 80, kRequest,
                                                               ThroughProxy(proxy.port()), reply);
  EXPECT_EQ(plain.message(), "the proxy 127.0.0.1:" + std::to_string(proxy.port()) +
                                 " refused the credentials (407 Proxy Authentication Required)");
}

}  // namespace
}  // namespace kestrune::transport
