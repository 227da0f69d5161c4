#include "sim/tls.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/os_error.h"

namespace kestrune::sim {
namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Free {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Certificate = std::unique_ptr<X509, X509Free>;
using Bio = std::unique_ptr<BIO, BioFree>;

constexpr long kValidFromSeconds = -24L * 60 * 60;
constexpr long kValidForSeconds = 30L * 24 * 60 * 60;

// Whether `path` opens for reading, so that a missing file gets a message of
// its own rather than OpenSSL's.
bool Readable(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_nconf_nid(nullptr, &context, nid, value);
  if (extension == nullptr) return false;
  const bool added = X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

struct Extension {
  int nid;
  const char* value;
};

// A certificate for `key` named `common_name`, signed by `issuer_key` under
// `issuer` (itself when null).
Certificate MakeCertificate(EVP_PKEY* key, const char* common_name, X509* issuer,
                            EVP_PKEY* issuer_key, std::initializer_list<Extension> extensions) {
  Certificate certificate(X509_new());
  if (!certificate) return nullptr;
  X509* x = certificate.get();
  unsigned char serial[16];
  if (RAND_bytes(serial, sizeof serial) != 1) return nullptr;
  serial[0] &= 0x7F;  // a positive serial number
  BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
  const bool serial_set = number != nullptr && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(x));
  BN_free(number);
  X509_NAME* name = X509_get_subject_name(x);
  if (!serial_set || X509_set_version(x, 2) != 1 ||
      X509_gmtime_adj(X509_getm_notBefore(x), kValidFromSeconds) == nullptr ||
      X509_gmtime_adj(X509_getm_notAfter(x), kValidForSeconds) == nullptr ||
      X509_set_pubkey(x, key) != 1 ||
      X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                 reinterpret_cast<const unsigned char*>("kestrune-sim"), -1, -1,
                                 0) != 1 ||
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                 reinterpret_cast<const unsigned char*>(common_name), -1, -1,
                                 0) != 1 ||
      X509_set_issuer_name(x, X509_get_subject_name(issuer != nullptr ? issuer : x)) != 1) {
    return nullptr;
  }
  for (const Extension& extension : extensions) {
    if (!AddExtension(x, issuer != nullptr ? issuer : x, extension.nid, extension.value)) {
      return nullptr;
    }
  }
  if (X509_sign(x, issuer_key, EVP_sha256()) == 0) return nullptr;
  return certificate;
}

Certificate MakeCa(EVP_PKEY* key, const char* common_name) {
  return MakeCertificate(key, common_name, nullptr, key,
                         {{NID_basic_constraints, "critical,CA:TRUE"},
                          {NID_key_usage, "critical,keyCertSign,cRLSign"},
                          {NID_subject_key_identifier, "hash"}});
}

// Writes `text` to `path` with `mode`, also when the file existed with a
// wider one.
core::Status WriteFile(const std::string& path, const std::string& text, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return core::OsError("cannot write \"" + path + "\"", errno);
  bool ok = ::fchmod(fd, mode) == 0;
  for (std::size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  const int error = errno;
  ok = ::close(fd) == 0 && ok;
  if (!ok) return core::OsError("cannot write \"" + path + "\"", error);
  return core::Status::Ok();
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

std::string CertificatePem(X509* certificate) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1) return {};
  return BioText(bio.get());
}

std::string KeyPem(EVP_PKEY* key) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio ||
      PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return {};
  }
  return BioText(bio.get());
}

}  // namespace

std::string TakeTlsError(const std::string& fallback) {
  unsigned long code = 0;
  unsigned long last = 0;
  while ((code = ERR_get_error()) != 0) last = code;
  if (last == 0) return fallback;
  const char* reason = ERR_reason_error_string(last);
  return reason != nullptr ? std::string(reason) : fallback;
}

