#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "core/spool.h"

namespace kestrune::core {

// The C runtime's tmpfile writes to the root of the current drive, which a
// user may not; the user's temporary directory is used instead, the file
// opened for this process only and deleted when it is closed.
std::FILE* OpenSpoolFile() {
  wchar_t directory[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, directory);
  if (length == 0 || length > MAX_PATH) return nullptr;
  if (GetTempFileNameW(directory, L"kst", 0, name) == 0) return nullptr;
  HANDLE handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DeleteFileW(name);
    return nullptr;
  }
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
  if (descriptor == -1) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(descriptor, "w+b");
  if (file == nullptr) _close(descriptor);
  return file;
}

}  // namespace kestrune::core
