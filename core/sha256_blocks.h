// The SHA-256 compression function over whole 64-byte blocks, in the forms
// this build has: the portable one in sha256.cc everywhere, and one using the
// x86 SHA extensions (sha256_blocks_x86.cc) where the compiler targets x86.
// The path follows the one chosen for SHA-1 (core/sha1_blocks.h), so one
// switch pins both digests to the portable code.
//
// Internal to core; tests reach it to compare the paths.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrune::core {

using Sha256BlockFunction = void (*)(std::uint32_t state[8], const std::uint8_t* blocks,
                                     std::size_t count);

// The 64 round constants, shared by both forms.
extern const std::uint32_t kSha256RoundConstants[64];

void Sha256BlocksPortable(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count);

// The hardware form, or nullptr when this build or this processor has none.
Sha256BlockFunction Sha256BlocksHardware();

}  // namespace kestrune::core
