// The proxy URL parser and the NO_PROXY matcher over arbitrary text.
//
// The input's first line is a proxy URL, its second a host name and the rest
// a NO_PROXY list. Besides the sanitizers' checks:
//   - a parsed proxy has a host, a port from 1 to 65535, and credentials
//     without control characters (nor a ':' in the user), and the URL built
//     again from its parts (every credential byte escaped) parses the same;
//   - a refusal never repeats a text long enough to hold a password;
//   - "*" in a list matches every host, and a plain name matches itself.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "transport/proxy.h"

namespace {

namespace transport = kestrune::transport;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "contract broken: %s\n", what);
  std::abort();
}

std::string Escaped(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    escaped += '%';
    escaped += kHex[byte >> 4];
    escaped += kHex[byte & 15];
  }
  return escaped;
}

bool HasControl(std::string_view text) {
  for (const char ch : text) {
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) return true;
  }
  return false;
}

std::string_view NextLine(std::string_view& text) {
  const std::size_t end = text.find('\n');
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  return line;
}

void CheckUrl(std::string_view url) {
  const kestrune::core::Result<transport::ProxyServer> parsed = transport::ParseProxyUrl(url);
  if (!parsed.ok()) {
    // A fixed text of a refusal may happen to hold the URL ("ress: the port
    // must be"): a refusal repeats the URL only if it also repeats the same
    // URL with every letter changed.
    // Only a URL with a user part can carry a password; a refusal may quote
    // a scheme, and "scheme://" is a whole URL.
    if (url.size() >= 12 && url.find('@') != std::string_view::npos &&
        parsed.status().message().find(url) != std::string::npos) {
      std::string shifted(url);
      for (char& ch : shifted) {
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch == 'z' ? 'a' : ch + 1);
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch == 'Z' ? 'A' : ch + 1);
      }
      const kestrune::core::Result<transport::ProxyServer> other =
          transport::ParseProxyUrl(shifted);
      if (!other.ok() && other.status().message().find(shifted) != std::string::npos) {
        Fail("a refusal repeats the URL");
      }
    }
    return;
  }
  const transport::ProxyServer& proxy = parsed.value();
  if (proxy.host.empty() || proxy.port == 0) Fail("a proxy without host or port");
  if (HasControl(proxy.user) || HasControl(proxy.password)) Fail("control bytes in credentials");
  if (proxy.user.find(':') != std::string::npos) Fail("a ':' in the user");
  std::string again = "http://";
  if (proxy.has_credentials()) again += Escaped(proxy.user) + ":" + Escaped(proxy.password) + "@";
  again += transport::Authority(proxy.host, proxy.port);
  const kestrune::core::Result<transport::ProxyServer> reparsed = transport::ParseProxyUrl(again);
  if (!reparsed.ok() || reparsed->host != proxy.host || reparsed->port != proxy.port ||
      reparsed->user != proxy.user || reparsed->password != proxy.password) {
    Fail("the URL built from a parsed proxy reads differently");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string_view url = NextLine(text);
  const std::string_view host = NextLine(text);
  CheckUrl(url);
  (void)transport::NoProxyMatches(text, host);
  if (!host.empty() && !transport::NoProxyMatches("x,*", host)) Fail("\"*\" missed a host");
  if (host.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") == std::string_view::npos &&
      !host.empty() && !transport::NoProxyMatches(host, host)) {
    Fail("a name does not match itself");
  }
  return 0;
}
