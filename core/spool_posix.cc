#include "core/spool.h"

namespace kestrune::core {

// Created 0600 in the temporary directory and unlinked at once.
std::FILE* OpenSpoolFile() { return std::tmpfile(); }

}  // namespace kestrune::core
