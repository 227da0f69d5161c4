#include "ui/credential_fields.h"

#include "core/wide_text.h"
#include "ui/control_text.h"
#include "ui/resource_ids.h"

namespace kestrune::ui {

core::Status CredentialFields::Load() {
  if (GetFileAttributesW(core::ToWide(file_).c_str()) == INVALID_FILE_ATTRIBUTES &&
      GetLastError() == ERROR_FILE_NOT_FOUND) {
    return core::Status::Ok();
  }
  core::Result<request::Credentials> loaded = request::LoadCredentials(file_);
  if (!loaded.ok()) {
    return core::Status::Error("credential file \"" + file_ +
                               "\" not loaded: " + loaded.status().message());
  }
  SetControlText(dialog_, IDC_KEY_ID, loaded->access_key_id);
  SetControlText(dialog_, IDC_KEY_SECRET, loaded->access_key_secret);
  return core::Status::Ok();
}

request::Credentials CredentialFields::Current() const {
  return {ControlText(dialog_, IDC_KEY_ID), ControlText(dialog_, IDC_KEY_SECRET)};
}

}  // namespace kestrune::ui
