// Puts text on the Windows clipboard as Unicode text (CF_UNICODETEXT), the
// format every other program can read whatever its code page.
//
// Dialog thread only (the clipboard is opened for the calling thread).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace kestrune::ui {

// Replaces the clipboard's content by `text`, whole. Returns false when the
// clipboard could not be opened or the memory could not be had; the clipboard
// is then left as it was, or empty if it had already been emptied.
bool SetClipboardText(HWND owner, std::wstring_view text);

// The clipboard's Unicode text, or nullopt when it holds none.
std::optional<std::wstring> ClipboardText(HWND owner);

}  // namespace kestrune::ui
