// Secrets masked in fuzz inputs, for the targets that check that a refusal
// never depends on the text of a secret or a token: the same input with each
// such value masked must be refused with the same message.
#pragma once

#include <cctype>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace kestrune::fuzz {

// Every byte but white space made "x", so emptiness and padding stay.
inline void Mask(char* begin, char* end) {
  for (char* c = begin; c != end; ++c) {
    if (*c != ' ' && *c != '\t' && *c != '\r' && *c != '\n') *c = 'x';
  }
}

// Whether a key names a secret or a token, in any case ("sts_token",
// "AccessKeySecret").
inline bool IsSecretKey(std::string_view key) {
  std::string lower(key);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("secret") != std::string::npos || lower.find("token") != std::string::npos;
}

// Masks every string value whose key names a secret or a token, at any depth.
inline void MaskJson(nlohmann::json& node) {
  if (node.is_array()) {
    for (auto& item : node) MaskJson(item);
    return;
  }
  if (!node.is_object()) return;
  for (auto& [key, item] : node.items()) {
    if (item.is_string() && IsSecretKey(key)) {
      std::string& text = item.get_ref<std::string&>();
      Mask(text.data(), text.data() + text.size());
    } else {
      MaskJson(item);
    }
  }
}

}  // namespace kestrune::fuzz
