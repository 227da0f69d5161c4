// SHA-1 message digest (FIPS 180-4), computed incrementally.
//
// A Sha1Context is a plain value: one digest per object, no shared state, so
// separate objects may be used from separate threads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrune::core {

using Sha1Digest = std::array<std::uint8_t, 20>;

class Sha1Context {
 public:
  Sha1Context() { Reset(); }

  // Starts a new digest; any digest under way is abandoned.
  void Reset();
  // Appends bytes to the message.
  void Update(const void* data, std::size_t length);
  void Update(std::string_view data) { Update(data.data(), data.size()); }
  // Pads, processes the final block(s) and returns the digest. The context must
  // be Reset before it is used again.
  Sha1Digest Finish();

 private:
  // Runs the compression function over `count` whole blocks, on the SHA
  // instructions where the processor has them (core/sha1_blocks.h).
  void ProcessBlocks(const std::uint8_t* blocks, std::size_t count);

  std::uint32_t state_[5];
  std::uint8_t block_[64];
  std::size_t fill_ = 0;
  std::uint64_t total_ = 0;  // bytes since Reset
};

// One-shot digest of `data`.
Sha1Digest Sha1(std::string_view data);

}  // namespace kestrune::core
