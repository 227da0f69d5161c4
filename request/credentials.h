// The AccessKey pair a request is signed with (with the security token of
// temporary credentials), and the credential file that keeps a pair between
// runs.
//
// The file ("sign" in the working directory unless a path is given) holds the
// id, one ":" and the secret: single-byte text, at most 99 bytes. The first
// ":" separates; a file without ":" holds an id alone. Line ends, spaces and
// tabs around the id and the secret are not part of them: a file written by
// hand (`echo id:secret > sign`) ends with a newline. A save writes exactly
// "id:secret", nothing around it, through a temporary file renamed into place
// (mode 0600 on POSIX), so an interrupted save never leaves a half-written
// file.
//
// The secret and the token are key material: no function of this module puts
// them into an error text, a trace or any output other than the HMAC key, the
// signed request and the file.
// Credentials is a plain value; the file functions are safe from any thread
// as long as no two of them work on the same path at once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/secret.h"
#include "core/status.h"

namespace kestrune::request {

// The secret and the token are held in memory that is wiped when freed.
struct Credentials {
  std::string access_key_id;
  core::SecretString access_key_secret;
  // Temporary (STS) credentials only: sent and signed as the SecurityToken
  // parameter. Empty for a long-term pair.
  core::SecretString security_token = {};
};

// Removes CR, LF, space and tab from both ends.
std::string_view TrimCredentialText(std::string_view text);

inline constexpr std::string_view kCredentialFileName = "sign";
// Largest file the loader takes, and the longest id or secret a save writes.
inline constexpr std::size_t kCredentialFileLimit = 99;
inline constexpr std::size_t kCredentialFieldLimit = 49;

// The pair a file's content holds: the text before the first ":" is the id,
// the rest the secret, each without the white space around it
// (TrimCredentialText); content without ":" is an id with an empty secret.
// nullopt for content that is empty or white space only.
std::optional<Credentials> ParseCredentials(std::string_view content);

// A credential file's content as the loader reads it: a leading UTF-8
// byte-order mark (Notepad writes one) is dropped rather than becoming part of
// the id, and a second line that is not blank is an error naming `file` and
// the line rather than becoming part of the secret. Then as ParseCredentials.
core::Result<std::optional<Credentials>> ReadCredentialText(std::string_view content,
                                                            std::string_view file);

// Reads the credential file. Fails with a clear message when it is missing or
// unreadable, empty, or longer than kCredentialFileLimit bytes (a longer file
// is refused whole rather than cut).
core::Result<Credentials> LoadCredentials(
    const std::string& path = std::string(kCredentialFileName));

// `text` with every form of `token` the signer sends or a server may echo
// back (as given, as in a header; percent-encoded once as in a query or form
// body, twice as in the string to sign that a SignatureDoesNotMatch reply
// quotes, either with lower-case hex digits; with "/" escaped as JSON may;
// in Base64, with or without padding, and in its URL form) replaced by
// kHiddenToken. `text` unchanged for an empty token.
inline constexpr std::string_view kHiddenToken = "***";
std::string HideSecurityToken(std::string text, std::string_view token);

// Writes "id:secret". Refuses, writing nothing, an id or secret longer than
// kCredentialFieldLimit characters, holding a line break or NUL, or beginning
// or ending with a space or tab, and an id holding ":" (each of which the file
// cannot carry back).
core::Status SaveCredentials(const Credentials& credentials,
                             const std::string& path = std::string(kCredentialFileName));

}  // namespace kestrune::request
