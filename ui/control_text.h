// Texts of dialog controls as UTF-8, converted at the wide-character boundary.
//
// Dialog thread only.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kestrune::ui {

// The whole text of a dialog control as UTF-8 (no length cap); empty for an
// absent control.
std::string ControlText(HWND dialog, int id);
// Sets the text of a dialog control from UTF-8; nothing for an absent control.
void SetControlText(HWND dialog, int id, std::string_view utf8);

}  // namespace kestrune::ui
