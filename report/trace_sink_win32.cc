// Windows side of the debug viewer seam: window lookup and edit-control
// messages to the viewer, through the wide-character API, each bounded by a
// time-out so that a hung or busy viewer costs the sink's thread, never the
// program.
#include <windows.h>

#include <string>

#include "core/wide_text.h"
#include "report/viewer_window.h"

namespace kestrune::report {
namespace {

constexpr wchar_t kViewerClass[] = L"DbgWinClass";
constexpr wchar_t kEditClass[] = L"Edit";
constexpr UINT kSendTimeoutMs = 5000;

bool SendBounded(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* result) {
  return SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             result) != 0;
}

}  // namespace

ViewerHandOver HandToViewer(std::string_view text) {
  HWND viewer = FindWindowW(kViewerClass, nullptr);
  HWND edit = viewer != nullptr ? FindWindowExW(viewer, nullptr, kEditClass, nullptr) : nullptr;
  if (edit == nullptr) return ViewerHandOver::kNoViewer;

  // The caret is put at the end: the user may have clicked into the text
  // since the last lines, and lines inserted there would break another.
  DWORD_PTR length = 0;
  if (!SendBounded(edit, WM_GETTEXTLENGTH, 0, 0, &length)) return ViewerHandOver::kTooSlow;
  DWORD_PTR ignored = 0;
  if (!SendBounded(edit, EM_SETSEL, length, static_cast<LPARAM>(length), &ignored)) {
    return ViewerHandOver::kTooSlow;
  }
  std::wstring wide;
  if (length != 0) wide = L"\r\n";
  wide += core::ToWide(text);
  if (!SendBounded(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()), &ignored)) {
    return ViewerHandOver::kTooSlow;
  }
  SendBounded(edit, EM_SCROLLCARET, 0, 0, &ignored);
  return ViewerHandOver::kTaken;
}

void HandleSentMessages() {
  MSG message{};
  // Peeking delivers the messages sent from other threads; posted ones stay.
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

}  // namespace kestrune::report
