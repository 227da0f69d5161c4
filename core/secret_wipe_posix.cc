// WipeMemory on POSIX systems: glibc's explicit_bzero.
#include <string.h>  // NOLINT(modernize-deprecated-headers): explicit_bzero is POSIX, not C++

#include "core/secret.h"

namespace kestrune::core {

void WipeMemory(void* data, std::size_t size) noexcept {
  if (data != nullptr && size > 0) explicit_bzero(data, size);
}

}  // namespace kestrune::core
