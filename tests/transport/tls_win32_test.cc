// The Schannel channel against a TLS server running outside Wine, which a
// Windows test cannot start itself: KESTRUNE_TEST_TLS=localhost:PORT names a
// server whose certificate for "localhost" is issued by the CA in
// KESTRUNE_TEST_TLS_CA; KESTRUNE_TEST_TLS_OTHER_CA holds an unrelated CA.
// (Under Wine an IP address never matches a certificate name, so the server
// is addressed as localhost.) The test command starts the server and sets the
// variables; without them these tests fail.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

#include "tests/transport/test_server.h"
#include "transport/tls.h"

namespace kestrune::transport {
namespace {

constexpr std::chrono::seconds kWait{10};

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

class TlsWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(network_.status() == std::nullopt);
    const std::string address = Variable("KESTRUNE_TEST_TLS");
    ca_file_ = Variable("KESTRUNE_TEST_TLS_CA");
    other_ca_file_ = Variable("KESTRUNE_TEST_TLS_OTHER_CA");
    const std::size_t colon = address.rfind(':');
    ASSERT_TRUE(colon != std::string::npos && !ca_file_.empty() && !other_ca_file_.empty())
        << "no TLS server: set KESTRUNE_TEST_TLS=localhost:PORT, KESTRUNE_TEST_TLS_CA and "
           "KESTRUNE_TEST_TLS_OTHER_CA (a native server, such as kestrune-sim "
           "--tls-self-signed DIR)";
    host_ = address.substr(0, colon);
    port_ = static_cast<std::uint16_t>(std::stoi(address.substr(colon + 1)));
  }

  core::Status Handshake(TlsChannel& channel, const std::string& ca_file, const std::string& name) {
    EXPECT_EQ(connection_.Open(host_, port_, kWait), std::nullopt);
    return channel.Handshake(connection_, name, TlsOptions{ca_file}, kWait);
  }

  NetworkScope network_;
  Connection connection_;
  std::string host_;
  std::uint16_t port_ = 0;
  std::string ca_file_;
  std::string other_ca_file_;
};

TEST_F(TlsWin32Test, TheRightCaFileGetsAReplyInPlainText) {
  TlsChannel channel;
  const core::Status status = Handshake(channel, ca_file_, host_);
  ASSERT_TRUE(status.ok()) << status.message();
  ASSERT_EQ(
      channel.SendAll("GET / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n", kWait),
      std::nullopt);
  std::string reply;
  char buffer[100];  // small, so surplus plain text is kept between calls
  for (int reads = 0; reads < 100000; ++reads) {
    std::size_t received = 0;
    const SocketStatus got = channel.Receive(buffer, sizeof buffer, kWait, received);
    ASSERT_EQ(got, std::nullopt) << got->detail;
    if (received == 0) break;
    reply.append(buffer, received);
  }
  EXPECT_EQ(reply.rfind("HTTP/1.", 0), 0u) << reply.substr(0, 200);
  EXPECT_NE(reply.find("\r\n\r\n"), std::string::npos);
}

// Nothing but the handshake reaches a server that is not the one trusted or
// named: the channel refuses to send afterwards.
TEST_F(TlsWin32Test, AnUntrustedOrMisnamedServerIsRefusedBeforeAnythingIsSent) {
  const struct {
    bool other_ca;
    const char* name;
    const char* says;
  } cases[] = {
      {true, nullptr, "is not trusted"},
      {false, nullptr, "is not trusted"},  // the system's roots
      {false, "kestrune.invalid", "is for another name"},
  };
  for (const auto& refused : cases) {
    TlsChannel channel;
    const std::string ca_file =
        refused.other_ca ? other_ca_file_ : (refused.name ? ca_file_ : std::string());
    const core::Status status =
        Handshake(channel, ca_file, refused.name ? std::string(refused.name) : host_);
    EXPECT_TRUE(status.IsConnection()) << ca_file << " " << status.message();
    EXPECT_NE(status.message().find(refused.says), std::string::npos) << status.message();
    EXPECT_NE(channel.SendAll("GET / HTTP/1.1\r\n\r\n", kWait), std::nullopt);
    connection_.Close();
  }
}

TEST_F(TlsWin32Test, ACaFileThatCannotBeUsedIsNamedBeforeConnecting) {
  const std::string empty = "tls_win32_test_empty.pem";
  std::ofstream(empty) << "no certificate here\n";
  for (const auto& [ca_file, says] :
       {std::pair<std::string, const char*>{empty, "holds no certificate"},
        {empty + ".missing", "cannot be read"}}) {
    TlsChannel channel;
    Connection unopened;
    const core::Status status = channel.Handshake(unopened, host_, TlsOptions{ca_file}, kWait);
    EXPECT_TRUE(status.IsConnection());
    EXPECT_NE(status.message().find(says), std::string::npos) << status.message();
  }
  std::remove(empty.c_str());
}

TEST_F(TlsWin32Test, AServerThatDoesNotSpeakTlsFailsTheHandshake) {
  testing::TestServer plain(
      [](Connection& client) {
        testing::TestServer::Send(client, "HTTP/1.1 400 Bad Request\r\n\r\n");
      },
      "127.0.0.1", false);
  ASSERT_TRUE(plain.listening());
  ASSERT_EQ(connection_.Open("127.0.0.1", plain.port(), kWait), std::nullopt);
  TlsChannel channel;
  const core::Status status =
      channel.Handshake(connection_, "localhost", TlsOptions{ca_file_}, kWait);
  EXPECT_TRUE(status.IsConnection());
  EXPECT_EQ(status.message().rfind("the TLS handshake with localhost failed: ", 0), 0u)
      << status.message();
}

}  // namespace
}  // namespace kestrune::transport
