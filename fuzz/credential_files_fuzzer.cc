// The readers of the Aliyun credential files over arbitrary content.
//
// The first byte picks the reader: even, the INI credentials file; odd, the
// config.json profiles (bit 1 set: the profile "p", else the current one).
// Whatever the content, a reader must not crash, what it returns must be
// whole (an id and a secret, without white space around them), and a refusal must not quote a
// secret or a token of the file. The secrets are found independently of the readers: for JSON by
// nlohmann-json's own parse, for INI by the lines' "key = value" form.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "request/credential_files.h"

namespace {

namespace request = kestrune::request;

[[noreturn]] void Fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "contract broken: %s\n%.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

struct Values {
  std::vector<std::string> secrets;  // secrets and tokens
  std::vector<std::string> names;    // names, modes and types a message may quote
};

void CollectJson(const nlohmann::json& node, Values& values) {
  if (node.is_array()) {
    for (const auto& item : node) CollectJson(item, values);
    return;
  }
  if (!node.is_object()) return;
  for (const auto& [key, item] : node.items()) {
    if (item.is_string()) {
      const std::string& text = item.get_ref<const std::string&>();
      const bool secret = key == "access_key_secret" || key == "sts_token";
      (secret ? values.secrets : values.names).push_back(text);
    } else {
      CollectJson(item, values);
    }
  }
}

void CollectIni(std::string_view content, Values& values) {
  while (!content.empty()) {
    const std::size_t end = content.find('\n');
    const std::string_view line = content.substr(0, end);
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, equals);
    const bool secret =
        key.find("secret") != std::string_view::npos || key.find("token") != std::string_view::npos;
    std::string_view value = request::TrimCredentialText(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    (secret ? values.secrets : values.names).emplace_back(value);
  }
}

// Whether `message` shows a secret that is not also quoted as a name.
bool ShowsSecret(const std::string& message, const Values& values) {
  for (const std::string& raw : values.secrets) {
    const std::string_view secret = request::TrimCredentialText(raw);
    if (secret.size() < 8 || message.find(secret) == std::string::npos) continue;
    bool also_a_name = false;
    for (const std::string& name : values.names) {
      also_a_name = also_a_name || name.find(secret) != std::string::npos;
    }
    if (!also_a_name) return true;
  }
  return false;
}

bool Trimmed(const std::string& text) {
  return !text.empty() && request::TrimCredentialText(text).size() == text.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view content(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bool json = (data[0] & 1) != 0;
  Values values;
  if (json) {
    const auto document = nlohmann::json::parse(content.begin(), content.end(), nullptr, false);
    if (!document.is_discarded()) CollectJson(document, values);
  } else {
    CollectIni(content, values);
  }
  const auto read = json ? request::ReadAliyunProfile(content, (data[0] & 2) ? "p" : "", "F")
                         : request::ReadDefaultCredentialsSection(content, "F");
  if (!read.ok()) {
    if (read.status().message().empty()) Fail("a refusal without a message");
    if (ShowsSecret(read.status().message(), values)) {
      Fail("a refusal quotes a secret", read.status().message());
    }
    return 0;
  }
  if (!read.value()) return 0;
  const request::Credentials& found = read.value()->credentials;
  if (!Trimmed(found.access_key_id) || !Trimmed(found.access_key_secret)) {
    Fail("an incomplete or padded pair was taken", content);
  }
  if (!found.security_token.empty() && !Trimmed(found.security_token)) {
    Fail("a padded token was taken", content);
  }
  return 0;
}
