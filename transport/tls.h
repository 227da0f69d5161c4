// TLS over a connected socket, behind a seam: OpenSSL in tls_openssl.cc,
// Schannel through SSPI in tls_schannel.cc (CMake picks one).
//
// The channel drives the handshake and the records through the Connection's
// own SendAll and Receive, so every wait is bounded the same way as on a
// plain connection. The server's certificate chain and its name are checked
// before Handshake returns: nothing but the handshake itself has been written
// when a verification fails, so a request never reaches a server that is not
// the one named.
//
// A TlsChannel belongs to one thread at a time and must not outlive the
// Connection it was started on.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "core/status.h"
#include "transport/socket.h"

namespace kestrune::transport {

// The largest CA file read: a system bundle of every public root is a few
// hundred KiB; anything far larger is a mistake (or /dev/zero).
inline constexpr std::size_t kCaFileLimit = 4 * 1024 * 1024;

struct TlsOptions {
  // A PEM file whose certificates are the only ones trusted; empty: the
  // system's trust store.
  std::string ca_file;
};

// The TLS library the program uses and its version: "OpenSSL 3.0.13" (the
// library actually loaded), "Schannel".
std::string TlsLibraryVersion();

class TlsChannel {
 public:
  TlsChannel();
  ~TlsChannel();
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;

  // Runs a TLS 1.2-or-later handshake over `connection` (connected, nothing
  // sent on it yet) within `timeout`, then verifies the server's chain against
  // `options` and its certificate against `host` (a name or an IP address).
  // Fails with a Connection status that says why (the handshake, a chain that
  // does not lead to a trusted root, a name that does not match, an unreadable
  // CA file).
  core::Status Handshake(Connection& connection, const std::string& host, const TlsOptions& options,
                         std::chrono::milliseconds timeout);

  // After a successful handshake, as Connection's own: `received` is 0 when
  // the peer closed (with or without close_notify).
  SocketStatus SendAll(std::string_view data, std::chrono::milliseconds timeout);
  SocketStatus Receive(char* buffer, std::size_t capacity, std::chrono::milliseconds timeout,
                       std::size_t& received);

  // Whether the session holds received bytes not yet handed out, whole
  // records or not.
  bool Holds() const;

  // Sends close_notify when the session is up; the connection stays open and
  // the caller's.
  void Shutdown(std::chrono::milliseconds timeout);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kestrune::transport
