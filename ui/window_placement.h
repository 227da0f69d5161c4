// Where the main window stood when it was last closed: its restored
// rectangle and whether it was maximised, kept small in the current user's
// registry (one binary value under the key given).
//
// Dialog thread only.
#pragma once

#include <windows.h>

#include <string>

namespace kestrune::ui {

// Keeps the window's place under HKEY_CURRENT_USER\`key`; false when it
// could not be written.
bool SaveWindowPlacement(HWND window, const std::wstring& key);

// Puts the window where it was kept, but only when that rectangle still lies
// on a monitor (one may have been removed since); false when nothing was kept
// or it was left as it is.
bool RestoreWindowPlacement(HWND window, const std::wstring& key);

// Shrinks the window to the work area of its monitor where it is larger (a
// small or scaled screen) and moves it wholly into that area.
void FitWindowToMonitor(HWND window);

}  // namespace kestrune::ui
