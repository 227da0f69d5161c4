// SHA-256 message digest (FIPS 180-4), computed incrementally, and HMAC-SHA256
// (RFC 2104) over it.
//
// A Sha256Context is a plain value: one digest per object, no shared state,
// so separate objects may be used from separate threads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestrune::core {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256Context {
 public:
  Sha256Context() { Reset(); }

  // Starts a new digest; any digest under way is abandoned.
  void Reset();
  // Appends bytes to the message.
  void Update(const void* data, std::size_t length);
  void Update(std::string_view data) { Update(data.data(), data.size()); }
  // Pads, processes the final block(s) and returns the digest. The context
  // must be Reset before it is used again.
  Sha256Digest Finish();

 private:
  // Starts from the states after the padded key blocks.
  friend Sha256Digest HmacSha256(std::string_view key, std::string_view message);

  std::uint32_t state_[8];
  std::uint8_t block_[64];
  std::size_t fill_ = 0;
  std::uint64_t total_ = 0;  // bytes since Reset
};

// One-shot digest of `data`.
Sha256Digest Sha256(std::string_view data);

// The 32-byte code of `message` under `key`. Keys longer than the 64-byte
// block are replaced by their SHA-256 digest; the empty key is allowed.
// Each thread keeps the digest states of its last key's two padded blocks
// (wiped when another key comes and when the thread ends), so that a run of
// codes under one key hashes them once.
Sha256Digest HmacSha256(std::string_view key, std::string_view message);

// Lower-case hexadecimal of a digest: 64 characters.
std::string LowerHex(const Sha256Digest& digest);
// The same 64 characters written to `out` (no terminator), for callers that
// place them inside a string of their own without a second allocation.
void WriteLowerHex(const Sha256Digest& digest, std::span<char, 64> out);

}  // namespace kestrune::core
