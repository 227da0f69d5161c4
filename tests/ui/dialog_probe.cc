// dialog_probe.exe: starts the real Kestrune.exe, waits for its dialog, and
// checks it from outside as a user's desktop would see it.
//
//   dialog_probe [--snapshot FILE.bmp] [--regions | --instances [--page-size N]]
//                [--cancel] PATH\Kestrune.exe
//
// Waits (bounded) for a visible top-level window of class "DLGCLASS" titled
// "Kestrune" owned by the started process, then for its first paint (no part
// of it left to paint); with --regions presses DescribeRegions and checks that
// the result list holds its 57 rows; with --instances fills in and sends
// DescribeInstances (to the KESTRUNE_ENDPOINT the program inherits, with the
// simulator's demo key; PageSize 10 unless --page-size says otherwise), waits
// for its rows and prints the time from Send to the rows; with --cancel points the
// program at a listener of its own that never answers, sends, presses Cancel
// and measures the time until the window is idle again; with --snapshot writes
// the window's pixels as a 24-bit BMP; then closes the window with WM_CLOSE
// and checks that the program ends with exit code 0. Prints the times to the
// shown and to the painted dialog and the program's working set. Exits 0 when
// every check held.
#include <windows.h>
#include <winsock2.h>

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kShowTimeoutMs = 60000;
constexpr DWORD kExitTimeoutMs = 20000;
constexpr int kDescribeRegionsButton = 4017;
constexpr int kResultList = 3004;
constexpr LRESULT kDescribeRegionsRows = 57;
constexpr int kServiceSelector = 3001;
constexpr int kCategorySelector = 3002;
constexpr int kActionSelector = 3003;
constexpr int kFirstField = 3005;
constexpr int kFirstFreeName = 3050;
constexpr int kFirstFreeValue = 3060;
constexpr int kKeyIdField = 4004;
constexpr int kKeySecretField = 4003;
constexpr int kSendButton = 4030;

struct Search {
  DWORD process_id;
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM lparam) {
  auto* search = reinterpret_cast<Search*>(lparam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->process_id || !IsWindowVisible(window)) return TRUE;
  wchar_t class_name[64] = {};
  wchar_t title[64] = {};
  GetClassNameW(window, class_name, 64);
  GetWindowTextW(window, title, 64);
  if (std::wcscmp(class_name, L"DLGCLASS") == 0 && std::wcscmp(title, L"Kestrune") == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// A path given in the host's form (/tmp/x/Kestrune.exe) is reached through
// Wine's drive for the host's root.
std::wstring WindowsPath(const wchar_t* path) {
  std::wstring result = path;
  if (!result.empty() && result[0] == L'/') result = L"Z:" + result;
  for (wchar_t& c : result) {
    if (c == L'/') c = L'\\';
  }
  return result;
}

bool WriteBmp(const std::wstring& file, HWND window) {
  RECT rect{};
  if (!GetWindowRect(window, &rect)) return false;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, previous);

  BITMAPINFOHEADER info{};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = height;  // bottom-up rows, as a BMP file stores them
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const int stride = (width * 3 + 3) & ~3;
  std::vector<unsigned char> pixels(static_cast<std::size_t>(stride) * height);
  int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                       reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (rows != height) return false;

  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof(header) + sizeof(info);
  header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* out = _wfopen(file.c_str(), L"wb");
  if (out == nullptr) return false;
  bool ok = std::fwrite(&header, sizeof(header), 1, out) == 1 &&
            std::fwrite(&info, sizeof(info), 1, out) == 1 &&
            std::fwrite(pixels.data(), 1, pixels.size(), out) == pixels.size();
  return std::fclose(out) == 0 && ok;
}

// Waits until the dialog's thread has handled everything posted before.
void Settle(HWND window) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return now;
}

// Polls `condition` every few milliseconds for at most `limit_ms`.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD limit_ms) {
  const ULONGLONG deadline = GetTickCount64() + limit_ms;
  while (!condition()) {
    if (GetTickCount64() > deadline) return false;
    Sleep(2);
  }
  return true;
}

std::wstring ControlText(HWND dialog, int id) {
  wchar_t text[256] = {};
  GetDlgItemTextW(dialog, id, text, 256);
  return text;
}

// Chooses the entry `text` of a selector as a user does: the selection
// changes and the dialog is told.
bool Choose(HWND dialog, int id, const wchar_t* text) {
  HWND selector = GetDlgItem(dialog, id);
  LRESULT position = SendMessageW(selector, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                  reinterpret_cast<LPARAM>(text));
  if (position == CB_ERR) return false;
  SendMessageW(selector, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(selector));
  return true;
}

