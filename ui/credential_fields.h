// The AccessKey fields of the main dialog (id 4004, secret 4003, captions 3022
// and 3023) and the credential file that keeps them across runs.
//
// The file is read once when the dialog starts and written on each
// right-click of the result list, which also shows or hides the four
// controls. Dialog thread only.
#pragma once

#include <windows.h>

#include <string>

#include "request/credentials.h"

namespace kestrune::ui {

class CredentialFields {
 public:
  CredentialFields() = default;
  CredentialFields(HWND dialog, std::string file) : dialog_(dialog), file_(std::move(file)) {}

  // Fills the two fields from the file. A missing, unreadable or empty file,
  // or one without ":", leaves the fields as they are.
  void Load();
  // Writes the two fields to the file (replacing it whole, never partly).
  // Returns false when the file could not be written; the fields keep their texts.
  bool Save();
  // Hides the four controls when they are shown, shows them otherwise.
  void ToggleVisibility();

  bool visible() const { return visible_; }
  // The texts of the two fields.
  request::Credentials Current() const;

 private:
  HWND dialog_ = nullptr;
  std::string file_;
  bool visible_ = true;
};

}  // namespace kestrune::ui
