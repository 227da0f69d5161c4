// The AccessKey pair a request is signed with, and the credential file that
// keeps it between runs.
//
// The file ("sign" in the working directory unless a path is given) holds the
// id, one ":" and the secret: single-byte text, no line ending, nothing else,
// at most 99 bytes. The first ":" separates; a file without ":" holds an id
// alone. Saving goes through a temporary file renamed into place (mode 0600 on
// POSIX), so an interrupted save never leaves a half-written file.
//
// The secret is key material: no function of this module puts it into an
// error text, a trace or any output other than the HMAC key and the file.
// Credentials is a plain value; the file functions are safe from any thread
// as long as no two of them work on the same path at once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/status.h"

namespace kestrune::request {

struct Credentials {
  std::string access_key_id;
  std::string access_key_secret;
};

inline constexpr std::string_view kCredentialFileName = "sign";
// Largest file the loader takes, and the longest id or secret a save writes.
inline constexpr std::size_t kCredentialFileLimit = 99;
inline constexpr std::size_t kCredentialFieldLimit = 49;

// The pair a file's content holds: the text before the first ":" is the id,
// the rest the secret; content without ":" is an id with an empty secret.
// nullopt for empty content.
std::optional<Credentials> ParseCredentials(std::string_view content);

// Reads the credential file. Fails with a clear message when it is missing or
// unreadable, empty, or longer than kCredentialFileLimit bytes (a longer file
// is refused whole rather than cut).
core::Result<Credentials> LoadCredentials(
    const std::string& path = std::string(kCredentialFileName));

// Writes "id:secret". Refuses, writing nothing, an id or secret longer than
// kCredentialFieldLimit characters or holding a line break or NUL, and an id
// holding ":" (which the file cannot carry back).
core::Status SaveCredentials(const Credentials& credentials,
                             const std::string& path = std::string(kCredentialFileName));

}  // namespace kestrune::request
