// Schannel through SSPI for tls.h.
//
// Schannel is told to leave the server's certificate alone
// (SCH_CRED_MANUAL_CRED_VALIDATION): the chain is built and judged here,
// before Handshake returns, so that a CA file can replace the system's roots
// and so that Wine, whose SSL policy check passes a chain that stops short of
// any root, is held to the same rule as Windows. The host name is matched here
// as well as by the policy check for the same reason.
// Order matters: Winsock before <windows.h>, the base types before the
// security headers, which need UNICODE_STRING for SCH_CREDENTIALS; the chain
// parameters with their URL time-out.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <winsock2.h>

#include <windows.h>

#include <subauth.h>
#include <wincrypt.h>
#include <ws2tcpip.h>
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include <schannel.h>
#include <security.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "core/ascii.h"
#include "core/wide_text.h"
#include "request/small_file.h"
#include "transport/tls.h"

namespace kestrune::transport {
namespace {

using Clock = std::chrono::steady_clock;

// The server's handshake messages (its chain above all) must fit in this.
constexpr std::size_t kHandshakeLimit = 256 * 1024;
constexpr std::size_t kReadChunk = 16 * 1024;
constexpr std::size_t kRecordHeader = 5;
constexpr char kAlertRecord = 21;  // a TLS record's content type

constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
constexpr DWORD kAllowedProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
constexpr ULONG kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                  ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                  ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;

struct StatusText {
  SECURITY_STATUS status;
  const char* text;
};

constexpr StatusText kStatusTexts[] = {
    {SEC_E_ALGORITHM_MISMATCH, "no protocol version or cipher in common with the server"},
    {SEC_E_UNSUPPORTED_FUNCTION, "the server offers no TLS version from 1.2 on"},
    {SEC_E_ILLEGAL_MESSAGE, "the server sent a message that breaks the protocol"},
    {SEC_E_INVALID_TOKEN, "the server does not speak TLS"},
    {SEC_E_MESSAGE_ALTERED, "a message was altered on the way"},
    {SEC_E_DECRYPT_FAILURE, "a record could not be decrypted"},
    {SEC_E_OUT_OF_SEQUENCE, "a message arrived out of sequence"},
    {SEC_E_CERT_UNKNOWN, "the server's certificate could not be read"},
    {SEC_E_CERT_EXPIRED, "the server's certificate has expired"},
    {SEC_E_UNTRUSTED_ROOT, "the server's certificate is not trusted"},
    {SEC_E_WRONG_PRINCIPAL, "the server's certificate is for another name"},
    {SEC_E_NO_CREDENTIALS, "no credentials for TLS"},
    {SEC_E_UNKNOWN_CREDENTIALS, "the TLS credentials were refused"},
    {SEC_E_SECPKG_NOT_FOUND, "Schannel is not available"},
    {SEC_E_INSUFFICIENT_MEMORY, "not enough memory"},
    {SEC_E_INTERNAL_ERROR, "Schannel failed internally"},
    {SEC_E_CONTEXT_EXPIRED, "the session has ended"},
    {SEC_E_INCOMPLETE_MESSAGE, "the server's message is incomplete"},
};

std::string DescribeSecurityStatus(SECURITY_STATUS status) {
  for (const StatusText& known : kStatusTexts) {
    if (known.status == status) return known.text;
  }
  char number[32];
  std::snprintf(number, sizeof number, "Schannel error 0x%08lX",
                static_cast<unsigned long>(status));
  return number;
}

struct TrustText {
  DWORD flag;
  const char* text;
};

// The chain's error bits in the order a user most needs to hear them.
constexpr TrustText kTrustTexts[] = {
    {CERT_TRUST_IS_NOT_SIGNATURE_VALID, "a signature in its chain is not valid"},
    {CERT_TRUST_IS_REVOKED, "it has been revoked"},
    {CERT_TRUST_IS_NOT_TIME_VALID, "it has expired or is not valid yet"},
    {CERT_TRUST_IS_UNTRUSTED_ROOT, "its chain ends at a root that is not trusted"},
    {CERT_TRUST_IS_PARTIAL_CHAIN, "its chain does not reach a trusted root"},
    {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, "it is not meant for a TLS server"},
    {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, "a certificate in its chain may not issue others"},
    {CERT_TRUST_IS_CYCLIC, "its chain runs in a circle"},
};

std::string DescribeTrustError(DWORD errors) {
  for (const TrustText& known : kTrustTexts) {
    if (errors & known.flag) return known.text;
  }
  char number[48];
  std::snprintf(number, sizeof number, "its chain is not valid (0x%08lX)",
                static_cast<unsigned long>(errors));
  return number;
}

struct StoreCloser {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using StorePtr = std::unique_ptr<void, StoreCloser>;

struct CertFreer {
  void operator()(PCCERT_CONTEXT cert) const { CertFreeCertificateContext(cert); }
};
using CertPtr = std::unique_ptr<const CERT_CONTEXT, CertFreer>;

struct ChainFreer {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using ChainPtr = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer>;

struct EngineFreer {
  void operator()(HCERTCHAINENGINE engine) const { CertFreeCertificateChainEngine(engine); }
};
using EnginePtr = std::unique_ptr<void, EngineFreer>;

struct ContextBufferFreer {
  void operator()(void* buffer) const { FreeContextBuffer(buffer); }
};
using ContextBufferPtr = std::unique_ptr<void, ContextBufferFreer>;

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};

std::string WindowsErrorText() { return "Windows error " + std::to_string(GetLastError()); }

// The certificates of a PEM file, in a store of their own.
core::Result<StorePtr> LoadCaFile(const std::string& path) {
  core::Result<std::string> text = request::ReadSmallFile(path, kCaFileLimit);
  if (!text.ok()) {
    return core::Status::Connection("the CA file cannot be read: " + text.status().message());
  }
  StorePtr store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  if (!store)
    return core::Status::Connection("no store for the CA file (" + WindowsErrorText() + ")");
  static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  const std::string& pem = *text;
  std::size_t count = 0;
  for (std::size_t begin = pem.find(kBegin); begin != std::string::npos;
       begin = pem.find(kBegin, begin + kBegin.size())) {
    const std::size_t end = pem.find(kEnd, begin);
    if (end == std::string::npos) break;
    const DWORD block_size = static_cast<DWORD>(end + kEnd.size() - begin);
    DWORD der_size = 0;
    std::vector<BYTE> der;
    const bool decoded =
        CryptStringToBinaryA(pem.data() + begin, block_size, CRYPT_STRING_BASE64HEADER, nullptr,
                             &der_size, nullptr, nullptr) &&
        (der.resize(der_size),
         CryptStringToBinaryA(pem.data() + begin, block_size, CRYPT_STRING_BASE64HEADER, der.data(),
                              &der_size, nullptr, nullptr)) &&
        CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), der_size,
                                         CERT_STORE_ADD_USE_EXISTING, nullptr);
    if (!decoded) {
      return core::Status::Connection("the CA file " + path + " holds a certificate #" +
                                      std::to_string(count + 1) + " that cannot be read");
    }
    ++count;
  }
  if (count == 0) return core::Status::Connection("the CA file " + path + " holds no certificate");
  return store;
}

// Whether the DNS name `pattern` from a certificate covers `host`: equal
// without regard to case, or a left-most "*." label standing for exactly one
// label of the host (never for a top-level domain alone).
bool NameCovers(std::string_view pattern, std::string_view host) {
  if (core::EqualsIgnoreCase(pattern, host)) return true;
  if (pattern.size() < 3 || pattern.substr(0, 2) != "*.") return false;
  const std::string_view suffix = pattern.substr(1);  // ".example.com"
  if (suffix.find('.', 1) == std::string_view::npos) return false;
  const std::size_t dot = host.find('.');
  return dot != std::string_view::npos && dot > 0 &&
         core::EqualsIgnoreCase(host.substr(dot), suffix);
}

// The binary form of `host` when it is an IPv4 or IPv6 address.
std::optional<std::string> AddressBytes(const std::string& host) {
  in6_addr v6{};
  if (InetPtonA(AF_INET6, host.c_str(), &v6) == 1) {
    return std::string(reinterpret_cast<const char*>(&v6), sizeof v6);
  }
  in_addr v4{};
  if (InetPtonA(AF_INET, host.c_str(), &v4) == 1) {
    return std::string(reinterpret_cast<const char*>(&v4), sizeof v4);
  }
  return std::nullopt;
}

// The host check of our own: the subject alternative names (DNS names for a
// host name, IP addresses for an address); the subject's common name only
// when a certificate has no DNS name at all.
bool CertificateNames(PCCERT_CONTEXT cert, const std::string& host) {
  const std::optional<std::string> address = AddressBytes(host);
  bool has_dns_name = false;
  const CERT_EXTENSION* extension = CertFindExtension(
      szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension, cert->pCertInfo->rgExtension);
  if (extension) {
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                             extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                             &size)) {
      return false;
    }
    std::unique_ptr<void, LocalFreer> owned(names);
    for (DWORD i = 0; i < names->cAltEntry; ++i) {
      const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
      if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
        has_dns_name = true;
        if (!address && NameCovers(core::FromWide(entry.pwszDNSName), host)) return true;
      } else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && address &&
                 std::string_view(reinterpret_cast<const char*>(entry.IPAddress.pbData),
                                  entry.IPAddress.cbData) == *address) {
        return true;
      }
    }
  }
  if (has_dns_name || address) return false;
  wchar_t common_name[256] = {};
  CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME),
                     common_name, 256);
  return common_name[0] != 0 && core::EqualsIgnoreCase(core::FromWide(common_name), host);
}

