// OpenSSL for tls.h.
//
// The session reads and writes two memory BIOs; this file moves their bytes
// over the Connection with its own SendAll and Receive. So the socket stays
// non-blocking under the same time-outs as a plain exchange, and nothing
// reaches the wire that this file did not hand to the Connection itself.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "core/sha1.h"
#include "request/small_file.h"
#include "transport/tls.h"

namespace kestrune::transport {
namespace {

using Clock = std::chrono::steady_clock;

// What one Fill takes from the socket: several TLS records (16 KiB of text
// each at most) at once, so a large reply costs a few reads, not one per
// record.
constexpr std::size_t kTransferChunk = 65536;

// The reason OpenSSL's error queue gives for the last failure, or `fallback`.
std::string LastSslError(std::string_view fallback) {
  unsigned long last = 0;
  while (const unsigned long code = ERR_get_error()) last = code;
  if (last == 0) return std::string(fallback);
  char text[256];
  ERR_error_string_n(last, text, sizeof text);
  // "error:0A000086:SSL routines::certificate verify failed": the reason is
  // the part after the last colon.
  const std::string_view whole(text);
  const std::size_t colon = whole.rfind(':');
  return std::string(colon == std::string_view::npos ? whole : whole.substr(colon + 1));
}

std::chrono::milliseconds Left(Clock::time_point deadline) {
  return std::max(std::chrono::milliseconds(0),
                  std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

struct ContextDeleter {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslDeleter {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};

std::string CaFileName(const std::string& path) { return "the CA file \"" + path + "\""; }

// The content of the CA file at `path`. It is read here rather than by
// SSL_CTX_load_verify_locations so that a missing file, a file without
// certificates and a damaged one each get their own message, and so that
// only a regular file of a bounded size is read (never a FIFO or a device).
core::Result<std::string> ReadCaFile(const std::string& path) {
  core::Result<std::string> pem = request::ReadSmallFile(path, kCaFileLimit);
  if (!pem.ok()) {
    return core::Status::Connection("cannot read the CA file: " + pem.status().message());
  }
  return pem;
}

// Trusts exactly the certificates of `pem`, the content of the CA file at
// `path`.
core::Status TrustCaPem(SSL_CTX* context, const std::string& path, const std::string& pem) {
  const std::string named = CaFileName(path);
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return core::Status::Connection("out of memory reading " + named);
  X509_STORE* store = SSL_CTX_get_cert_store(context);
  int count = 0;
  for (;;) {
    X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
    if (certificate == nullptr) break;
    const int added = X509_STORE_add_cert(store, certificate);
    X509_free(certificate);
    if (added != 1) {
      return core::Status::Connection(named + " holds a certificate that cannot be trusted (" +
                                      LastSslError("rejected") + ")");
    }
    ++count;
  }
  // The loop ends at the end of the file (no PEM start line left) or at a
  // block that does not parse: only the first is expected.
  const unsigned long last = ERR_peek_last_error();
  const bool at_end =
      ERR_GET_LIB(last) == ERR_LIB_PEM && ERR_GET_REASON(last) == PEM_R_NO_START_LINE;
  if (last != 0 && !at_end) {
    return core::Status::Connection(named + " is not a valid PEM certificate file (" +
                                    LastSslError("malformed") + ")");
  }
  ERR_clear_error();
  if (count == 0) return core::Status::Connection(named + " holds no PEM certificate");
  return core::Status::Ok();
}

using ContextPtr = std::shared_ptr<SSL_CTX>;

// A client context trusting the system's store, or exactly the
// certificates of `ca_pem` (the content of `options.ca_file`).
core::Result<ContextPtr> MakeContext(const TlsOptions& options, const std::string& ca_pem) {
  // The library's own clean-up at exit only frees what the process is about
  // to give back whole, and for a one-request process it costs a good part
  // of a millisecond; the operating system does it better.
  static const bool initialised = OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
  if (!initialised) {
    return core::Status::Connection("TLS could not be set up (" + LastSslError("no library") + ")");
  }
  ContextPtr context(SSL_CTX_new(TLS_client_method()), ContextDeleter());
  if (!context || SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1) {
    return core::Status::Connection("TLS could not be set up (" + LastSslError("no context") + ")");
  }
  // TLS 1.3's three suites, AES-128 first as most clients now have it: as
  // safe as AES-256 and about a third less work on every byte of a large
  // reply, where the processor has AES instructions (every one this runs
  // on does).
  if (SSL_CTX_set_ciphersuites(
          context.get(),
          "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256") != 1) {
    return core::Status::Connection("TLS could not be set up (" + LastSslError("no suites") + ")");
  }
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
  if (options.ca_file.empty()) {
    if (SSL_CTX_set_default_verify_paths(context.get()) != 1) {
      return core::Status::Connection("the system's trusted certificates could not be loaded (" +
                                      LastSslError("no store") + ")");
    }
  } else if (core::Status trusted = TrustCaPem(context.get(), options.ca_file, ca_pem);
             !trusted.ok()) {
    return trusted;
  }
  return context;
}

// The client contexts of this process, one per source of trust, shared by
// all its handshakes: making one and parsing its CA file costs as much as a
// handshake, and a run of many requests (regions, pages, the dialog's Sends)
// would pay it for every connection. A CA file is read for every handshake
// and known by its path and the digest of its content, so one replaced while
// the process runs is trusted as it now is. Only contexts that were made
// whole are kept.
class ContextCache {
 public:
  core::Result<ContextPtr> Get(const TlsOptions& options) {
    std::string ca_pem;
    std::string key = "system";
    if (!options.ca_file.empty()) {
      core::Result<std::string> read = ReadCaFile(options.ca_file);
      if (!read.ok()) return read.status();
      ca_pem = std::move(read.value());
      const core::Sha1Digest digest = core::Sha1(ca_pem);
      key = "file\n" + options.ca_file + "\n";
      key.append(reinterpret_cast<const char*>(digest.data()), digest.size());
    }
    std::lock_guard lock(mutex_);
    for (const auto& [known, context] : entries_) {
      if (known == key) return context;
    }
    core::Result<ContextPtr> made = MakeContext(options, ca_pem);
    if (made.ok()) {
      if (entries_.size() >= kMaxEntries) entries_.erase(entries_.begin());
      entries_.emplace_back(std::move(key), made.value());
    }
    return made;
  }

 private:
  static constexpr std::size_t kMaxEntries = 8;

  std::mutex mutex_;
  std::vector<std::pair<std::string, ContextPtr>> entries_;
};

ContextCache& Contexts() {
  static ContextCache cache;
  return cache;
}

}  // namespace

struct TlsChannel::State {
  ContextPtr context;
  std::unique_ptr<SSL, SslDeleter> ssl;
  BIO* incoming = nullptr;  // owned by ssl: what the server sent, for OpenSSL to read
  BIO* outgoing = nullptr;  // owned by ssl: what OpenSSL wrote, for the server
  Connection* connection = nullptr;
  bool up = false;

  // Sends everything OpenSSL has written so far.
  SocketStatus Flush(std::chrono::milliseconds timeout, SocketStep step) {
    char chunk[kTransferChunk];
    for (;;) {
      const int pending = BIO_read(outgoing, chunk, sizeof chunk);
      if (pending <= 0) return std::nullopt;
      if (SocketStatus sent = connection->SendAll(
              std::string_view(chunk, static_cast<std::size_t>(pending)), timeout)) {
        sent->step = step;
        return sent;
      }
    }
  }

  // Receives what the server sends next and hands it to OpenSSL; `received`
  // is 0 when the server closed the connection.
  SocketStatus Fill(std::chrono::milliseconds timeout, std::size_t& received) {
    char chunk[kTransferChunk];
    if (SocketStatus status = connection->Receive(chunk, sizeof chunk, timeout, received)) {
      return status;
    }
    if (received > 0 && BIO_write(incoming, chunk, static_cast<int>(received)) <= 0) {
      return SocketError{SocketStep::kReceive, false, "out of memory"};
    }
    return std::nullopt;
  }
};

TlsChannel::TlsChannel() : state_(std::make_unique<State>()) {}
TlsChannel::~TlsChannel() = default;

core::Status TlsChannel::Handshake(Connection& connection, const std::string& host,
                                   const TlsOptions& options, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  State& state = *state_;
  state = State();
  state.connection = &connection;
  ERR_clear_error();

  // Everything that can fail without the server is settled before the first
  // byte goes out.
  core::Result<ContextPtr> context = Contexts().Get(options);
  if (!context.ok()) return context.status();
  state.context = std::move(context.value());

  state.ssl.reset(SSL_new(state.context.get()));
  BIO* incoming = BIO_new(BIO_s_mem());
  BIO* outgoing = BIO_new(BIO_s_mem());
  if (!state.ssl || incoming == nullptr || outgoing == nullptr) {
    BIO_free(incoming);
    BIO_free(outgoing);
    return core::Status::Connection("TLS could not be set up (" + LastSslError("no session") + ")");
  }
  // An empty memory BIO means "nothing yet", not the end of the stream.
  BIO_set_mem_eof_return(incoming, -1);
  SSL_set_bio(state.ssl.get(), incoming, outgoing);
  state.incoming = incoming;
  state.outgoing = outgoing;
  SSL* ssl = state.ssl.get();
  SSL_set_connect_state(ssl);

  // An address is checked against the certificate's IP entries; a name
  // against its DNS names (and is sent as the server name, which an address
  // may not be).
  bool named;
  if (ASN1_OCTET_STRING* address = a2i_IPADDRESS(host.c_str())) {
    ASN1_OCTET_STRING_free(address);
    named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
  } else {
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    named = !host.empty() && SSL_set1_host(ssl, host.c_str()) == 1 &&
            SSL_set_tlsext_host_name(ssl, host.c_str()) == 1;
  }
  if (!named) {
    return core::Status::Connection("cannot check a certificate against the host name \"" + host +
                                    "\"");
  }

  for (;;) {
    ERR_clear_error();
    const int done = SSL_do_handshake(ssl);
    const int error = done == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl, done);
    // Whatever the handshake wrote goes out, an alert after a failure too,
    // so the server learns why the client left.
    const std::string reason = LastSslError("");
    const SocketStatus flushed = state.Flush(Left(deadline), SocketStep::kSend);
    const long verified = SSL_get_verify_result(ssl);
    if (verified != X509_V_OK) {
      const bool mismatch =
          verified == X509_V_ERR_HOSTNAME_MISMATCH || verified == X509_V_ERR_IP_ADDRESS_MISMATCH;
      return core::Status::Connection(
          "the certificate of " + host + " was not verified (" +
          (mismatch ? "it is not issued for " + host : X509_verify_cert_error_string(verified)) +
          ")");
    }
    if (error == SSL_ERROR_NONE) {
      if (flushed) {
        return core::Status::Connection("the TLS handshake with " + host +
                                        " failed while sending (" + flushed->detail + ")");
      }
      break;
    }
    if (error != SSL_ERROR_WANT_READ) {
      return core::Status::Connection("the TLS handshake with " + host + " failed (" +
                                      (reason.empty() ? "no reason given" : reason) + ")");
    }
    if (flushed) {
      return core::Status::Connection("the TLS handshake with " + host + " failed while sending (" +
                                      flushed->detail + ")");
    }
    std::size_t received = 0;
    if (const SocketStatus status = state.Fill(Left(deadline), received)) {
      return core::Status::Connection(
          "the TLS handshake with " + host + " failed: " +
          (status->timed_out ? "no answer within " + std::to_string(timeout.count()) + " ms"
                             : status->detail));
    }
    if (received == 0) {
      return core::Status::Connection("the TLS handshake with " + host +
                                      " failed: the server closed the connection");
    }
  }

  // SSL_VERIFY_PEER has already refused a bad chain; a server that sent no
  // certificate at all is refused here.
  if (SSL_get0_peer_certificate(ssl) == nullptr) {
    return core::Status::Connection("the server " + host + " presented no certificate");
  }
  state.up = true;
  return core::Status::Ok();
}

SocketStatus TlsChannel::SendAll(std::string_view data, std::chrono::milliseconds timeout) {
  State& state = *state_;
  if (!state.up) return SocketError{SocketStep::kSend, false, "no TLS session"};
  while (!data.empty()) {
    ERR_clear_error();
    const int size = static_cast<int>(std::min(data.size(), kTransferChunk));
    const int written = SSL_write(state.ssl.get(), data.data(), size);
    if (written <= 0) {
      return SocketError{SocketStep::kSend, false, LastSslError("TLS write failed")};
    }
    data.remove_prefix(static_cast<std::size_t>(written));
    if (SocketStatus sent = state.Flush(timeout, SocketStep::kSend)) return sent;
  }
  return std::nullopt;
}

SocketStatus TlsChannel::Receive(char* buffer, std::size_t capacity,
                                 std::chrono::milliseconds timeout, std::size_t& received) {
  State& state = *state_;
  received = 0;
  if (!state.up) return SocketError{SocketStep::kReceive, false, "no TLS session"};
  const auto deadline = Clock::now() + timeout;
  const int wanted = static_cast<int>(std::min<std::size_t>(capacity, INT_MAX));
  for (;;) {
    ERR_clear_error();
    const int count = SSL_read(state.ssl.get(), buffer, wanted);
    if (count > 0) {
      received = static_cast<std::size_t>(count);
      // A record gives at most 16 KiB: those already received follow it into
      // the caller's room without another wait, so a large reply takes a
      // few calls, not one per record.
      while (received < static_cast<std::size_t>(wanted) &&
             (SSL_pending(state.ssl.get()) > 0 || BIO_ctrl_pending(state.incoming) > 0)) {
        const int more =
            SSL_read(state.ssl.get(), buffer + received, wanted - static_cast<int>(received));
        if (more <= 0) break;  // told on the next call, with nothing lost
        received += static_cast<std::size_t>(more);
      }
      return std::nullopt;
    }
    const int error = SSL_get_error(state.ssl.get(), count);
    if (error == SSL_ERROR_ZERO_RETURN) return std::nullopt;  // close_notify
    if (error != SSL_ERROR_WANT_READ) {
      return SocketError{SocketStep::kReceive, false, LastSslError("TLS read failed")};
    }
    // Session tickets and key updates may ask for an answer.
    if (SocketStatus sent = state.Flush(Left(deadline), SocketStep::kReceive)) return sent;
    std::size_t filled = 0;
    if (SocketStatus status = state.Fill(Left(deadline), filled)) return status;
    if (filled == 0) return std::nullopt;  // closed without close_notify
  }
}

bool TlsChannel::Holds() const {
  const State& state = *state_;
  return state.ssl &&
         (SSL_has_pending(state.ssl.get()) == 1 || BIO_ctrl_pending(state.incoming) > 0);
}

void TlsChannel::Shutdown(std::chrono::milliseconds timeout) {
  State& state = *state_;
  if (!state.up) return;
  state.up = false;
  ERR_clear_error();
  SSL_shutdown(state.ssl.get());
  (void)state.Flush(timeout, SocketStep::kSend);
  ERR_clear_error();
}

std::string TlsLibraryVersion() {
  // "OpenSSL 3.0.13 30 Jan 2024": the name and the number are what matter.
  const std::string_view full = OpenSSL_version(OPENSSL_VERSION);
  const std::size_t name_end = full.find(' ');
  const std::size_t number_end =
      name_end == std::string_view::npos ? name_end : full.find(' ', name_end + 1);
  return std::string(full.substr(0, number_end));
}

}  // namespace kestrune::transport
