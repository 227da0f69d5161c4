// The credential files other Aliyun tools keep in the user's home directory,
// read so that a user of those tools need not store a key pair twice:
//
//   - the vendor command line's profiles, `~/.aliyun/config.json`:
//       {"current": "default", "profiles": [{"name": "default", "mode": "AK",
//        "access_key_id": "...", "access_key_secret": "...", "sts_token": "",
//        "region_id": "cn-hangzhou", ...}, ...]}
//     Modes AK and StsToken (which adds sts_token) hold credentials;
//     RamRoleArn (a key and ram_role_arn), ChainableRamRoleArn
//     (source_profile and ram_role_arn) and OIDC (ram_role_arn,
//     oidc_provider_arn, oidc_token_file) and EcsRamRole (ram_role_name,
//     optional) say how to get temporary ones from
//     the token service, which the caller does; other modes are refused by
//     name.
//   - the vendor SDKs' INI file, `~/.alibabacloud/credentials`: "[name]"
//     sections of "key = value" lines, "#" or ";" comments; the [default]
//     section with `type = access_key` (access_key_id, access_key_secret) or
//     `type = sts` (and security_token); `enable = false` turns it off.
//
// Both readers take the file's content (reading it is the caller's business,
// through small_file.h) and `file`, the name their messages give the file.
// Values lose the white space around them, as in the "sign" file. No message
// ever quotes a value or a line of the file (a broken line may be a secret),
// only names, types and modes.
//
// Stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/status.h"
#include "request/credentials.h"

namespace kestrune::request {

// Largest file either reader is given (a config.json may hold many profiles).
inline constexpr std::size_t kCredentialStoreLimit = 1024 * 1024;

struct StoredCredentials {
  std::string name;  // the profile's or the section's name
  Credentials credentials;
  std::string region_id;  // the profile's default region; may be empty
  // A profile's choices of network ("public", "vpc") and of signature
  // ("v1", "v3"), as the file gives them; empty when it makes none.
  std::string endpoint_type;
  std::string signature_version;
  // A config.json profile's mode, and its other fields as text (a number
  // such as expired_seconds in its decimal form), for the modes that fetch
  // temporary credentials; trimmed, absent ones left out.
  std::string mode = {};
  std::map<std::string, std::string, std::less<>> fields = {};
};

// The profile `profile` of a config.json, or with an empty `profile` the one
// its "current" names (nullopt when it names none). An error for content that
// is not such a document, a profile the file does not hold, a mode this
// program cannot use, and a profile without a field its mode needs.
core::Result<std::optional<StoredCredentials>> ReadAliyunProfile(std::string_view content,
                                                                 std::string_view profile,
                                                                 std::string_view file);

// The [default] section of a credentials INI file; nullopt when the file has
// none or it is turned off. An error for a line that is neither a section, a
// "key = value" nor a comment, a type other than access_key and sts, and a
// section without what its type needs.
core::Result<std::optional<StoredCredentials>> ReadDefaultCredentialsSection(
    std::string_view content, std::string_view file);

}  // namespace kestrune::request
