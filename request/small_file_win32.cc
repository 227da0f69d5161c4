#include <windows.h>

#include <aclapi.h>
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

// The SID of the user this process runs as, in a buffer of its own (a
// TOKEN_USER whose Sid points into it); empty when the system cannot tell.
std::vector<unsigned char> CurrentUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  Handle token_handle(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return {};
  return buffer;
}

PSID UserSid(std::vector<unsigned char>& user) {
  return reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
}

// A security descriptor whose access list grants the current user alone
// full control, inheriting nothing from the directory; null when it cannot
// be made.
OwnerOnly OwnerOnlyDescriptor() {
  std::vector<unsigned char> user = CurrentUser();
  if (user.empty()) return nullptr;
  LPWSTR sid_text = nullptr;
  if (!ConvertSidToStringSidW(UserSid(user), &sid_text)) return nullptr;
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

// Whether `sid` may write a credential file without making it untrusted:
// the user, the file's owner, the system itself and the administrators,
// who could take any file anyway.
bool TrustedWriter(PSID sid, PSID user, PSID owner) {
  return EqualSid(sid, user) || (owner != nullptr && EqualSid(sid, owner)) ||
         IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

// Who a SID is, for a message: the groups the question is usually about by
// name, any other as its S-1-... form.
std::string NameOf(PSID sid) {
  if (IsWellKnownSid(sid, WinWorldSid)) return "Everyone";
  if (IsWellKnownSid(sid, WinAuthenticatedUserSid)) return "Authenticated Users";
  if (IsWellKnownSid(sid, WinBuiltinUsersSid)) return "Users";
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return "another account";
  const OwnerOnly text_owner(text);
  return core::FromWide(text);
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
  // Without it the file would take the folder's permissions, which may let
  // others read the secret: better not written at all.
  if (!descriptor) return FileError("cannot make an owner-only file for", path);
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
    created = CreateFileW(wide_temporary.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
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

core::Status CheckOwnFile(const std::string& path) {
  // Opened as the read would open it, through a link to its target.
  Handle file(CreateFileW(core::ToWide(path).c_str(), READ_CONTROL,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return FileError("cannot read", path);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD got = GetSecurityInfo(file.get(), SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                    nullptr, &dacl, nullptr, &descriptor);
  if (got != ERROR_SUCCESS) {
    SetLastError(got);
    return FileError("cannot read the permissions of", path);
  }
  const OwnerOnly descriptor_owner(descriptor);
  std::vector<unsigned char> user = CurrentUser();
  if (user.empty()) return FileError("cannot tell the user running this program for", path);
  const auto refuse = [&](const std::string& why) {
    std::string message = "refusing the credential file \"";
    message += path;
    message += "\": ";
    message += why;
    return core::Status::InvalidInput(std::move(message));
  };
  BOOL member = FALSE;
  const bool own = owner != nullptr && (EqualSid(owner, UserSid(user)) ||
                                        (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) &&
                                         CheckTokenMembership(nullptr, owner, &member) && member));
  if (!own) return refuse("it belongs to " + (owner ? NameOf(owner) : "no one") + ", not you");
  if (dacl == nullptr) return refuse("it has no access list, so everyone may write it");
  // Deny entries are not weighed against the grants: a file whose grants
  // alone let others write is refused, whatever else its list says.
  constexpr ACCESS_MASK kWrites =
      FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) return FileError("cannot read the permissions of", path);
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
      continue;
    }
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    PSID grantee = &allowed->SidStart;
    if ((allowed->Mask & kWrites) != 0 && !TrustedWriter(grantee, UserSid(user), owner)) {
      return refuse(NameOf(grantee) +
                    " may write it (icacls FILE /inheritance:r /grant:r %USERNAME%:F)");
    }
  }
  return core::Status::Ok();
}

core::Status CreatePrivateDirectory(const std::string& path) {
  const OwnerOnly descriptor = OwnerOnlyDescriptor();
  if (!descriptor) return FileError("cannot make an owner-only folder", path);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  const std::wstring wide = core::ToWide(path);
  if (CreateDirectoryW(wide.c_str(), &attributes)) return core::Status::Ok();
  if (GetLastError() != ERROR_ALREADY_EXISTS) return FileError("cannot create the folder", path);
  const DWORD found = GetFileAttributesW(wide.c_str());
  if (found == INVALID_FILE_ATTRIBUTES || (found & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return core::Status::Error("\"" + path + "\" is there but is not a folder");
  }
  return core::Status::Ok();
}

}  // namespace kestrune::request
