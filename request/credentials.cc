#include "request/credentials.h"

#include "core/ascii.h"
#include "core/base64.h"
#include "core/secret.h"
#include "request/escape.h"
#include "request/small_file.h"

namespace kestrune::request {

std::string_view TrimCredentialText(std::string_view text) {
  constexpr std::string_view kAround = "\r\n \t";
  const std::size_t first = text.find_first_not_of(kAround);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kAround) - first + 1);
}

std::optional<Credentials> ParseCredentials(std::string_view content) {
  if (TrimCredentialText(content).empty()) return std::nullopt;
  const std::size_t colon = content.find(':');
  if (colon == std::string_view::npos)
    return Credentials{std::string(TrimCredentialText(content)), {}};
  return Credentials{std::string(TrimCredentialText(content.substr(0, colon))),
                     core::SecretString(TrimCredentialText(content.substr(colon + 1)))};
}

core::Result<std::optional<Credentials>> ReadCredentialText(std::string_view content,
                                                            std::string_view file) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (content.starts_with(kByteOrderMark)) content.remove_prefix(kByteOrderMark.size());
  int line = 0;
  bool seen = false;
  for (std::size_t start = 0; start <= content.size();) {
    std::size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    ++line;
    if (!TrimCredentialText(content.substr(start, end - start)).empty()) {
      if (seen) {
        // The line itself is not quoted: it may be a secret.
        return core::Status::InvalidInput("the credential file \"" + std::string(file) +
                                          "\" has a second line that is not " + "blank (line " +
                                          std::to_string(line) + "); it holds one line, id:secret");
      }
      seen = true;
    }
    start = end + 1;
  }
  return ParseCredentials(content);
}

core::Result<Credentials> LoadCredentials(const std::string& path) {
  core::Result<std::string> content = ReadSmallFile(path, kCredentialFileLimit);
  if (!content.ok()) return content.status();
  core::Result<std::optional<Credentials>> credentials = ReadCredentialText(content.value(), path);
  // The file's text holds the secret too; only the parsed copy is kept.
  core::WipeMemory(content.value().data(), content.value().capacity());
  if (!credentials.ok()) return credentials.status();
  if (!credentials.value()) {
    return core::Status::Error("the credential file \"" + path + "\" is empty");
  }
  return *credentials.value();
}

std::string HideSecurityToken(std::string text, std::string_view token) {
  if (token.empty()) return text;
  // A server may echo an escape with lower-case hex digits ("%2b"), or the
  // token in Base64 (as some gateways log a header).
  const auto lower_hex = [](std::string encoded) {
    for (std::size_t at = encoded.find('%'); at != std::string::npos && at + 2 < encoded.size();
         at = encoded.find('%', at + 1)) {
      encoded[at + 1] = core::LowerAscii(encoded[at + 1]);
      encoded[at + 2] = core::LowerAscii(encoded[at + 2]);
    }
    return encoded;
  };
  // A JSON writer may escape "/" as "\/"; Base64 may come without its
  // padding, or in its URL form ("-" and "_").
  const auto replaced = [](std::string_view form, char from, std::string_view to) {
    std::string out;
    out.reserve(form.size());
    for (const char c : form) {
      if (c == from) {
        out += to;
      } else {
        out += c;
      }
    }
    return out;
  };
  const std::string once = PercentEncode(token);
  const std::string once_lower = lower_hex(once);
  std::string base64 = core::Base64Encode(token);
  const std::string padded = base64;
  while (base64.ends_with('=')) base64.pop_back();
  const std::string url_base64 = replaced(replaced(base64, '+', "-"), '/', "_");
  // Longest first, so that no shorter form eats part of a longer one.
  for (const std::string& form : {PercentEncode(once), PercentEncode(once_lower), once, once_lower,
                                  replaced(padded, '/', "\\/"), padded, replaced(token, '/', "\\/"),
                                  std::string(token), base64, url_base64}) {
    for (std::size_t at = text.find(form); at != std::string::npos;
         at = text.find(form, at + kHiddenToken.size())) {
      text.replace(at, form.size(), kHiddenToken);
    }
  }
  return text;
}

core::Status SaveCredentials(const Credentials& credentials, const std::string& path) {
  auto bad = [](std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
  };
  if (credentials.access_key_id.size() > kCredentialFieldLimit ||
      credentials.access_key_secret.size() > kCredentialFieldLimit) {
    return core::Status::InvalidInput(
        "the AccessKey id and secret are limited to " + std::to_string(kCredentialFieldLimit) +
        " characters each in the credential file; nothing was written");
  }
  if (bad(credentials.access_key_id) || bad(credentials.access_key_secret)) {
    return core::Status::InvalidInput(
        "the AccessKey id or secret holds a line break or NUL; nothing was written");
  }
  // The loader drops white space around either, so it would load back as
  // another pair.
  auto padded = [](std::string_view text) {
    return TrimCredentialText(text).size() != text.size();
  };
  if (padded(credentials.access_key_id) || padded(credentials.access_key_secret)) {
    return core::Status::InvalidInput(
        "the AccessKey id or secret begins or ends with a space or tab; nothing was written");
  }
  // The loader drops a leading UTF-8 byte-order mark (editors write one), so
  // an id that begins with one would load back as another id.
  if (credentials.access_key_id.starts_with("\xEF\xBB\xBF")) {
    return core::Status::InvalidInput(
        "the AccessKey id begins with a UTF-8 byte-order mark; nothing was written");
  }
  // The first ":" of the file ends the id, so an id holding one would load
  // back as a different pair.
  if (credentials.access_key_id.find(':') != std::string::npos) {
    return core::Status::InvalidInput(
        "the AccessKey id holds a \":\", which separates it from the secret in the credential "
        "file; nothing was written");
  }
  std::string text = credentials.access_key_id + ":";
  text += credentials.access_key_secret.view();
  const core::Status written = WriteFileAtomically(path, text);
  core::WipeMemory(text.data(), text.capacity());
  return written;
}

}  // namespace kestrune::request
