// Targets without SHA instructions this code knows: the portable path only.
#include "core/sha1_blocks.h"

namespace kestrune::core {

Sha1BlockFunction Sha1BlocksHardware() { return nullptr; }

}  // namespace kestrune::core
