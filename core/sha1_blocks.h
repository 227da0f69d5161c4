// The SHA-1 compression function over whole 64-byte blocks, in the forms this
// build has: the portable one in sha1.cc everywhere, and one using the x86
// SHA extensions (sha1_blocks_x86.cc) where the compiler targets x86. Which
// one Sha1Context uses is decided once, at run time, from the processor.
//
// Internal to core; tests reach it to pin a path.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrune::core {

using Sha1BlockFunction = void (*)(std::uint32_t state[5], const std::uint8_t* blocks,
                                   std::size_t count);

void Sha1BlocksPortable(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count);

// The hardware form, or nullptr when this build or this processor has none.
Sha1BlockFunction Sha1BlocksHardware();

enum class Sha1Path { kFastest, kPortable };

// Chooses the path every Sha1Context uses from now on: the fastest the
// processor offers, or the portable code whatever the processor (for tests
// that must cover both). Not meant to be switched while digests run on other
// threads.
void SelectSha1Path(Sha1Path path);
// Whether digests now run on the processor's SHA instructions.
bool Sha1UsesHardware();

}  // namespace kestrune::core