core::Status NotTrusted(const std::string& host, const std::string& reason) {
  return core::Status::Connection("the certificate of " + host + " is not trusted: " + reason);
}

core::Status OtherName(const std::string& host) {
  return core::Status::Connection("the certificate of " + host + " is for another name");
}

// Builds the server's chain (against `ca_store` alone when given, else the
// system's roots) and judges it and its names. Windows may fetch a missing
// intermediate or root from the network while building; that wait ends
// with `time_left`, and never happens for a CA file, which is all the trust
// there is.
core::Status VerifyServer(PCCERT_CONTEXT cert, const std::string& host, HCERTSTORE ca_store,
                          std::chrono::milliseconds time_left) {
  EnginePtr engine;
  if (ca_store) {
    // An engine whose only roots are the file's: the system's roots play no
    // part, on Windows from 7 on and in Wine alike.
    CERT_CHAIN_ENGINE_CONFIG config{};
    config.cbSize = sizeof config;
    config.hExclusiveRoot = ca_store;
    HCERTCHAINENGINE handle = nullptr;
    if (!CertCreateCertificateChainEngine(&config, &handle)) {
      return NotTrusted(host, "no chain engine for the CA file (" + WindowsErrorText() + ")");
    }
    engine.reset(handle);
  }
  static char server_auth[] = szOID_PKIX_KP_SERVER_AUTH;
  char* usages[] = {server_auth};
  CERT_CHAIN_PARA chain_para{};
  chain_para.cbSize = sizeof chain_para;
  chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
  chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  chain_para.dwUrlRetrievalTimeout = static_cast<DWORD>(std::max<long long>(1, time_left.count()));
  const DWORD chain_flags = ca_store ? CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL : 0;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!CertGetCertificateChain(static_cast<HCERTCHAINENGINE>(engine.get()), cert, nullptr,
                               cert->hCertStore, &chain_para, chain_flags, nullptr, &built)) {
    return NotTrusted(host, "its chain could not be built (" + WindowsErrorText() + ")");
  }
  ChainPtr chain(built);
  // Tested apart from the policy check below, which under Wine passes a chain
  // that never reached a root.
  if (chain->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR || chain->cChain == 0) {
    return NotTrusted(host, DescribeTrustError(chain->TrustStatus.dwErrorStatus));
  }
  if (ca_store) {
    // Should an engine ever fall back to the system's roots, the root must
    // still be one of the file's certificates.
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[chain->cChain - 1];
    const PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
    CertPtr found(CertFindCertificateInStore(ca_store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                             root, nullptr));
    if (!found) return NotTrusted(host, "its chain does not end at a certificate of the CA file");
  }

  std::wstring server_name = core::ToWide(host);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl_para{};
  ssl_para.cbSize = sizeof ssl_para;
  ssl_para.dwAuthType = AUTHTYPE_SERVER;
  ssl_para.pwszServerName = server_name.data();
  CERT_CHAIN_POLICY_PARA policy_para{};
  policy_para.cbSize = sizeof policy_para;
  policy_para.pvExtraPolicyPara = &ssl_para;
  CERT_CHAIN_POLICY_STATUS policy{};
  policy.cbSize = sizeof policy;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy_para,
                                        &policy)) {
    return NotTrusted(host, "the policy check failed (" + WindowsErrorText() + ")");
  }
  if (policy.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) return OtherName(host);
  if (policy.dwError != 0) {
    char number[48];
    std::snprintf(number, sizeof number, "the policy check refused it (0x%08lX)",
                  static_cast<unsigned long>(policy.dwError));
    return NotTrusted(host, number);
  }
  if (!CertificateNames(cert, host)) return OtherName(host);
  return core::Status::Ok();
}

