#include <windows.h>

#include <utility>

#include "core/os_error.h"
#include "core/wide_text.h"
#include "request/small_file.h"

namespace kestrune::request {

namespace {

// What failed on which file, and the system's reason.
core::Status FileError(std::string_view what, const std::string& path) {
  const DWORD error = GetLastError();
  return core::OsError(std::string(what) + " \"" + path + "\"", error);
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool Close() {
    bool ok = CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
};

// nullopt for a missing file when `missing_ok`.
core::Result<std::optional<std::string>> Read(const std::string& path, std::size_t limit,
                                              bool missing_ok) {
  Handle file(CreateFileW(core::ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (missing_ok && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
      return std::optional<std::string>();
    }
    SetLastError(error);
    return FileError("cannot open", path);
  }
  std::string content;
  char buffer[512];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) {
      return FileError("cannot read", path);
    }
    if (n == 0) break;
    content.append(buffer, n);
    if (content.size() > limit) {
      return core::Status::Error("\"" + path + "\" is longer than " + std::to_string(limit) +
                                 " bytes; refusing it rather than reading part of it");
    }
  }
  return std::optional<std::string>(std::move(content));
}

}  // namespace

core::Result<std::string> ReadSmallFile(const std::string& path, std::size_t limit) {
  core::Result<std::optional<std::string>> read = Read(path, limit, false);
  if (!read.ok()) return read.status();
  return std::move(*read.value());
}

core::Result<std::optional<std::string>> ReadSmallFileIfPresent(const std::string& path,
                                                                std::size_t limit) {
  return Read(path, limit, true);
}

core::Status WriteFileAtomically(const std::string& path, std::string_view content) {
  const std::string temporary = path + ".tmp-" + std::to_string(GetCurrentProcessId());
  const std::wstring wide_temporary = core::ToWide(temporary);
  Handle file(CreateFileW(wide_temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return FileError("cannot create", temporary);
  DWORD written = 0;
  bool ok = WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                      nullptr) &&
            written == content.size() && FlushFileBuffers(file.get());
  if (!file.Close() || !ok) {
    core::Status error = FileError("cannot write", temporary);
    DeleteFileW(wide_temporary.c_str());
    return error;
  }
  if (!MoveFileExW(wide_temporary.c_str(), core::ToWide(path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    core::Status error = FileError("cannot replace", path);
    DeleteFileW(wide_temporary.c_str());
    return error;
  }
  return core::Status::Ok();
}

}  // namespace kestrune::request
