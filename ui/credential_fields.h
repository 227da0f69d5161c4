// The AccessKey fields of the main dialog (id 4004, secret 4003, captions 3022
// and 3023) and the credential file that keeps them across runs.
//
// The file is read once when the dialog starts. Dialog thread only.
#pragma once

#include <windows.h>

#include <string>

#include "core/status.h"
#include "request/credentials.h"

namespace kestrune::ui {

class CredentialFields {
 public:
  CredentialFields() = default;
  CredentialFields(HWND dialog, std::string file) : dialog_(dialog), file_(std::move(file)) {}

  // Fills the two fields from the file: the text before the first ":" is the
  // id, the rest the secret (a file without ":" holds an id alone). A missing,
  // unreadable, empty or over-long file leaves the fields as they are; all
  // but a missing one (the first run has none) fail with a message that says
  // why, and never holds the file's content.
  core::Status Load();
  // Shows in the empty id field, in grey, where Send takes the credentials
  // from: "from " and `source` (never the secret), or, before the first Send
  // that used it, that the credential chain will be asked.
  void ShowSource(const std::string& source);
  // The texts of the two fields.
  request::Credentials Current() const;

 private:
  HWND dialog_ = nullptr;
  std::string file_;
};

}  // namespace kestrune::ui
