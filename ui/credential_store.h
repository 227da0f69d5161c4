// Keeps one AccessKey pair in the Windows credential store (Credential
// Manager) as a generic credential: the id as its user name, the secret as its
// blob, under one fixed target name. This is where "Remember keys" puts the
// pair; the credential file stays for loading and for the command line.
//
// The one file of the dialog that calls the credential functions. Any thread,
// as long as no two calls work on the same target at once.
#pragma once

#include <optional>
#include <string>

#include "core/status.h"
#include "request/credentials.h"

namespace kestrune::ui {

// The target the dialog keeps its pair under unless told otherwise.
inline constexpr wchar_t kDefaultCredentialTarget[] = L"Kestrune/AccessKey";

class CredentialStore {
 public:
  CredentialStore() = default;
  explicit CredentialStore(std::wstring target) : target_(std::move(target)) {}

  // The pair kept, or nullopt when none is. Fails when the store cannot be
  // read, or holds under the target something that is not a pair of ours.
  core::Result<std::optional<request::Credentials>> Read() const;
  // Replaces whatever is kept by `credentials`. Fails, keeping nothing new,
  // when the store is not available here or refuses the pair.
  core::Status Write(const request::Credentials& credentials) const;
  // Removes the pair kept; OK when none was.
  core::Status Erase() const;

 private:
  std::wstring target_ = kDefaultCredentialTarget;
};

}  // namespace kestrune::ui