void PressSend(HWND dialog) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kSendButton, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, kSendButton)));
}

bool Busy(HWND dialog) { return ControlText(dialog, kSendButton) == L"Cancel"; }

// A loopback listener that takes connections and never answers.
struct SilentListener {
  SOCKET socket = INVALID_SOCKET;
  unsigned short port = 0;
  SilentListener() {
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(socket, 4);
    int length = sizeof(address);
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ~SilentListener() {
    closesocket(socket);
    WSACleanup();
  }
  // Whether a connection waits within `limit_ms`.
  bool Connected(long limit_ms) const {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval wait{limit_ms / 1000, (limit_ms % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, &wait) > 0;
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring snapshot;
  bool regions = false;
  bool instances = false;
  bool cancel = false;
  const wchar_t* page_size = L"10";
  const wchar_t* program = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--snapshot") == 0 && i + 1 < argc) {
      snapshot = WindowsPath(argv[++i]);
    } else if (std::wcscmp(argv[i], L"--regions") == 0) {
      regions = true;
    } else if (std::wcscmp(argv[i], L"--instances") == 0) {
      instances = true;
    } else if (std::wcscmp(argv[i], L"--page-size") == 0 && i + 1 < argc) {
      page_size = argv[++i];
    } else if (std::wcscmp(argv[i], L"--cancel") == 0) {
      cancel = true;
    } else {
      program = argv[i];
    }
  }
  if (program == nullptr) {
    std::fprintf(
        stderr,
        "usage: dialog_probe [--snapshot FILE.bmp] [--regions | --instances [--page-size N]] "
        "[--cancel] Kestrune.exe\n");
    return 2;
  }
  if (!snapshot.empty() && !instances) regions = true;
  SilentListener silent;
  if (cancel) {
    const std::wstring endpoint = L"127.0.0.1:" + std::to_wstring(silent.port);
    SetEnvironmentVariableW(L"KESTRUNE_ENDPOINT", endpoint.c_str());
    // With its key fields empty, the dialog signs with the credentials the
    // environment gives; without any it would send nothing.
    SetEnvironmentVariableW(L"ALIBABA_CLOUD_ACCESS_KEY_ID", L"probe-id");
    SetEnvironmentVariableW(L"ALIBABA_CLOUD_ACCESS_KEY_SECRET", L"probe-secret");
  }

  std::wstring path = WindowsPath(program);
  std::wstring command_line = L"\"" + path + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  LARGE_INTEGER start{}, shown{};
  int failures = 0;
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    std::fprintf(stderr, "cannot start %ls (error %lu)\n", path.c_str(), GetLastError());
    return 1;
  }

