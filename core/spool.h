// A scratch file for text too large to keep in memory until it can be
// written out: an anonymous temporary file, readable by its owner only, that
// disappears when it is closed (or the process ends).
//
// Spool is the platform seam (spool_posix.cc: tmpfile; spool_win32.cc: a
// file in the user's temporary directory, deleted on close). An object
// belongs to one writer; not thread-safe.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace kestrune::core {

// The platform's anonymous temporary file, open for reading and writing;
// nullptr when none can be made.
std::FILE* OpenSpoolFile();

class Spool {
 public:
  Spool();
  ~Spool();
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  // Appends text. Without a file (none could be made) the text is kept in
  // memory instead, so nothing is lost either way.
  void Append(std::string_view text);
  std::size_t size() const { return size_; }
  // True while the text is kept in the file, not in memory.
  bool on_disk() const { return file_ != nullptr; }
  // Hands everything appended, in order and in pieces of a bounded size, to
  // `out`; false when the file could not be read back whole.
  bool CopyTo(const std::function<void(std::string_view)>& out);

 private:
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  std::string memory_;
  std::size_t size_ = 0;
};

}  // namespace kestrune::core
