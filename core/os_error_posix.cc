// POSIX side of the OS-error seam: errno values and the C library's text.
#include <cstring>
#include <string>
#include <string_view>

#include "core/os_error.h"

namespace kestrune::core {

std::string DescribeOsError(OsErrorCode code, OsErrorSource) {
  return std::strerror(static_cast<int>(code));
}

Status OsError(std::string_view context, OsErrorCode code) {
  return Status::Error(std::string(context) + ": " + DescribeOsError(code));
}

}  // namespace kestrune::core
