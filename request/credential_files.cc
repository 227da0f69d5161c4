#include "request/credential_files.h"

#include <nlohmann/json.hpp>

#include <utility>
#include <vector>

#include "core/json_depth.h"

namespace kestrune::request {
namespace {

using Json = nlohmann::json;

// A name, type or mode from the file as a message may quote it: one line,
// not too long.
std::string Shown(std::string_view text) {
  constexpr std::size_t kLongest = 64;
  std::string shown;
  for (const char ch : text.substr(0, kLongest)) {
    const auto byte = static_cast<unsigned char>(ch);
    shown += byte < 0x20 || byte == 0x7F ? '?' : ch;
  }
  if (text.size() > kLongest) shown += "...";
  return shown;
}

// Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on a chained
// operator+ here.
std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  quoted += Shown(text);
  quoted += '"';
  return quoted;
}

// A member's text, trimmed; empty when it is absent or not a string.
std::string Text(const Json& object, std::string_view key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return {};
  return std::string(TrimCredentialText(found->get_ref<const std::string&>()));
}

core::Status Missing(std::string_view what, std::string_view field) {
  return core::Status::Error(std::string(what) + " has no " + std::string(field));
}

// Checks that every field a kind of credentials needs is there.
core::Status CheckComplete(const std::string& what, const Credentials& credentials,
                           bool needs_token, std::string_view id_field,
                           std::string_view secret_field, std::string_view token_field) {
  if (credentials.access_key_id.empty()) return Missing(what, id_field);
  if (credentials.access_key_secret.empty()) return Missing(what, secret_field);
  if (needs_token && credentials.security_token.empty()) return Missing(what, token_field);
  return core::Status::Ok();
}

}  // namespace

core::Result<std::optional<StoredCredentials>> ReadAliyunProfile(std::string_view content,
                                                                 std::string_view profile,
                                                                 std::string_view file) {
  const std::string file_name(file);
  const auto malformed = [&](std::string_view why) {
    return core::Status::Error(file_name + " is not a profile file of the Aliyun command line (" +
                               std::string(why) + ")");
  };
  if (core::JsonNestsDeeperThan(content)) return malformed("nested too deeply");
  const Json document = Json::parse(content.begin(), content.end(), nullptr, false);
  if (document.is_discarded()) return malformed("not JSON");
  if (!document.is_object()) return malformed("not a JSON object");
  const auto profiles = document.find("profiles");
  if (profiles != document.end() && !profiles->is_array()) {
    return malformed("\"profiles\" is not a list");
  }
  std::string name(profile);
  if (name.empty()) {
    name = Text(document, "current");
    if (name.empty()) return std::optional<StoredCredentials>();
  }
  const Json* chosen = nullptr;
  if (profiles != document.end()) {
    for (const Json& entry : *profiles) {
      if (entry.is_object() && Text(entry, "name") == name) {
        chosen = &entry;
        break;
      }
    }
  }
  if (chosen == nullptr) {
    return core::Status::Error(profile.empty()
                                   ? "the current profile " + Quoted(name) + " of " + file_name +
                                         " is not among its profiles"
                                   : "there is no profile " + Quoted(name) + " in " + file_name);
  }
  const std::string what = "profile " + Quoted(name) + " of " + file_name;
  const std::string mode = Text(*chosen, "mode");
  // The fields each mode cannot do without, beyond a key where it takes one.
  struct ModeNeeds {
    std::string_view mode;
    bool key;
    std::vector<std::string_view> fields;
  };
  const ModeNeeds kModes[] = {
      {"AK", true, {}},
      {"StsToken", true, {}},
      {"RamRoleArn", true, {"ram_role_arn"}},
      {"ChainableRamRoleArn", false, {"source_profile", "ram_role_arn"}},
      {"OIDC", false, {"ram_role_arn", "oidc_provider_arn", "oidc_token_file"}},
      {"EcsRamRole", false, {}},  // ram_role_name, else the instance's own
      {"CredentialsURI", false, {"credentials_uri"}},
      {"External", false, {"process_command"}},
  };
  const ModeNeeds* needs = nullptr;
  for (const ModeNeeds& candidate : kModes) {
    if (candidate.mode == mode) needs = &candidate;
  }
  if (needs == nullptr) {
    if (mode.empty()) return Missing(what, "mode (AK, StsToken, RamRoleArn, ...)");
    return core::Status::Error(what + " has mode " + Shown(mode) +
                               ", which kestrune cannot use: it takes AK, StsToken, RamRoleArn, "
                               "ChainableRamRoleArn, OIDC, EcsRamRole, CredentialsURI and External "
                               "profiles");
  }
  // A mode without a key of its own takes none from the profile, not even a
  // half pair left over from an earlier mode.
  StoredCredentials stored{
      name,
      needs->key
          ? request::Credentials{Text(*chosen, "access_key_id"), Text(*chosen, "access_key_secret"),
                                 mode == "StsToken" ? Text(*chosen, "sts_token") : std::string()}
          : request::Credentials{},
      Text(*chosen, "region_id"),
      Text(*chosen, "endpoint_type"),
      Text(*chosen, "signature_version"),
      mode};
  if (needs->key) {
    if (core::Status status = CheckComplete(what, stored.credentials, mode == "StsToken",
                                            "access_key_id", "access_key_secret", "sts_token");
        !status.ok()) {
      return status;
    }
  }
  for (const auto& [key, value] : chosen->items()) {
    if (value.is_string()) {
      const std::string text = Text(*chosen, key);
      if (!text.empty()) stored.fields.emplace(key, text);
    } else if (value.is_number_integer()) {
      stored.fields.emplace(key, std::to_string(value.get<long long>()));
    }
  }
  for (std::string_view field : needs->fields) {
    if (!stored.fields.contains(field)) return Missing(what, field);
  }
  return std::optional<StoredCredentials>(std::move(stored));
}

