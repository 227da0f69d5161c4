// WipeMemory on Windows: SecureZeroMemory.
#include <windows.h>

#include "core/secret.h"

namespace kestrune::core {

void WipeMemory(void* data, std::size_t size) noexcept {
  if (data != nullptr && size > 0) SecureZeroMemory(data, size);
}

}  // namespace kestrune::core
