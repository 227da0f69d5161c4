#include <windows.h>

#include <bcrypt.h>
#include <sddl.h>

#include <memory>
#include <utility>
#include <vector>

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
  // Only a file on disk: a named pipe would block the read and a device
  // such as NUL or CON is no file to trust.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) {
    return core::Status::Error("\"" + path + "\" is not a regular file; refusing to read it");
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info)) return FileError("cannot read", path);
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return core::Status::Error("\"" + path +
                               "\" is a directory, not a regular file; refusing "
                               "to read it");
  }
  const auto too_long = [&] {
    return core::Status::Error("\"" + path + "\" is longer than " + std::to_string(limit) +
                               " bytes; refusing it rather than reading part of it");
  };
  if (info.nFileSizeHigh != 0 || info.nFileSizeLow > limit) return too_long();
  std::string content;
  char buffer[4096];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) {
      return FileError("cannot read", path);
    }
    if (n == 0) break;
    content.append(buffer, n);
    // The file may grow while it is read.
    if (content.size() > limit) return too_long();
  }
  return std::optional<std::string>(std::move(content));
}

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
using OwnerOnly = std::unique_ptr<void, LocalFreer>;

// A security descriptor whose access list grants the current user alone
// full control, inheriting nothing from the directory; null when it cannot
// be made (then the file gets the directory's inherited permissions, as it
// always did before).
OwnerOnly OwnerOnlyDescriptor() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  Handle token_handle(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    return nullptr;
  }
  LPWSTR sid_text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid_text)) {
    return nullptr;
  }
  const OwnerOnly sid_owner(sid_text);
  // P: protected, no inherited entries; one entry: the user, full access.
  const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid_text) + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return nullptr;
  }
  return OwnerOnly(descriptor);
}

// Sixteen hex digits from the system's random source; empty when it fails.
std::string RandomSuffix() {
  unsigned char bytes[8];
  if (!BCRYPT_SUCCESS(
          BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return {};
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char byte : bytes) {
    text += kHex[byte >> 4];
    text += kHex[byte & 0xF];
  }
  return text;
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
  // A new file (CREATE_NEW: never one already there) under a name no one can
  // guess, owner-only from its creation.
  const OwnerOnly descriptor = OwnerOnlyDescriptor();
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  std::string temporary;
  std::wstring wide_temporary;
  HANDLE created = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string suffix = RandomSuffix();
    if (suffix.empty()) {
      return core::Status::Error("cannot create a temporary file beside \"" + path +
                                 "\": no random name");
    }
    temporary = path + ".tmp-" + suffix;
    wide_temporary = core::ToWide(temporary);
    created =
        CreateFileW(wide_temporary.c_str(), GENERIC_WRITE, 0, descriptor ? &attributes : nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) break;
  }
  Handle file(created);
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

core::Status CheckOwnFile(const std::string& /*path*/) { return core::Status::Ok(); }

}  // namespace kestrune::request
