// dialog_probe.exe: starts the real Kestrune.exe, waits for its dialog, and
// checks it from outside as a user's desktop would see it.
//
//   dialog_probe [--snapshot FILE.bmp] [--regions] PATH\Kestrune.exe
//
// Waits (bounded) for a visible top-level window of class "DLGCLASS" titled
// "Kestrune" owned by the started process; with --regions presses
// DescribeRegions and checks that the result list holds its 57 rows; with
// --snapshot writes the window's pixels as a 24-bit BMP; then closes the
// window with WM_CLOSE and checks that the program ends with exit code 0.
// Prints the time to the shown dialog and the program's working set. Exits 0
// when every check held.
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

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

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring snapshot;
  bool regions = false;
  const wchar_t* program = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--snapshot") == 0 && i + 1 < argc) {
      snapshot = WindowsPath(argv[++i]);
      regions = true;
    } else if (std::wcscmp(argv[i], L"--regions") == 0) {
      regions = true;
    } else {
      program = argv[i];
    }
  }
  if (program == nullptr) {
    std::fprintf(stderr, "usage: dialog_probe [--snapshot FILE.bmp] [--regions] Kestrune.exe\n");
    return 2;
  }

  std::wstring path = WindowsPath(program);
  std::wstring command_line = L"\"" + path + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  LARGE_INTEGER frequency{}, start{}, shown{};
  QueryPerformanceFrequency(&frequency);
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
  int failures = 0;
  if (search.found == nullptr) {
    std::fprintf(stderr, "FAIL: no visible window titled \"Kestrune\" within %lu ms\n",
                 kShowTimeoutMs);
    TerminateProcess(process.hProcess, 99);
    return 1;
  }
  HWND dialog = search.found;
  std::printf("dialog shown after %.1f ms\n",
              1000.0 * static_cast<double>(shown.QuadPart - start.QuadPart) /
                  static_cast<double>(frequency.QuadPart));

  if (regions) {
    HWND button = GetDlgItem(dialog, kDescribeRegionsButton);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kDescribeRegionsButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    Settle(dialog);
    LRESULT rows = SendMessageW(GetDlgItem(dialog, kResultList), LVM_GETITEMCOUNT, 0, 0);
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
