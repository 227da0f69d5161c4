// TLS for the simulator's server side: a server context loaded from PEM
// files, and the throw-away certificates a test run or the demo needs (a CA,
// a certificate for localhost signed by it, and an unrelated second CA that
// a client must refuse), made with OpenSSL's API rather than shell tools.
//
// A TlsContext is immutable once made and may be shared by threads (OpenSSL
// locks its own reference counts); the loop thread makes every SSL from it.
#pragma once

#include <memory>
#include <string>

#include "core/status.h"

struct ssl_ctx_st;

namespace kestrune::sim {

class TlsContext {
 public:
  // A TLS 1.2-or-later server context with the certificate chain in
  // `certificate_file` and the private key in `key_file` (both PEM). Refuses,
  // with one line that names the file, a file that cannot be read, one that
  // holds no certificate or key, and a key that does not belong to the
  // certificate. The message never holds the key's text.
  static core::Result<std::unique_ptr<TlsContext>> FromFiles(const std::string& certificate_file,
                                                             const std::string& key_file);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  ssl_ctx_st* get() const { return context_; }

 private:
  explicit TlsContext(ssl_ctx_st* context) : context_(context) {}
  ssl_ctx_st* context_;
};

// The files MakeSelfSigned writes, by their full paths.
struct SelfSignedFiles {
  std::string ca;           // "ca.pem": the CA that signed the certificate
  std::string other_ca;     // "other-ca.pem": an unrelated CA, for refusals
  std::string certificate;  // "server.pem": for localhost, 127.0.0.1 and ::1
  std::string key;          // "server-key.pem": its private key, mode 0600
};

// Makes `directory` (and its parents) if missing and writes fresh keys and
// certificates into it, replacing files of the same names. The CA keys are
// never written: nothing else can be signed with them. The certificates are
// valid from a day before now for 30 days.
core::Result<SelfSignedFiles> MakeSelfSigned(const std::string& directory);

// The newest OpenSSL error of this thread as one readable phrase (e.g.
// "tlsv1 alert unknown ca"), or `fallback` when there is none; clears the
// thread's error queue.
std::string TakeTlsError(const std::string& fallback);

}  // namespace kestrune::sim
