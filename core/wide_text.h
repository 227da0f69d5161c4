// Conversion between the program's UTF-8 text and the platform's wide text:
// UTF-16 on Windows, where the wide-character Win32 API needs it at every
// boundary (dialog controls, file names, the console, the debug viewer), and
// UTF-32 elsewhere, where wchar_t holds whole code points.
//
// Conversions never fail: a byte sequence that is not UTF-8 becomes U+FFFD,
// and so does an unpaired surrogate on the way back.
//
// Platform code: wide_text_posix.cc (decoded here) and wide_text_win32.cc
// (MultiByteToWideChar / WideCharToMultiByte). Stateless; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace kestrune::core {

// UTF-8 to the platform's wide text. Invalid sequences become U+FFFD.
std::wstring ToWide(std::string_view utf8);
// The reverse of ToWide; unpaired surrogates become U+FFFD.
std::string FromWide(std::wstring_view wide);

}  // namespace kestrune::core
