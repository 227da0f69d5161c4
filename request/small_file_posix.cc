#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// nullopt for a missing file when `missing_ok`.
core::Result<std::optional<std::string>> Read(const std::string& path, std::size_t limit,
                                              bool missing_ok) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (missing_ok && (errno == ENOENT || errno == ENOTDIR)) return std::optional<std::string>();
    return FileError("cannot open", path);
  }
  std::string content;
  char buffer[512];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FileError("cannot read", path);
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
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
  const std::string temporary = path + ".tmp-" + std::to_string(::getpid());
  Fd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (fd.get() < 0) return FileError("cannot create", temporary);
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
