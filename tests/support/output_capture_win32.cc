#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>

#include "tests/support/output_capture.h"

namespace kestrune::testsupport {

OutputRedirect::OutputRedirect(int fd, const std::filesystem::path& file) : fd_(fd) {
  std::fflush(nullptr);  // what stdio holds belongs before the redirect
  const int target = ::_wopen(file.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_APPEND | _O_BINARY,
                              _S_IREAD | _S_IWRITE);
  if (target < 0) return;
  saved_ = ::_dup(fd_);
  if (saved_ >= 0 && ::_dup2(target, fd_) < 0) {
    ::_close(saved_);
    saved_ = -1;
  }
  ::_close(target);
}

OutputRedirect::~OutputRedirect() { Restore(); }

void OutputRedirect::Restore() {
  if (saved_ < 0) return;
  std::fflush(nullptr);
  ::_dup2(saved_, fd_);
  ::_close(saved_);
  saved_ = -1;
}

}  // namespace kestrune::testsupport