  Search search{process.dwProcessId, nullptr};
  const ULONGLONG deadline = GetTickCount64() + kShowTimeoutMs;
  while (search.found == nullptr && GetTickCount64() < deadline) {
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) Sleep(5);
  }
  QueryPerformanceCounter(&shown);
  if (search.found == nullptr) {
    std::fprintf(stderr, "FAIL: no visible window titled \"Kestrune\" within %lu ms\n",
                 kShowTimeoutMs);
    TerminateProcess(process.hProcess, 99);
    return 1;
  }
  HWND dialog = search.found;
  std::printf("dialog shown after %.1f ms\n", Milliseconds(start, shown));
  // Painted: nothing of the dialog is left to paint.
  if (WaitUntil([&] { return !GetUpdateRect(dialog, nullptr, FALSE); }, kShowTimeoutMs)) {
    std::printf("first paint after %.1f ms\n", Milliseconds(start, Now()));
  } else {
    std::fprintf(stderr, "FAIL: the dialog was not painted within %lu ms\n", kShowTimeoutMs);
    ++failures;
  }

  if (cancel) {
    Choose(dialog, kServiceSelector, L"ECS");
    Choose(dialog, kCategorySelector, L"\u5730\u57df");  // 地域
    Choose(dialog, kActionSelector, L"DescribeRegions");
    PressSend(dialog);
    if (!Busy(dialog) || !silent.Connected(20000)) {
      std::fprintf(stderr, "FAIL: the request did not reach the listener\n");
      ++failures;
    } else {
      const LARGE_INTEGER pressed = Now();
      PressSend(dialog);  // Cancel
      Settle(dialog);
      const bool idle = !Busy(dialog);
      std::printf("cancel to idle window %.2f ms\n", Milliseconds(pressed, Now()));
      if (!idle) {
        std::fprintf(stderr, "FAIL: Send did not come back after Cancel\n");
        ++failures;
      }
    }
  }

  if (instances) {
    SetDlgItemTextW(dialog, kKeyIdField, L"kestrune-demo-id");
    SetDlgItemTextW(dialog, kKeySecretField, L"kestrune-demo-secret");
    const bool chosen = Choose(dialog, kServiceSelector, L"ECS") &&
                        Choose(dialog, kCategorySelector, L"\u5b9e\u4f8b") &&  // 实例
                        Choose(dialog, kActionSelector, L"DescribeInstances");
    SetDlgItemTextW(dialog, kFirstField, L"cn-shanghai");
    SetDlgItemTextW(dialog, kFirstFreeName, L"PageSize");
    SetDlgItemTextW(dialog, kFirstFreeValue, page_size);
    const LARGE_INTEGER sent = Now();
    PressSend(dialog);
    // Each look at the Send button is a message the window answers: the
    // longest wait for one is the longest the window did not answer.
    double longest = 0;
    const bool answered = chosen && WaitUntil(
                                        [&] {
                                          const LARGE_INTEGER asked = Now();
                                          const bool busy = Busy(dialog);
                                          longest = std::max(longest, Milliseconds(asked, Now()));
                                          return !busy;
                                        },
                                        60000);
    LRESULT rows = SendMessageW(GetDlgItem(dialog, kResultList), LVM_GETITEMCOUNT, 0, 0);
    std::printf("longest wait for the window to answer: %.1f ms\n", longest);
    RedrawWindow(GetDlgItem(dialog, kResultList), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    std::printf(
        "DescribeInstances: %ld rows shown and painted %.1f ms after Send, report \"%ls\"\n",
        static_cast<long>(rows), Milliseconds(sent, Now()), ControlText(dialog, 4011).c_str());
    if (!answered || rows == 0) {
      std::fprintf(stderr, "FAIL: DescribeInstances showed no rows\n");
      ++failures;
    }
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Settle(dialog);
    WaitUntil([&] { return !GetUpdateRect(dialog, nullptr, FALSE); }, 5000);
  }

  if (regions) {
    HWND button = GetDlgItem(dialog, kDescribeRegionsButton);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kDescribeRegionsButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    Settle(dialog);
    // On a loaded machine the list may fill after the queue first goes quiet.
    LRESULT rows = 0;
    WaitUntil(
        [&] {
          rows = SendMessageW(GetDlgItem(dialog, kResultList), LVM_GETITEMCOUNT, 0, 0);
          return rows == kDescribeRegionsRows;
        },
        5000);
    if (rows != kDescribeRegionsRows) {
      std::fprintf(stderr, "FAIL: DescribeRegions shows %ld rows, expected %ld\n",
                   static_cast<long>(rows), static_cast<long>(kDescribeRegionsRows));
      ++failures;
    }
    // Let the list paint before its pixels are read or its memory measured:
    // until no part of it waits to be painted, within a bound.
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    const HWND list = GetDlgItem(dialog, kResultList);
    const ULONGLONG painted_by = GetTickCount64() + kShowTimeoutMs;
    do {
      Settle(dialog);
    } while (GetUpdateRect(list, nullptr, FALSE) && GetTickCount64() < painted_by);
  }

  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof(memory);
  if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof(memory))) {
    std::printf("working set %llu KiB (peak %llu KiB)%s\n",
                static_cast<unsigned long long>(memory.WorkingSetSize / 1024),
                static_cast<unsigned long long>(memory.PeakWorkingSetSize / 1024),
                regions ? " after DescribeRegions" : "");
  }

  if (!snapshot.empty()) {
    if (WriteBmp(snapshot, dialog)) {
      std::printf("snapshot written to %ls\n", snapshot.c_str());
    } else {
      std::fprintf(stderr, "FAIL: snapshot not written\n");
      ++failures;
    }
  }

  PostMessageW(dialog, WM_CLOSE, 0, 0);
  DWORD exit_code = 259;
  if (WaitForSingleObject(process.hProcess, kExitTimeoutMs) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "FAIL: Kestrune.exe still runs %lu ms after WM_CLOSE\n", kExitTimeoutMs);
    TerminateProcess(process.hProcess, 99);
    ++failures;
  } else {
    GetExitCodeProcess(process.hProcess, &exit_code);
    std::printf("Kestrune.exe ended with exit code %lu\n", exit_code);
    if (exit_code != 0) ++failures;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return failures == 0 ? 0 : 1;
}
