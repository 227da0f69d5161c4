// The main dialog of Kestrune.exe: the window class "DLGCLASS", the dialog
// created from the template "MyDialog", its window procedure, the About box
// and the message loop. Kestrune.exe and the dialog tests create the dialog
// through the same functions.
//
// Everything here runs on the one GUI thread; nothing is thread-safe.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "report/trace_sink.h"
#include "ui/credential_store.h"

namespace kestrune::ui {

// The private message the notification-area icon sends with a mouse message
// as its second parameter.
inline constexpr UINT kNotifyIconMessage = WM_USER + 5;

struct MainDialogOptions {
  // Where trace lines go; nullptr means the external debug viewer. Must outlive
  // the dialog.
  report::TraceSink* trace = nullptr;
  // The credential file (UTF-8 path), relative to the working directory.
  std::string credential_file = "sign";
  // Whether to put an icon into the notification area.
  bool notify_icon = true;
  // Where the window's size and place are kept between runs, under
  // HKEY_CURRENT_USER; empty: not kept.
  std::wstring placement_key = L"Software\\Kestrune";
  // The credential-store target "Remember keys" keeps the pair under.
  std::wstring credential_target = kDefaultCredentialTarget;
  // Asks where to save the result list; `extension` is "csv" or "json".
  // Returns the chosen path, or nullopt when the user cancels. Unset: the
  // common Save As dialog.
  std::function<std::optional<std::wstring>(HWND owner, const std::wstring& extension)>
      choose_save_path;
};

// Registers the window class "DLGCLASS" (the dialog's class) once per process;
// returns false when the class cannot be registered.
bool RegisterMainDialogClass(HINSTANCE instance);

// Registers the class if needed and creates the main dialog, shown. The
// dialog owns its state and frees it when it is destroyed; destroying it posts
// the quit message with exit code 0. Returns nullptr on failure.
HWND CreateMainDialog(HINSTANCE instance, const MainDialogOptions& options = {});

// Runs the thread's message loop, offering every message to the dialog's
// keyboard handling first, until the quit message arrives; returns its code.
int RunMessageLoop(HWND dialog);

LRESULT CALLBACK MainWindowProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK AboutProc(HWND about, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace kestrune::ui
