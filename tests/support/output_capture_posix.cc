#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "tests/support/output_capture.h"

namespace kestrune::testsupport {

OutputRedirect::OutputRedirect(int fd, const std::filesystem::path& file) : fd_(fd) {
  std::fflush(nullptr);  // what stdio holds belongs before the redirect
  const int target = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
  if (target < 0) return;
  saved_ = ::dup(fd_);
  if (saved_ >= 0 && ::dup2(target, fd_) < 0) {
    ::close(saved_);
    saved_ = -1;
  }
  ::close(target);
}

OutputRedirect::~OutputRedirect() { Restore(); }

void OutputRedirect::Restore() {
  if (saved_ < 0) return;
  std::fflush(nullptr);
  ::dup2(saved_, fd_);
  ::close(saved_);
  saved_ = -1;
}

}  // namespace kestrune::testsupport
