// Targets without SHA instructions this code knows: the portable path only.
#include "core/sha256_blocks.h"

namespace kestrune::core {

Sha256BlockFunction Sha256BlocksHardware() { return nullptr; }

}  // namespace kestrune::core
