#include "core/hmac_sha1.h"

#include <cstdint>
#include <cstring>

#include "core/secret.h"

namespace kestrune::core {

Sha1Digest HmacSha1(std::string_view key, std::string_view message) {
  constexpr std::size_t kBlock = 64;
  std::uint8_t key_block[kBlock] = {};
  if (key.size() > kBlock) {
    Sha1Digest hashed = Sha1(key);
    std::memcpy(key_block, hashed.data(), hashed.size());
  } else if (!key.empty()) {
    std::memcpy(key_block, key.data(), key.size());
  }

  std::uint8_t pad[kBlock];
  for (std::size_t i = 0; i < kBlock; ++i) pad[i] = key_block[i] ^ 0x36;
  Sha1Context context;
  context.Update(pad, kBlock);
  context.Update(message);
  Sha1Digest inner = context.Finish();

  for (std::size_t i = 0; i < kBlock; ++i) pad[i] = key_block[i] ^ 0x5C;
  context.Reset();
  context.Update(pad, kBlock);
  context.Update(inner.data(), inner.size());
  const Sha1Digest digest = context.Finish();
  // The key blocks are the key itself, a bit flip apart.
  WipeMemory(key_block, kBlock);
  WipeMemory(pad, kBlock);
  return digest;
}

}  // namespace kestrune::core
