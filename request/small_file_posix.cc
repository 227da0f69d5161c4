#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <random>
#include <utility>

#include "core/os_error.h"
#include "request/small_file.h"

namespace kestrune::request {

namespace {

// What failed on which file, and the system's reason.
core::Status FileError(std::string_view what, const std::string& path) {
  const int error = errno;
  return core::OsError(std::string(what) + " \"" + path + "\"", error);
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// What a file that is not a regular one is, for the refusal's message.
std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a pipe (FIFO)";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

core::Status TooLong(const std::string& path, std::size_t limit) {
  return core::Status::Error("\"" + path + "\" is longer than " + std::to_string(limit) +
                             " bytes; refusing it rather than reading part of it");
}

// Opens `path` for reading as a regular file, or fails naming it. Opened
// without blocking, so that a FIFO is refused at once rather than waiting
// for a writer; a directory, a device such as /dev/zero (which never ends)
// and a file already longer than `limit` are refused before a byte is read.
// -1 with `missing` set for a file that does not exist.
core::Result<int> OpenRegular(const std::string& path, std::size_t limit, bool& missing) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) {
    missing = errno == ENOENT || errno == ENOTDIR;
    return FileError("cannot open", path);
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return FileError("cannot read", path);
  if (!S_ISREG(info.st_mode)) {
    return core::Status::Error("\"" + path + "\" is " + KindOf(info.st_mode) +
                               ", not a regular file; refusing to read it");
  }
  if (static_cast<std::uintmax_t>(info.st_size) > limit) return TooLong(path, limit);
  return fd.release();
}

// nullopt for a missing file when `missing_ok`.
core::Result<std::optional<std::string>> Read(const std::string& path, std::size_t limit,
                                              bool missing_ok) {
  bool missing = false;
  core::Result<int> opened = OpenRegular(path, limit, missing);
  if (!opened.ok()) {
    if (missing_ok && missing) return std::optional<std::string>();
    return opened.status();
  }
  Fd fd(*opened);
  std::string content;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FileError("cannot read", path);
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
    // The file may grow while it is read.
    if (content.size() > limit) return TooLong(path, limit);
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

core::Status CheckOwnFile(const std::string& path) {
  struct stat info {};
  // stat, not lstat: a link's target is what would be read.
  if (::stat(path.c_str(), &info) != 0) return FileError("cannot read", path);
  if (info.st_uid != ::geteuid()) {
    return core::Status::InvalidInput("refusing the credential file \"" + path +
                                      "\": it belongs to another user");
  }
  if ((info.st_mode & S_IWOTH) != 0) {
    return core::Status::InvalidInput("refusing the credential file \"" + path +
                                      "\": every user may write it (chmod o-w)");
  }
  return core::Status::Ok();
}

core::Status CreatePrivateDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return core::Status::Ok();
  if (errno != EEXIST) return FileError("cannot create the folder", path);
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return FileError("cannot read", path);
  if (!S_ISDIR(info.st_mode)) {
    return core::Status::Error("\"" + path + "\" is there but is not a folder");
  }
  return core::Status::Ok();
}

core::Status WriteFileAtomically(const std::string& path, std::string_view content) {
  // A fresh file under a name no one can guess, created (never opened if
  // there) beside the target so that the rename stays on one file system:
  // a file or a hard link planted at the name would otherwise receive the
  // secret, or keep a mode wider than the owner's.
  std::string temporary;
  int created = -1;
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".tmp-%08x%08x", static_cast<unsigned>(random()),
                  static_cast<unsigned>(random()));
    temporary = path + suffix;
    created = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (created >= 0 || errno != EEXIST) break;
  }
  if (created < 0) return FileError("cannot create", temporary);
  Fd fd(created);
  std::size_t written = 0;
  while (written < content.size()) {
    ssize_t n = ::write(fd.get(), content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      core::Status error = FileError("cannot write", temporary);
      ::unlink(temporary.c_str());
      return error;
    }
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd.get()) != 0 || ::close(fd.release()) != 0) {
    core::Status error = FileError("cannot write", temporary);
    ::unlink(temporary.c_str());
    return error;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    core::Status error = FileError("cannot replace", path);
    ::unlink(temporary.c_str());
    return error;
  }
  return core::Status::Ok();
}

}  // namespace kestrune::request
