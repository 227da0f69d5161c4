#include "ui/window_placement.h"

#include <algorithm>

namespace kestrune::ui {
namespace {

constexpr wchar_t kValueName[] = L"Placement";

struct Kept {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
  DWORD maximized;
};

}  // namespace

bool SaveWindowPlacement(HWND window, const std::wstring& key) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof(placement);
  if (key.empty() || !GetWindowPlacement(window, &placement)) return false;
  const RECT& normal = placement.rcNormalPosition;
  const Kept kept{normal.left, normal.top, normal.right, normal.bottom,
                  placement.showCmd == SW_SHOWMAXIMIZED ? 1u : 0u};
  HKEY opened = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &opened, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LSTATUS written = RegSetValueExW(opened, kValueName, 0, REG_BINARY,
                                         reinterpret_cast<const BYTE*>(&kept), sizeof(kept));
  RegCloseKey(opened);
  return written == ERROR_SUCCESS;
}

bool RestoreWindowPlacement(HWND window, const std::wstring& key) {
  if (key.empty()) return false;
  Kept kept{};
  DWORD size = sizeof(kept);
  DWORD type = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), kValueName, RRF_RT_REG_BINARY, &type, &kept,
                   &size) != ERROR_SUCCESS ||
      size != sizeof(kept)) {
    return false;
  }
  const RECT rect{kept.left, kept.top, kept.right, kept.bottom};
  // A rectangle on no monitor (or an empty or inverted one) is not restored.
  if (rect.right <= rect.left || rect.bottom <= rect.top ||
      MonitorFromRect(&rect, MONITOR_DEFAULTTONULL) == nullptr) {
    return false;
  }
  WINDOWPLACEMENT placement{};
  placement.length = sizeof(placement);
  if (!GetWindowPlacement(window, &placement)) return false;
  placement.rcNormalPosition = rect;
  placement.showCmd = kept.maximized != 0 ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
  return SetWindowPlacement(window, &placement) != 0;
}

void FitWindowToMonitor(HWND window) {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  RECT rect{};
  if (!GetWindowRect(window, &rect) ||
      !GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) {
    return;
  }
  const RECT& work = monitor.rcWork;
  const LONG width = std::min(rect.right - rect.left, work.right - work.left);
  const LONG height = std::min(rect.bottom - rect.top, work.bottom - work.top);
  const LONG left = std::clamp(rect.left, work.left, work.right - width);
  const LONG top = std::clamp(rect.top, work.top, work.bottom - height);
  if (left == rect.left && top == rect.top && width == rect.right - rect.left &&
      height == rect.bottom - rect.top) {
    return;
  }
  SetWindowPos(window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace kestrune::ui
