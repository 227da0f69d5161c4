// Windows side of the wide-text seam: the system's own UTF-8 tables.
#include <windows.h>

#include <string>
#include <string_view>

#include "core/wide_text.h"

namespace kestrune::core {
namespace {

// Texts longer than an int can count are converted in pieces that end on a
// character boundary; replies never come near that, but nothing is cut.
constexpr std::size_t kPiece = 1u << 28;

std::size_t Utf8PieceLength(std::string_view utf8) {
  if (utf8.size() <= kPiece) return utf8.size();
  std::size_t end = kPiece;
  while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
  return end == 0 ? kPiece : end;
}

}  // namespace

std::wstring ToWide(std::string_view utf8) {
  std::wstring out;
  while (!utf8.empty()) {
    std::size_t piece = Utf8PieceLength(utf8);
    int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(piece), nullptr, 0);
    if (count > 0) {
      std::size_t start = out.size();
      out.resize(start + static_cast<std::size_t>(count));
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(piece), out.data() + start,
                          count);
    }
    utf8.remove_prefix(piece);
  }
  return out;
}

std::string FromWide(std::wstring_view wide) {
  std::string out;
  while (!wide.empty()) {
    std::size_t piece = wide.size() <= kPiece ? wide.size() : kPiece;
    int count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(piece), nullptr, 0,
                                    nullptr, nullptr);
    if (count > 0) {
      std::size_t start = out.size();
      out.resize(start + static_cast<std::size_t>(count));
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(piece), out.data() + start,
                          count, nullptr, nullptr);
    }
    wide.remove_prefix(piece);
  }
  return out;
}

}  // namespace kestrune::core
