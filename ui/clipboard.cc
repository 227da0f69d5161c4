#include "ui/clipboard.h"

#include <cstring>

namespace kestrune::ui {
namespace {

// Closes the clipboard on every way out of a function that opened it.
class OpenedClipboard {
 public:
  explicit OpenedClipboard(HWND owner) : open_(OpenClipboard(owner) != FALSE) {}
  ~OpenedClipboard() {
    if (open_) CloseClipboard();
  }
  OpenedClipboard(const OpenedClipboard&) = delete;
  OpenedClipboard& operator=(const OpenedClipboard&) = delete;
  bool open() const { return open_; }

 private:
  bool open_;
};

}  // namespace

bool SetClipboardText(HWND owner, std::wstring_view text) {
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (block == nullptr) return false;
  auto* destination = static_cast<wchar_t*>(GlobalLock(block));
  if (destination == nullptr) {
    GlobalFree(block);
    return false;
  }
  if (!text.empty()) std::memcpy(destination, text.data(), text.size() * sizeof(wchar_t));
  destination[text.size()] = L'\0';
  GlobalUnlock(block);

  OpenedClipboard clipboard(owner);
  if (!clipboard.open() || !EmptyClipboard() ||
      SetClipboardData(CF_UNICODETEXT, block) == nullptr) {
    // cppcheck-suppress doubleFree ; SetClipboardData takes the block only when it succeeds
    GlobalFree(block);
    return false;
  }
  return true;  // the block now belongs to the clipboard
}

std::optional<std::wstring> ClipboardText(HWND owner) {
  OpenedClipboard clipboard(owner);
  if (!clipboard.open()) return std::nullopt;
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  if (data == nullptr) return std::nullopt;
  const auto* text = static_cast<const wchar_t*>(GlobalLock(data));
  if (text == nullptr) return std::nullopt;
  // The block may be larger than the text; the text ends at its terminator,
  // which must lie inside the block.
  std::size_t room = GlobalSize(data) / sizeof(wchar_t);
  std::size_t length = 0;
  while (length < room && text[length] != L'\0') ++length;
  std::wstring copy(text, length);
  GlobalUnlock(data);
  return copy;
}

}  // namespace kestrune::ui
