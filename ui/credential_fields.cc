#include "ui/credential_fields.h"

#include <commctrl.h>

#include "core/wide_text.h"
#include "request/small_file.h"
#include "ui/control_text.h"
#include "ui/resource_ids.h"

namespace kestrune::ui {

core::Status CredentialFields::Load() {
  ShowSource({});
  if (GetFileAttributesW(core::ToWide(file_).c_str()) == INVALID_FILE_ATTRIBUTES &&
      GetLastError() == ERROR_FILE_NOT_FOUND) {
    return core::Status::Ok();
  }
  // A file another account may write could hold that account's key pair:
  // refused, as the command line refuses it.
  core::Status own = request::CheckOwnFile(file_);
  core::Result<request::Credentials> loaded =
      own.ok() ? request::LoadCredentials(file_) : core::Result<request::Credentials>(own);
  if (!loaded.ok()) {
    return core::Status::Error("credential file \"" + file_ +
                               "\" not loaded: " + loaded.status().message());
  }
  SetControlText(dialog_, IDC_KEY_ID, loaded->access_key_id);
  SetControlText(dialog_, IDC_KEY_SECRET, loaded->access_key_secret);
  return core::Status::Ok();
}

void CredentialFields::ShowSource(const std::string& source) {
  std::string cue = "empty: Send takes them from the environment or a profile";
  if (!source.empty()) {
    cue = "from ";
    cue += source;
  }
  const std::wstring wide = core::ToWide(cue);
  SendDlgItemMessageW(dialog_, IDC_KEY_ID, EM_SETCUEBANNER, TRUE,
                      reinterpret_cast<LPARAM>(wide.c_str()));
}

request::Credentials CredentialFields::Current() const {
  return {ControlText(dialog_, IDC_KEY_ID), ControlText(dialog_, IDC_KEY_SECRET)};
}

}  // namespace kestrune::ui
