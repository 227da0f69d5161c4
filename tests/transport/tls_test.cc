// The TLS exchange against a TLS server and certificates made here: only a
// server verified for the name connected to receives any of the request.
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "transport/http.h"

namespace kestrune::transport {
namespace {

const request::HttpRequest kRequest{"GET", "/", {{"Host", "ecs.aliyuncs.com"}}, "", false};
const std::string kRequestText = WriteHttpRequest(kRequest);
constexpr std::string_view kReply = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";

struct Identity {
  std::shared_ptr<EVP_PKEY> key{EVP_EC_gen("P-256"), EVP_PKEY_free};
  std::shared_ptr<X509> certificate{X509_new(), X509_free};
};

// A certificate for `names` (subjectAltName syntax) issued by `issuer`, or a
// CA certificate of its own when `issuer` is null.
Identity Issue(const char* common_name, const char* names, const Identity* issuer) {
  Identity made;
  X509* cert = made.certificate.get();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), std::rand());
  X509_gmtime_adj(X509_getm_notBefore(cert), -60);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(common_name), -1, -1, 0);
  X509_set_pubkey(cert, made.key.get());
  const Identity& signer = issuer ? *issuer : made;
  X509_set_issuer_name(cert, X509_get_subject_name(signer.certificate.get()));
  X509V3_CTX context;
  X509V3_set_ctx(&context, signer.certificate.get(), cert, nullptr, nullptr, 0);
  const auto add = [&](int nid, const char* value) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
  };
  add(NID_basic_constraints, issuer ? "critical,CA:FALSE" : "critical,CA:TRUE");
  if (names) add(NID_subject_alt_name, names);
  X509_sign(cert, signer.key.get(), EVP_sha256());
  return made;
}

// A TLS server on 127.0.0.1 for one connection: after a good handshake it
// keeps what the client sends up to the blank line, and replies.
class TlsServer {
 public:
  explicit TlsServer(const Identity& identity) {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
    listen(listener_, 1);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = std::to_string(ntohs(address.sin_port));
    thread_ = std::thread([this, &identity] { Serve(identity); });
  }
  ~TlsServer() { received(), close(listener_); }
  const std::string& port() const { return port_; }
  std::string received() {
    if (thread_.joinable()) thread_.join();
    return received_;
  }
  // The name the client asked for in its hello (SNI); empty when none.
  std::string server_name() {
    received();
    return server_name_;
  }

 private:
  void Serve(const Identity& identity) {
    pollfd waiting{listener_, POLLIN, 0};
    if (poll(&waiting, 1, 5000) != 1) return;
    const int client = accept(listener_, nullptr, nullptr);
    const timeval limit{5, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_server_method()),
                                                              SSL_CTX_free);
    SSL_CTX_use_certificate(context.get(), identity.certificate.get());
    SSL_CTX_use_PrivateKey(context.get(), identity.key.get());
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), SSL_free);
    SSL_set_fd(ssl.get(), client);
    char buffer[4096];
    int count = 0;
    if (SSL_accept(ssl.get()) == 1) {
      const char* name = SSL_get_servername(ssl.get(), TLSEXT_NAMETYPE_host_name);
      server_name_ = name ? name : "";
      while (received_.find("\r\n\r\n") == std::string::npos &&
             (count = SSL_read(ssl.get(), buffer, sizeof buffer)) > 0) {
        received_.append(buffer, static_cast<std::size_t>(count));
      }
      SSL_write(ssl.get(), kReply.data(), static_cast<int>(kReply.size()));
      SSL_shutdown(ssl.get());
    }
    close(client);
  }

  int listener_ = socket(AF_INET, SOCK_STREAM, 0);
  std::string port_;
  std::string received_;
  std::string server_name_;
  std::thread thread_;
};

class TlsExchangeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    directory_ =
        std::filesystem::temp_directory_path() / ("kestrune_tls_test_" + std::to_string(getpid()));
    std::filesystem::create_directories(directory_);
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(directory_); }

  static std::string Pem(const char* name, const Identity& identity) {
    const std::string path = (directory_ / name).string();
    std::unique_ptr<BIO, decltype(&BIO_free)> file(BIO_new_file(path.c_str(), "w"), BIO_free);
    PEM_write_bio_X509(file.get(), identity.certificate.get());
    return path;
  }
  static core::Status Exchange(const std::string& endpoint, const std::string& ca_file,
                               HttpReply& reply) {
    ExchangeOptions options;
    options.connect_timeout = options.idle_timeout = std::chrono::seconds(5);
    options.tls.ca_file = ca_file;
    return HttpExchange({}, kRequest, request::ParseEndpointOverride(endpoint).value(), options,
                        reply);
  }

  static inline std::filesystem::path directory_;
  const Identity ca_ = Issue("Test CA", nullptr, nullptr);
  const Identity other_ca_ = Issue("Other CA", nullptr, nullptr);
  const Identity server_ = Issue("localhost", "DNS:localhost,IP:127.0.0.1", &ca_);
};

TEST_F(TlsExchangeTest, AServerOfTheTrustedCaForTheNameConnectedToGetsTheRequest) {
  const std::string ca_file = Pem("ca.pem", ca_);
  for (const char* host : {"127.0.0.1", "localhost"}) {
    TlsServer server(server_);
    HttpReply reply;
    const core::Status status =
        Exchange("https://" + std::string(host) + ":" + server.port(), ca_file, reply);
    ASSERT_TRUE(status.ok()) << host << ": " << status.message();
    EXPECT_EQ(reply.body, "hello");
    EXPECT_EQ(server.received(), kRequestText);
    EXPECT_TRUE(reply.times.sent);
    // The name connected to is the name asked for; an address is never sent as one.
    EXPECT_EQ(server.server_name(), std::string_view(host) == "localhost" ? host : "");
  }
}

TEST_F(TlsExchangeTest, AnUnverifiedServerIsRefusedAndReceivesNothing) {
  const Identity stranger = Issue("localhost", "DNS:localhost,IP:127.0.0.1", &other_ca_);
  const Identity misnamed = Issue("other.example", "DNS:other.example", &ca_);
  std::ofstream(directory_ / "junk.pem") << "-----BEGIN CERTIFICATE-----\nnot base64\n";
  const struct {
    const Identity& server;
    std::string ca_file;
    std::string_view reason;
  } cases[] = {
      {stranger, Pem("ca.pem", ca_), "unable to get local issuer certificate"},
      {misnamed, Pem("ca.pem", ca_), "not issued for 127.0.0.1"},
      {server_, Pem("other.pem", other_ca_), "unable to get local issuer certificate"},
      {server_, "", "unable to get local issuer certificate"},  // the system's store
      {server_, (directory_ / "missing.pem").string(), "cannot read the CA file"},
      {server_, (directory_ / "junk.pem").string(), "is not a valid PEM certificate file"},
  };
  for (const auto& c : cases) {
    TlsServer server(c.server);
    HttpReply reply;
    const core::Status status = Exchange("https://127.0.0.1:" + server.port(), c.ca_file, reply);
    EXPECT_NE(status.message().find(c.reason), std::string::npos) << status.message();
    EXPECT_EQ(server.received(), "") << c.reason;
    EXPECT_TRUE(reply.raw.empty());
    EXPECT_FALSE(reply.times.sent);  // --debug must not say it was
  }
}

// The process keeps what it made of a CA file, but trusts the file as it is
// at each connection: one rewritten in place is not trusted as it was.
TEST_F(TlsExchangeTest, ACaFileRewrittenInPlaceIsTrustedAsItNowIs) {
  for (const auto& [ca, trusted] :
       {std::pair{&other_ca_, false}, std::pair{&ca_, true}, std::pair{&other_ca_, false}}) {
    const std::string ca_file = Pem("rewritten.pem", *ca);
    TlsServer server(server_);
    HttpReply reply;
    const core::Status status = Exchange("https://127.0.0.1:" + server.port(), ca_file, reply);
    EXPECT_EQ(status.ok(), trusted) << status.message();
    EXPECT_EQ(server.received(), trusted ? kRequestText : "");
  }
}

}  // namespace
}  // namespace kestrune::transport
