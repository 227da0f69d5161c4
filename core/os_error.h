// The operating system's error numbers turned into text a user can read, in
// exactly one place per platform: os_error_posix.cc describes errno values
// with the C library's text; os_error_win32.cc gives GetLastError() and
// WSAGetLastError() values by number. Callers read the number right after the
// call that failed and pass it in, before anything else can overwrite it.
//
// Stateless; safe from any thread.
#pragma once

#include <string>
#include <string_view>

#include "core/status.h"

namespace kestrune::core {

// An errno value, or a Windows error number (a DWORD from GetLastError() or
// an int from WSAGetLastError()); wide enough for all of them.
using OsErrorCode = long long;

// Which calls reported the number. POSIX has one kind; on Windows, files and
// processes report through GetLastError() and sockets through Winsock, and
// the text says which.
enum class OsErrorSource {
  kSystem,
  kSockets,
};

// The description of `code`: the C library's text on POSIX; "Windows error N"
// or "Winsock error N" on Windows.
std::string DescribeOsError(OsErrorCode code, OsErrorSource source = OsErrorSource::kSystem);

// A failed Status saying what failed (`context`) and why:
// "context: description" on POSIX, "context (Windows error N)" on Windows.
Status OsError(std::string_view context, OsErrorCode code);

}  // namespace kestrune::core
