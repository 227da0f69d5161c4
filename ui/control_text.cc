#include "ui/control_text.h"

#include <algorithm>

#include "core/wide_text.h"

namespace kestrune::ui {

std::string ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return {};
  int length = GetWindowTextLengthW(control);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  int copied = GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(copied, 0)));
  return core::FromWide(text);
}

void SetControlText(HWND dialog, int id, std::string_view utf8) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return;
  SetWindowTextW(control, core::ToWide(utf8).c_str());
}

}  // namespace kestrune::ui
