// Windows side of the debug viewer seam: window lookup and edit-control
// messages to the viewer, through the wide-character API.
#include <windows.h>

#include <string>

#include "core/wide_text.h"
#include "report/trace_sink.h"

namespace kestrune::report {
namespace {

constexpr wchar_t kViewerClass[] = L"DbgWinClass";
constexpr wchar_t kEditClass[] = L"Edit";
// A viewer that was just started gets this long to show its window; the wait
// happens at most once per sink.
constexpr DWORD kStartWaitMs = 2000;

bool IsFile(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void StartViewer(const std::wstring& path) {
  std::wstring command_line = L"\"" + path + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return;
  }
  WaitForInputIdle(process.hProcess, kStartWaitMs);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

}  // namespace

void DebugViewerSink::Line(std::string_view line) {
  HWND viewer = FindWindowW(kViewerClass, nullptr);
  if (viewer == nullptr && !start_tried_) {
    start_tried_ = true;
    std::wstring path = core::ToWide(viewer_path_);
    if (IsFile(path)) {
      StartViewer(path);
      viewer = FindWindowW(kViewerClass, nullptr);
    }
  }
  if (viewer == nullptr) return;
  HWND edit = FindWindowExW(viewer, nullptr, kEditClass, nullptr);
  if (edit == nullptr) return;

  // The caret is put at the end: the user may have clicked into the text
  // since the last line, and a line inserted there would break another.
  LRESULT length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
  SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(length), length);
  if (length != 0) {
    SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"\r\n"));
  }
  std::wstring wide = core::ToWide(line);
  SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
  SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

}  // namespace kestrune::report
