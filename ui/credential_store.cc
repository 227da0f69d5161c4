#include "ui/credential_store.h"

#include <windows.h>

#include <wincred.h>

#include <string_view>

#include "core/wide_text.h"

namespace kestrune::ui {
namespace {

std::string StoreError(std::string_view what, DWORD code) {
  std::string message = "the Windows credential store ";
  message += what;
  message += " (error ";
  message += std::to_string(code);
  message += ")";
  return message;
}

// Frees what CredReadW hands out on every way out.
class ReadCredential {
 public:
  ReadCredential() = default;
  ~ReadCredential() {
    if (credential_ != nullptr) CredFree(credential_);
  }
  ReadCredential(const ReadCredential&) = delete;
  ReadCredential& operator=(const ReadCredential&) = delete;
  PCREDENTIALW* out() { return &credential_; }
  const CREDENTIALW* get() const { return credential_; }

 private:
  PCREDENTIALW credential_ = nullptr;
};

}  // namespace

core::Result<std::optional<request::Credentials>> CredentialStore::Read() const {
  ReadCredential credential;
  if (!CredReadW(target_.c_str(), CRED_TYPE_GENERIC, 0, credential.out())) {
    const DWORD code = GetLastError();
    if (code == ERROR_NOT_FOUND) return std::optional<request::Credentials>();
    return core::Status::Error(StoreError("could not be read", code));
  }
  const CREDENTIALW& kept = *credential.get();
  request::Credentials pair;
  if (kept.UserName != nullptr) pair.access_key_id = core::FromWide(kept.UserName);
  if (kept.CredentialBlobSize > 0 && kept.CredentialBlob != nullptr) {
    pair.access_key_secret = core::SecretString(std::string_view(
        reinterpret_cast<const char*>(kept.CredentialBlob), kept.CredentialBlobSize));
  }
  if (pair.access_key_id.empty() || pair.access_key_secret.empty()) {
    const std::string target = core::FromWide(target_);
    return core::Status::Error("the Windows credential store holds no AccessKey pair under \"" +
                               target + "\"");
  }
  return std::optional<request::Credentials>(std::move(pair));
}

core::Status CredentialStore::Write(const request::Credentials& credentials) const {
  std::wstring user = core::ToWide(credentials.access_key_id);
  const std::string_view secret = credentials.access_key_secret.view();
  CREDENTIALW credential{};
  credential.Type = CRED_TYPE_GENERIC;
  credential.TargetName = const_cast<wchar_t*>(target_.c_str());
  credential.UserName = user.data();
  // The secret as it is signed with: its UTF-8 bytes.
  credential.CredentialBlobSize = static_cast<DWORD>(secret.size());
  credential.CredentialBlob = reinterpret_cast<BYTE*>(const_cast<char*>(secret.data()));
  credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
  if (!CredWriteW(&credential, 0)) {
    return core::Status::Error(StoreError("refused the keys", GetLastError()));
  }
  return core::Status::Ok();
}

core::Status CredentialStore::Erase() const {
  if (CredDeleteW(target_.c_str(), CRED_TYPE_GENERIC, 0)) return core::Status::Ok();
  const DWORD code = GetLastError();
  if (code == ERROR_NOT_FOUND) return core::Status::Ok();
  return core::Status::Error(StoreError("could not remove the keys", code));
}

}  // namespace kestrune::ui
