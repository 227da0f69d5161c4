// Conversion of the UTF-8 text of replies and sample responses into the text a
// screen shows.
//
// Inside the program every text is UTF-8. The dialog shows wide (UTF-16) text
// and converts at its boundary with core::ToWide; a terminal gets UTF-8, or
// GBK (code page 936) when its locale says so. Conversions never fail: a byte
// sequence that is not UTF-8, or a character GBK cannot represent, becomes '?'.
//
// Platform code: display_text_posix.cc (iconv) and display_text_win32.cc
// (WideCharToMultiByte). Stateless; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace kestrune::report {

enum class DisplayEncoding {
  kUtf8,  // values are shown as they stand
  kGbk,   // code page 936, the encoding of Chinese terminals and systems
};

// Converts shown values into one display encoding.
class DisplayText {
 public:
  explicit constexpr DisplayText(DisplayEncoding encoding = DisplayEncoding::kUtf8)
      : encoding_(encoding) {}

  // Returns `utf8` in the display encoding. In kUtf8 the text is returned
  // unchanged; in kGbk every character without a GBK form becomes '?'.
  std::string Convert(std::string_view utf8) const;

  DisplayEncoding encoding() const { return encoding_; }

 private:
  DisplayEncoding encoding_;
};

// The encoding a terminal of this process expects: kGbk when the locale
// environment (LC_ALL, LC_CTYPE, LANG, first one set) names GBK, GB2312 or
// GB18030 on POSIX, or when the console output code page is 936 on Windows;
// otherwise kUtf8.
DisplayEncoding TerminalDisplayEncoding();

}  // namespace kestrune::report
