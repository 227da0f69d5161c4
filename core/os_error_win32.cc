// Windows side of the OS-error seam: GetLastError() and Winsock numbers.
#include <string>
#include <string_view>

#include "core/os_error.h"

namespace kestrune::core {

std::string DescribeOsError(OsErrorCode code, OsErrorSource source) {
  const char* const family = source == OsErrorSource::kSockets ? "Winsock" : "Windows";
  return std::string(family) + " error " + std::to_string(code);
}

Status OsError(std::string_view context, OsErrorCode code) {
  return Status::Error(std::string(context) + " (" + DescribeOsError(code) + ")");
}

}  // namespace kestrune::core