std::chrono::milliseconds Remaining(Clock::time_point deadline) {
  return std::max(std::chrono::milliseconds(0),
                  std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

std::string DescribeSocketError(const SocketError& error) {
  return error.timed_out ? "no answer in time" : error.detail;
}

}  // namespace

struct TlsChannel::State {
  Connection* connection = nullptr;
  std::wstring target;
  CredHandle credentials{};
  bool have_credentials = false;
  CtxtHandle context{};
  bool have_context = false;
  SecPkgContext_StreamSizes sizes{};
  bool established = false;
  bool peer_closed = false;
  CertPtr verified;      // the certificate judged at the handshake
  std::string incoming;  // received and not yet decrypted
  std::string plain;     // decrypted and not yet handed out
  std::size_t plain_used = 0;

  ~State() { Reset(); }

  void Reset() {
    if (have_context) DeleteSecurityContext(&context);
    if (have_credentials) FreeCredentialsHandle(&credentials);
    have_context = have_credentials = established = peer_closed = false;
    verified.reset();
    incoming.clear();
    plain.clear();
    plain_used = 0;
  }

  // TLS 1.2 or later. SCH_CREDENTIALS where Schannel knows it (Windows 10
  // 1809 on, needed there for TLS 1.3); the older SCHANNEL_CRED elsewhere.
  SECURITY_STATUS AcquireCredentials() {
    wchar_t package[] = UNISP_NAME_W;
    TimeStamp expiry;
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols = ~kAllowedProtocols;
    SCH_CREDENTIALS modern{};
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = kCredentialFlags;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &parameters;
    SECURITY_STATUS status =
        AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &modern, nullptr,
                                  nullptr, &credentials, &expiry);
    if (status != SEC_E_OK) {
      SCHANNEL_CRED legacy{};
      legacy.dwVersion = SCHANNEL_CRED_VERSION;
      legacy.dwFlags = kCredentialFlags;
      legacy.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
      status = AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &legacy,
                                         nullptr, nullptr, &credentials, &expiry);
    }
    have_credentials = status == SEC_E_OK;
    return status;
  }

  // Appends what the server sends next to `incoming`; a failure text when
  // nothing came.
  std::optional<std::string> ReadMore(Clock::time_point deadline) {
    if (incoming.size() >= kHandshakeLimit) return "the server's messages are too large";
    const std::size_t stored = incoming.size();
    incoming.resize(stored + kReadChunk);
    std::size_t received = 0;
    const SocketStatus status =
        connection->Receive(incoming.data() + stored, kReadChunk, Remaining(deadline), received);
    incoming.resize(stored + received);
    if (status) return DescribeSocketError(*status);
    if (received == 0) return "the server closed the connection";
    return std::nullopt;
  }

  // Runs InitializeSecurityContext until the handshake (the first one, or
  // one the server starts later) is complete; a failure text otherwise.
  std::optional<std::string> Negotiate(Clock::time_point deadline) {
    bool first = !have_context;
    bool went_without_certificate = false;
    for (;;) {
      if (!first && incoming.empty()) {
        if (auto failed = ReadMore(deadline)) return failed;
      }
      SecBuffer in_buffers[2] = {
          {static_cast<ULONG>(incoming.size()), SECBUFFER_TOKEN, incoming.data()},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in_buffers};
      SecBuffer out_buffer{0, SECBUFFER_TOKEN, nullptr};
      SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out_buffer};
      ULONG attributes = 0;
      const SECURITY_STATUS status = InitializeSecurityContextW(
          &credentials, first ? nullptr : &context, target.data(), kContextRequest, 0, 0,
          first ? nullptr : &in_desc, 0, &context, &out_desc, &attributes, nullptr);
      ContextBufferPtr token(out_buffer.pvBuffer);
      if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) have_context = true;
      first = false;
      if (status == SEC_E_INCOMPLETE_MESSAGE) {
        if (auto failed = ReadMore(deadline)) return failed;
        continue;
      }
      // On a failure the token, if any, is the alert that tells the server.
      if (token && out_buffer.cbBuffer > 0) {
        const SocketStatus sent = connection->SendAll(
            std::string_view(static_cast<const char*>(out_buffer.pvBuffer), out_buffer.cbBuffer),
            Remaining(deadline));
        if (sent && !FAILED(status)) return DescribeSocketError(*sent);
      }
      if (FAILED(status)) return DescribeSecurityStatus(status);
      // The server's request for a client certificate: go on without one,
      // with the same input.
      if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
        if (went_without_certificate) return "the server insists on a client certificate";
        went_without_certificate = true;
        continue;
      }
      if (in_buffers[1].BufferType == SECBUFFER_EXTRA && in_buffers[1].cbBuffer > 0) {
        incoming.erase(0, incoming.size() - in_buffers[1].cbBuffer);
      } else {
        incoming.clear();
      }
      if (status == SEC_E_OK) return std::nullopt;
      if (status != SEC_I_CONTINUE_NEEDED) return DescribeSecurityStatus(status);
    }
  }

  std::optional<std::string> CheckProtocol() {
    SecPkgContext_ConnectionInfo info{};
    if (QueryContextAttributesW(&context, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK) {
      return "the protocol version is unknown";
    }
    if ((info.dwProtocol & kAllowedProtocols) == 0) return "the server offers no TLS 1.2 or later";
    if (QueryContextAttributesW(&context, SECPKG_ATTR_STREAM_SIZES, &sizes) != SEC_E_OK) {
      return "the record sizes are unknown";
    }
    return std::nullopt;
  }

  CertPtr RemoteCertificate() {
    PCCERT_CONTEXT cert = nullptr;
    if (QueryContextAttributesW(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK) {
      return nullptr;
    }
    return CertPtr(cert);
  }
};

TlsChannel::TlsChannel() : state_(std::make_unique<State>()) {}
TlsChannel::~TlsChannel() = default;

core::Status TlsChannel::Handshake(Connection& connection, const std::string& host,
                                   const TlsOptions& options, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  State& state = *state_;
  state.Reset();
  state.connection = &connection;
  state.target = core::ToWide(host);
  StorePtr ca_store;
  if (!options.ca_file.empty()) {
    core::Result<StorePtr> loaded = LoadCaFile(options.ca_file);
    if (!loaded.ok()) return loaded.status();
    ca_store = std::move(loaded).value();
  }
  const auto failed = [&host](const std::string& reason) {
    return core::Status::Connection("the TLS handshake with " + host + " failed: " + reason);
  };
  if (const SECURITY_STATUS status = state.AcquireCredentials(); status != SEC_E_OK) {
    return failed(DescribeSecurityStatus(status));
  }
  if (auto reason = state.Negotiate(deadline)) return failed(*reason);
  if (auto reason = state.CheckProtocol()) return failed(*reason);
  CertPtr cert = state.RemoteCertificate();
  if (!cert) return failed("the server sent no certificate");
  if (core::Status verified = VerifyServer(cert.get(), host, ca_store.get(), Remaining(deadline));
      !verified.ok()) {
    return verified;
  }
  state.verified = std::move(cert);
  state.established = true;
  return core::Status::Ok();
}

SocketStatus TlsChannel::SendAll(std::string_view data, std::chrono::milliseconds timeout) {
  State& state = *state_;
  if (!state.established) return SocketError{SocketStep::kSend, false, "no TLS session"};
  const SecPkgContext_StreamSizes& sizes = state.sizes;
  std::string record;
  while (!data.empty()) {
    const std::size_t length = std::min<std::size_t>(data.size(), sizes.cbMaximumMessage);
    record.assign(sizes.cbHeader + length + sizes.cbTrailer, '\0');
    std::memcpy(record.data() + sizes.cbHeader, data.data(), length);
    SecBuffer buffers[4] = {
        {sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
        {static_cast<ULONG>(length), SECBUFFER_DATA, record.data() + sizes.cbHeader},
        {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes.cbHeader + length},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = EncryptMessage(&state.context, 0, &desc, 0);
    if (status != SEC_E_OK) {
      return SocketError{SocketStep::kSend, false, "TLS: " + DescribeSecurityStatus(status)};
    }
    const std::size_t total = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
    if (SocketStatus sent =
            state.connection->SendAll(std::string_view(record.data(), total), timeout)) {
      return sent;
    }
    data.remove_prefix(length);
  }
  return std::nullopt;
}

SocketStatus TlsChannel::Receive(char* buffer, std::size_t capacity,
                                 std::chrono::milliseconds timeout, std::size_t& received) {
  State& state = *state_;
  received = 0;
  if (!state.established && !state.peer_closed) {
    return SocketError{SocketStep::kReceive, false, "no TLS session"};
  }
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    if (state.plain_used < state.plain.size()) {
      received = std::min(capacity, state.plain.size() - state.plain_used);
      std::memcpy(buffer, state.plain.data() + state.plain_used, received);
      state.plain_used += received;
      return std::nullopt;
    }
    if (state.peer_closed) return std::nullopt;
    // Wine reads a record's length from its header before checking the size.
    if (state.incoming.size() >= kRecordHeader) {
      SecBuffer buffers[4] = {
          {static_cast<ULONG>(state.incoming.size()), SECBUFFER_DATA, state.incoming.data()},
          {0, SECBUFFER_EMPTY, nullptr},
          {0, SECBUFFER_EMPTY, nullptr},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
      // Wine reports close_notify as an empty record rather than
      // SEC_I_CONTEXT_EXPIRED; below TLS 1.3 its record type tells it apart
      // (any other alert fails the decryption).
      const bool alert_record = state.incoming[0] == kAlertRecord;
      const SECURITY_STATUS status = DecryptMessage(&state.context, &desc, 0, nullptr);
      if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE || status == SEC_I_CONTEXT_EXPIRED) {
        // The plain text lies inside `incoming`: copy it out before the
        // undecrypted rest moves to the front.
        std::string extra;
        state.plain.clear();
        state.plain_used = 0;
        for (const SecBuffer& piece : buffers) {
          if (piece.BufferType == SECBUFFER_DATA && piece.cbBuffer > 0) {
            state.plain.assign(static_cast<const char*>(piece.pvBuffer), piece.cbBuffer);
          } else if (piece.BufferType == SECBUFFER_EXTRA && piece.cbBuffer > 0) {
            extra = state.incoming.substr(state.incoming.size() - piece.cbBuffer);
          }
        }
        state.incoming = std::move(extra);
        if (status == SEC_I_CONTEXT_EXPIRED || (alert_record && state.plain.empty())) {
          state.peer_closed = true;
          state.established = false;
        } else if (status == SEC_I_RENEGOTIATE) {
          if (auto failed = state.Negotiate(deadline)) {
            return SocketError{SocketStep::kReceive, false, "TLS: " + *failed};
          }
          // A session that changed its certificate is not the one verified.
          CertPtr now = state.RemoteCertificate();
          if (!now || !CertCompareCertificate(X509_ASN_ENCODING, now->pCertInfo,
                                              state.verified->pCertInfo)) {
            state.established = false;
            return SocketError{SocketStep::kReceive, false,
                               "TLS: the server changed its certificate"};
          }
        }
        continue;
      }
      if (status != SEC_E_INCOMPLETE_MESSAGE) {
        return SocketError{SocketStep::kReceive, false, "TLS: " + DescribeSecurityStatus(status)};
      }
    }
    const std::size_t stored = state.incoming.size();
    state.incoming.resize(stored + kReadChunk);
    std::size_t got = 0;
    const SocketStatus status = state.connection->Receive(state.incoming.data() + stored,
                                                          kReadChunk, Remaining(deadline), got);
    state.incoming.resize(stored + got);
    if (status) return status;
    if (got == 0) {
      state.peer_closed = true;
      state.established = false;
    }
  }
}

bool TlsChannel::Holds() const {
  const State& state = *state_;
  return !state.incoming.empty() || state.plain_used < state.plain.size();
}

void TlsChannel::Shutdown(std::chrono::milliseconds timeout) {
  State& state = *state_;
  if (!state.established) return;
  state.established = false;
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
  SecBufferDesc control_desc{SECBUFFER_VERSION, 1, &control};
  if (ApplyControlToken(&state.context, &control_desc) != SEC_E_OK) return;
  SecBuffer out_buffer{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out_buffer};
  ULONG attributes = 0;
  const SECURITY_STATUS status = InitializeSecurityContextW(
      &state.credentials, &state.context, state.target.data(), kContextRequest, 0, 0, nullptr, 0,
      &state.context, &out_desc, &attributes, nullptr);
  ContextBufferPtr token(out_buffer.pvBuffer);
  if (FAILED(status) || !token || out_buffer.cbBuffer == 0) return;
  state.connection->SendAll(
      std::string_view(static_cast<const char*>(out_buffer.pvBuffer), out_buffer.cbBuffer),
      timeout);
}

std::string TlsLibraryVersion() { return "Schannel"; }

}  // namespace kestrune::transport