core::Result<std::unique_ptr<TlsContext>> TlsContext::FromFiles(const std::string& certificate_file,
                                                                const std::string& key_file) {
  ERR_clear_error();
  if (!Readable(certificate_file)) {
    return core::Status::Error("cannot read the TLS certificate file \"" + certificate_file + "\"");
  }
  if (!Readable(key_file)) {
    return core::Status::Error("cannot read the TLS key file \"" + key_file + "\"");
  }
  SSL_CTX* raw = SSL_CTX_new(TLS_server_method());
  if (raw == nullptr) return core::Status::Error("cannot make a TLS context");
  std::unique_ptr<TlsContext> context(new TlsContext(raw));
  SSL_CTX_set_min_proto_version(raw, TLS1_2_VERSION);
  // The loop writes a reply in pieces as the socket takes them.
  SSL_CTX_set_mode(raw, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (SSL_CTX_use_certificate_chain_file(raw, certificate_file.c_str()) != 1) {
    ERR_clear_error();
    return core::Status::Error("the TLS certificate file \"" + certificate_file +
                               "\" holds no PEM certificate");
  }
  if (SSL_CTX_use_PrivateKey_file(raw, key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
    const std::string reason = TakeTlsError("no PEM private key");
    // A key of another type than the certificate's fails here already.
    return core::Status::Error(
        reason.find("mismatch") != std::string::npos
            ? "the TLS key in \"" + key_file + "\" does not belong to the certificate in \"" +
                  certificate_file + "\""
            : "the TLS key file \"" + key_file + "\" holds no usable PEM private key");
  }
  if (SSL_CTX_check_private_key(raw) != 1) {
    ERR_clear_error();
    return core::Status::Error("the TLS key in \"" + key_file +
                               "\" does not belong to the certificate in \"" + certificate_file +
                               "\"");
  }
  return context;
}

TlsContext::~TlsContext() { SSL_CTX_free(context_); }

core::Result<SelfSignedFiles> MakeSelfSigned(const std::string& directory) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) {
    return core::Status::Error("cannot make the directory \"" + directory +
                               "\": " + error.message());
  }
  const std::filesystem::path base = std::filesystem::absolute(directory, error);
  if (error) return core::Status::Error("cannot find the directory \"" + directory + "\"");
  SelfSignedFiles files{(base / "ca.pem").string(), (base / "other-ca.pem").string(),
                        (base / "server.pem").string(), (base / "server-key.pem").string()};

  // P-256 keys throughout, as most servers now use: the server's signs each
  // handshake in a tenth of the time an RSA key takes, which a benchmark of
  // whole calls would otherwise mostly measure, and every chain engine the
  // client may run on (Windows' under Wine among them) verifies them.
  Pkey ca_key(EVP_EC_gen("P-256"));
  Pkey other_key(EVP_EC_gen("P-256"));
  Pkey server_key(EVP_EC_gen("P-256"));
  if (!ca_key || !other_key || !server_key) {
    return core::Status::Error("cannot make a key: " + TakeTlsError("unknown error"));
  }
  Certificate ca = MakeCa(ca_key.get(), "kestrune-sim test CA");
  Certificate other_ca = MakeCa(other_key.get(), "kestrune-sim other CA");
  Certificate server =
      ca ? MakeCertificate(server_key.get(), "localhost", ca.get(), ca_key.get(),
                           {{NID_basic_constraints, "critical,CA:FALSE"},
                            {NID_key_usage, "critical,digitalSignature"},
                            {NID_ext_key_usage, "serverAuth"},
                            {NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1"},
                            {NID_authority_key_identifier, "keyid"}})
         : nullptr;
  if (!ca || !other_ca || !server) {
    return core::Status::Error("cannot make a certificate: " + TakeTlsError("unknown error"));
  }
  const std::string key_text = KeyPem(server_key.get());
  if (key_text.empty()) return core::Status::Error("cannot write the server key as PEM");
  struct Output {
    const std::string& path;
    std::string text;
    mode_t mode;
  };
  const Output outputs[] = {{files.ca, CertificatePem(ca.get()), 0644},
                            {files.other_ca, CertificatePem(other_ca.get()), 0644},
                            {files.certificate, CertificatePem(server.get()), 0644},
                            {files.key, key_text, 0600}};
  for (const Output& output : outputs) {
    core::Status written = WriteFile(output.path, output.text, output.mode);
    if (!written.ok()) return written;
  }
  return files;
}

}  // namespace kestrune::sim
