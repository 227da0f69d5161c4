// Test support: redirects a standard stream's file descriptor into a file and
// back. The platform seam under SecretAudit's capture.
#pragma once

#include <filesystem>

namespace kestrune::testsupport {

// While alive, everything written to file descriptor `fd` (1 or 2) goes to
// `file`. Restore() puts the original back; the destructor restores too.
class OutputRedirect {
 public:
  OutputRedirect(int fd, const std::filesystem::path& file);
  OutputRedirect(const OutputRedirect&) = delete;
  OutputRedirect& operator=(const OutputRedirect&) = delete;
  ~OutputRedirect();

  bool active() const { return saved_ >= 0; }
  void Restore();

 private:
  int fd_;
  int saved_ = -1;
};

}  // namespace kestrune::testsupport
