// Windows side of the display-text seam: the system's own code-page tables.
#include <windows.h>

#include <string>
#include <string_view>

#include "core/wide_text.h"
#include "report/display_text.h"

namespace kestrune::report {
namespace {

constexpr UINT kGbkCodePage = 936;

// Texts longer than an int can count are converted in pieces that end on a
// character boundary; replies never come near that, but nothing is cut.
constexpr std::size_t kPiece = 1u << 28;

}  // namespace

std::string DisplayText::Convert(std::string_view utf8) const {
  if (encoding_ != DisplayEncoding::kGbk) return std::string(utf8);
  std::wstring wide = core::ToWide(utf8);
  // Code page 936 has nothing outside the basic plane; a surrogate pair is
  // one character and becomes one '?', not one for each half.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    bool pair = i + 1 < wide.size() && wide[i] >= 0xD800 && wide[i] <= 0xDBFF &&
                wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF;
    wide[kept++] = pair ? L'?' : wide[i];
    if (pair) ++i;
  }
  wide.resize(kept);
  std::string out;
  std::wstring_view rest = wide;
  while (!rest.empty()) {
    std::size_t piece = rest.size() <= kPiece ? rest.size() : kPiece;
    int count = WideCharToMultiByte(kGbkCodePage, 0, rest.data(), static_cast<int>(piece), nullptr,
                                    0, nullptr, nullptr);
    if (count > 0) {
      std::size_t start = out.size();
      out.resize(start + static_cast<std::size_t>(count));
      WideCharToMultiByte(kGbkCodePage, 0, rest.data(), static_cast<int>(piece), out.data() + start,
                          count, nullptr, nullptr);
    }
    rest.remove_prefix(piece);
  }
  return out;
}

DisplayEncoding TerminalDisplayEncoding() {
  return GetConsoleOutputCP() == kGbkCodePage ? DisplayEncoding::kGbk : DisplayEncoding::kUtf8;
}

}  // namespace kestrune::report
