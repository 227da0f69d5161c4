#include "ui/notify_icon.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cwchar>

namespace kestrune::ui {

bool NotifyIcon::Add(HWND owner, UINT callback_message, HICON icon, std::wstring_view tip) {
  Remove();
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = owner;
  data.uID = kIconId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = callback_message;
  data.hIcon = icon;
  const std::size_t room = sizeof(data.szTip) / sizeof(data.szTip[0]) - 1;
  const std::size_t length = std::min(tip.size(), room);
  std::wmemcpy(data.szTip, tip.data(), length);
  data.szTip[length] = L'\0';
  added_ = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
  owner_ = added_ ? owner : nullptr;
  return added_;
}

void NotifyIcon::Remove() {
  if (!added_) return;
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = owner_;
  data.uID = kIconId;
  Shell_NotifyIconW(NIM_DELETE, &data);
  added_ = false;
  owner_ = nullptr;
}

}  // namespace kestrune::ui
