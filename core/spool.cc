#include "core/spool.h"

#include <array>

namespace kestrune::core {

Spool::Spool() : file_(OpenSpoolFile()) {}

Spool::~Spool() {
  if (file_ != nullptr) std::fclose(file_);
}

void Spool::Append(std::string_view text) {
  size_ += text.size();
  if (file_ != nullptr && !failed_ &&
      std::fwrite(text.data(), 1, text.size(), file_) == text.size()) {
    return;
  }
  if (file_ != nullptr && !failed_) {
    // A full disk: the pieces written so far are read back into memory, and
    // the rest stays there too.
    failed_ = true;
    const std::size_t written = size_ - text.size();
    std::string kept;
    if (std::fflush(file_) == 0 && std::fseek(file_, 0, SEEK_SET) == 0) {
      kept.resize(written);
      kept.resize(std::fread(kept.data(), 1, written, file_));
    }
    memory_ = std::move(kept);
    std::fclose(file_);
    file_ = nullptr;
    size_ = memory_.size() + text.size();
  }
  memory_.append(text);
}

bool Spool::CopyTo(const std::function<void(std::string_view)>& out) {
  if (file_ == nullptr) {
    if (!memory_.empty()) out(memory_);
    return true;
  }
  if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) return false;
  std::array<char, 1 << 16> piece;
  std::size_t copied = 0;
  while (copied < size_) {
    const std::size_t got = std::fread(piece.data(), 1, piece.size(), file_);
    if (got == 0) break;
    copied += got;
    out(std::string_view(piece.data(), got));
  }
  return copied == size_;
}

}  // namespace kestrune::core