core::Result<std::optional<StoredCredentials>> ReadDefaultCredentialsSection(
    std::string_view content, std::string_view file) {
  const std::string file_name(file);
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (content.starts_with(kByteOrderMark)) content.remove_prefix(kByteOrderMark.size());
  bool in_default = false;
  bool seen = false;
  std::string type;
  std::string enable;
  StoredCredentials stored{"default", {}, {}, {}, {}};
  std::size_t line_number = 0;
  while (!content.empty()) {
    ++line_number;
    const std::size_t end = content.find('\n');
    const std::string_view line = TrimCredentialText(content.substr(0, end));
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      in_default = TrimCredentialText(line.substr(1, line.size() - 2)) == "default";
      seen = seen || in_default;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || equals == 0) {
      return core::Status::Error("line " + std::to_string(line_number) + " of " + file_name +
                                 " is neither a [section], a key = value line nor a comment");
    }
    if (!in_default) continue;
    const std::string_view key = TrimCredentialText(line.substr(0, equals));
    std::string_view value = TrimCredentialText(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = TrimCredentialText(value.substr(1, value.size() - 2));
    }
    const std::pair<std::string_view, std::string*> fields[] = {
        {"type", &type},
        {"enable", &enable},
        {"access_key_id", &stored.credentials.access_key_id},
    };
    for (const auto& [field, target] : fields) {
      if (key == field) *target = std::string(value);
    }
    if (key == "access_key_secret") stored.credentials.access_key_secret = value;
    if (key == "security_token") stored.credentials.security_token = value;
  }
  if (!seen || enable == "false") return std::optional<StoredCredentials>();
  const std::string what = "the [default] section of " + file_name;
  if (type != "access_key" && type != "sts") {
    if (type.empty()) return Missing(what, "type (access_key or sts)");
    return core::Status::Error(what + " has type = " + Shown(type) +
                               ", which kestrune cannot use: it takes access_key and sts");
  }
  if (type == "access_key") stored.credentials.security_token.clear();
  if (core::Status status = CheckComplete(what, stored.credentials, type == "sts", "access_key_id",
                                          "access_key_secret", "security_token");
      !status.ok()) {
    return status;
  }
  return std::optional<StoredCredentials>(std::move(stored));
}

}  // namespace kestrune::request
