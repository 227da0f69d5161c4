// `kestrune credentials [ID]`: writes the credential file "sign" from an id
// and a secret typed without echo.
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/app.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "request/signer.h"

namespace kestrune::cli {
namespace {

bool HasControlCharacter(std::string_view text) {
  for (char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

}  // namespace

int RunCredentials(const CommandLine& line, Console& console) {
  if (line.operands.size() > 1) {
    return UsageError(console,
                      "credentials takes at most the AccessKey id; the secret is read "
                      "from standard input");
  }
  std::string id;
  if (!line.operands.empty()) {
    id = line.operands[0];
  } else {
    core::Result<std::string> typed = console.ReadLine("AccessKey id: ", false);
    if (!typed.ok()) return UsageError(console, "no AccessKey id: " + typed.status().message());
    id = *typed;
  }
  if (id.empty()) return UsageError(console, "the AccessKey id is empty");
  if (id.find(':') != std::string::npos) {
    return UsageError(console,
                      "the AccessKey id must not contain ':' (it separates the id from "
                      "the secret in the file)");
  }
  if (HasControlCharacter(id)) {
    return UsageError(console, "the AccessKey id contains a control character");
  }
  if (id.size() > request::kMaxAccessKeyIdLength) {
    return UsageError(console, "the AccessKey id is longer than " +
                                   std::to_string(request::kMaxAccessKeyIdLength) + " characters");
  }
  // Another key pair may be in the file: replacing it loses it.
  std::error_code error;
  const auto present =
      std::filesystem::symlink_status(std::string(request::kCredentialFileName), error);
  if (!error && present.type() != std::filesystem::file_type::not_found) {
    core::Result<std::string> answer =
        console.ReadLine("The credential file \"sign\" exists; replace it? [y/N] ", false);
    if (!answer.ok() || (*answer != "y" && *answer != "Y" && *answer != "yes")) {
      return UsageError(console,
                        "kept the credential file \"sign\" as it was; nothing was written");
    }
  }
  core::Result<std::string> secret = console.ReadLine("AccessKey secret: ", true);
  if (!secret.ok()) {
    return UsageError(console, "no AccessKey secret: " + secret.status().message());
  }
  if (secret->empty()) return UsageError(console, "the AccessKey secret is empty");
  if (HasControlCharacter(*secret)) {
    return UsageError(console, "the AccessKey secret contains a control character");
  }
  if (secret->size() > request::kMaxAccessKeySecretLength) {
    return UsageError(console, "the AccessKey secret is longer than " +
                                   std::to_string(request::kMaxAccessKeySecretLength) +
                                   " characters");
  }
  core::Status saved = request::SaveCredentials(request::Credentials{id, *secret});
  if (!saved.ok()) {
    return UsageError(console, "cannot write the credential file: " + saved.message());
  }
  console.Err("kestrune: wrote the credential file \"sign\" for AccessKey id " + id + "\n");
  return kExitOk;
}

}  // namespace kestrune::cli
