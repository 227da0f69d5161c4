// The readers of the Aliyun credential files over arbitrary content.
//
// The first byte picks the reader: even, the INI credentials file; odd, the
// config.json profiles (bit 1 set: the profile "p", else the current one).
// Whatever the content, a reader must not crash, what it returns must be
// whole (an id and a secret, without white space around them), and a refusal
// must not depend on the text of a secret or a token: the same content with
// every such value masked (each byte but white space made "x") must give the
// same message. The values are found independently of the readers: for JSON
// by nlohmann-json's own parse, for INI by the lines' "key = value" form.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "fuzz/secret_mask.h"
#include "request/credential_files.h"

namespace {

namespace request = kestrune::request;
namespace core = kestrune::core;

[[noreturn]] void Fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "contract broken: %s\n%.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

using kestrune::fuzz::IsSecretKey;
using kestrune::fuzz::Mask;
using kestrune::fuzz::MaskJson;

// The values of "key = value" lines whose key names a secret or a token.
std::string MaskIni(std::string content) {
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    const std::string_view line =
        request::TrimCredentialText(std::string_view(content).substr(start, end - start));
    const std::size_t equals = content.find('=', start);
    const bool structure =
        line.empty() || line.front() == '[' || line.front() == '#' || line.front() == ';';
    if (!structure && equals < end &&
        IsSecretKey(std::string_view(content).substr(start, equals - start))) {
      Mask(content.data() + equals + 1, content.data() + end);
    }
    start = end + 1;
  }
  return content;
}

core::Result<std::optional<request::StoredCredentials>> Read(bool json, std::string_view content,
                                                             std::uint8_t selector) {
  return json ? request::ReadAliyunProfile(content, (selector & 2) ? "p" : "", "F")
              : request::ReadDefaultCredentialsSection(content, "F");
}

bool Trimmed(std::string_view text) {
  return !text.empty() && request::TrimCredentialText(text).size() == text.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view content(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bool json = (data[0] & 1) != 0;
  const auto read = Read(json, content, data[0]);
  if (!read.ok()) {
    const std::string message = read.status().message();
    if (message.empty()) Fail("a refusal without a message");
    std::string masked;
    if (!json) {
      masked = MaskIni(std::string(content));
    } else if (auto document =
                   nlohmann::json::parse(content.begin(), content.end(), nullptr, false);
               !document.is_discarded()) {
      MaskJson(document);
      masked = document.dump();
    } else {
      return 0;  // not JSON: no value to mask
    }
    const auto again = Read(json, masked, data[0]);
    if (again.ok() || again.status().message() != message) {
      Fail("a refusal depends on the text of a secret", message);
    }
    return 0;
  }
  if (!read.value()) return 0;
  const request::StoredCredentials& stored = *read.value();
  const request::Credentials& found = stored.credentials;
  // Only the modes that sign with the profile's own key take a pair, and
  // then a whole one; the others fetch theirs and take none from the file.
  const std::string_view mode = stored.mode;
  const bool keyed = mode.empty() || mode == "AK" || mode == "StsToken" || mode == "RamRoleArn";
  if (!keyed) {
    if (!found.access_key_id.empty() || !found.access_key_secret.empty() ||
        !found.security_token.empty()) {
      Fail("a key was taken for a mode that fetches its own", content);
    }
    return 0;
  }
  if (!Trimmed(found.access_key_id) || !Trimmed(found.access_key_secret)) {
    Fail("an incomplete or padded pair was taken", content);
  }
  if (!found.security_token.empty() && !Trimmed(found.security_token)) {
    Fail("a padded token was taken", content);
  }
  return 0;
}
