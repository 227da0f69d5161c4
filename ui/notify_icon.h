// The program's icon in the notification area. Mouse events on it come back to
// the owning window as a private message whose second parameter is the mouse
// message (WM_RBUTTONDOWN, WM_LBUTTONDBLCLK, ...).
//
// Owned by the dialog; dialog thread only.
#pragma once

#include <windows.h>

#include <string_view>

namespace kestrune::ui {

class NotifyIcon {
 public:
  NotifyIcon() = default;
  ~NotifyIcon() { Remove(); }
  NotifyIcon(const NotifyIcon&) = delete;
  NotifyIcon& operator=(const NotifyIcon&) = delete;

  // Adds the icon; returns false when the shell refuses it (the program works
  // on without it).
  bool Add(HWND owner, UINT callback_message, HICON icon, std::wstring_view tip);
  // Removes the icon if it was added.
  void Remove();

  bool added() const { return added_; }

  // The icon's id among its owner's icons.
  static constexpr UINT kIconId = 1;

 private:
  HWND owner_ = nullptr;
  bool added_ = false;
};

}  // namespace kestrune::ui
