// The platform-independent part of the terminal seam.
#include <cstdio>

#include "cli/terminal.h"

namespace kestrune::cli {

namespace {
// Longer input is refused rather than kept growing: no credential is near it.
constexpr std::size_t kLongestInputLine = 4096;
}  // namespace

core::Result<std::string> ReadLineFromStdin() {
  std::string line;
  for (;;) {
    const int ch = std::getc(stdin);
    if (ch == EOF) {
      if (line.empty()) return core::Status::Error("the input ended before a line was read");
      break;
    }
    if (ch == '\n') break;
    if (line.size() >= kLongestInputLine) {
      return core::Status::Error("the input line is longer than 4096 bytes");
    }
    line += static_cast<char>(ch);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace kestrune::cli
