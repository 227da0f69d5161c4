// DbgView.exe: the debug viewer. A resizable window of class "DbgWinClass"
// whose client area is one read-only multi-line "Edit" control; trace lines
// arrive from other programs as edit-control messages, and always land at the
// end, wherever the user left the caret.
#include <windows.h>

namespace {

constexpr wchar_t kViewerClass[] = L"DbgWinClass";
constexpr int kEditId = 1;
// Room for a long session of trace lines (the edit control's own default is
// 32K characters).
constexpr WPARAM kTextLimit = 16 * 1024 * 1024;

// The text is read-only for the user, so every replacement of the selection
// is a trace line from outside: it goes after the last line, not wherever the
// user's click or selection left the caret.
// The edit control's own procedure is kept in its user data.
LRESULT CALLBACK AppendingEditProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam) {
  const auto edit_procedure = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(edit, GWLP_USERDATA));
  if (message == EM_REPLACESEL) {
    const LRESULT length = CallWindowProcW(edit_procedure, edit, WM_GETTEXTLENGTH, 0, 0);
    CallWindowProcW(edit_procedure, edit, EM_SETSEL, static_cast<WPARAM>(length), length);
  }
  return CallWindowProcW(edit_procedure, edit, message, wparam, lparam);
}

LRESULT CALLBACK ViewerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE: {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
      HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", L"",
                                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                      ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_READONLY,
                                  0, 0, 0, 0, window,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)),
                                  create->hInstance, nullptr);
      if (edit == nullptr) return -1;
      SetWindowLongPtrW(edit, GWLP_USERDATA, GetWindowLongPtrW(edit, GWLP_WNDPROC));
      SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AppendingEditProc));
      SendMessageW(edit, EM_SETLIMITTEXT, kTextLimit, 0);
      SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)),
                   FALSE);
      return 0;
    }
    case WM_SIZE:
      MoveWindow(GetDlgItem(window, kEditId), 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
      return 0;
    case WM_SETFOCUS:
      SetFocus(GetDlgItem(window, kEditId));
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = ViewerProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = kViewerClass;
  if (RegisterClassExW(&window_class) == 0) return 1;

  HWND window =
      CreateWindowExW(0, kViewerClass, L"Kestrune trace", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                      CW_USEDEFAULT, 640, 480, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  ShowWindow(window, show);

  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
