#include "core/sha256.h"

#include <algorithm>
#include <cstring>

#include "core/secret.h"

#include "core/sha1_blocks.h"
#include "core/sha256_blocks.h"

namespace kestrune::core {

alignas(16) const std::uint32_t kSha256RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

namespace {

inline std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline std::uint32_t LoadBigEndian(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

inline void StoreBigEndian(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// One round, with the working variables named where they stand: instead of
// moving all eight along, the caller names them rotated by one each round,
// so only `d` (the next `e`) and `h` (the next `a`) are written.
inline void Round(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t& d,
                  std::uint32_t e, std::uint32_t f, std::uint32_t g, std::uint32_t& h,
                  std::uint32_t constant_and_word) {
  const std::uint32_t t1 =
      h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + (g ^ (e & (f ^ g))) + constant_and_word;
  const std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) | (c & (a | b)));
  d += t1;
  h = t1 + t2;
}

void PortableBlock(std::uint32_t state[8], const std::uint8_t* block) {
  std::uint32_t w[64];
  for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian(block + 4 * i);
  for (int i = 16; i < 64; ++i) {
    const std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  const std::uint32_t* k = kSha256RoundConstants;
  for (int i = 0; i < 64; i += 8) {
    Round(a, b, c, d, e, f, g, h, k[i] + w[i]);
    Round(h, a, b, c, d, e, f, g, k[i + 1] + w[i + 1]);
    Round(g, h, a, b, c, d, e, f, k[i + 2] + w[i + 2]);
    Round(f, g, h, a, b, c, d, e, k[i + 3] + w[i + 3]);
    Round(e, f, g, h, a, b, c, d, k[i + 4] + w[i + 4]);
    Round(d, e, f, g, h, a, b, c, k[i + 5] + w[i + 5]);
    Round(c, d, e, f, g, h, a, b, k[i + 6] + w[i + 6]);
    Round(b, c, d, e, f, g, h, a, k[i + 7] + w[i + 7]);
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

// The SHA-1 choice covers both digests: the processors with the extensions
// have them for both, and a test that pins the portable code pins it for
// both.
void ProcessBlocks(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count) {
  static const Sha256BlockFunction hardware = Sha256BlocksHardware();
  if (hardware != nullptr && Sha1UsesHardware()) {
    hardware(state, blocks, count);
  } else {
    Sha256BlocksPortable(state, blocks, count);
  }
}

}  // namespace

void Sha256BlocksPortable(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count) {
  for (; count > 0; --count, blocks += 64) PortableBlock(state, blocks);
}

void Sha256Context::Reset() {
  static constexpr std::uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::memcpy(state_, kInitial, sizeof state_);
  std::memset(block_, 0, sizeof block_);
  fill_ = 0;
  total_ = 0;
}

void Sha256Context::Update(const void* data, std::size_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  total_ += length;
  if (fill_ > 0) {
    const std::size_t take = std::min(length, sizeof block_ - fill_);
    std::memcpy(block_ + fill_, bytes, take);
    fill_ += take;
    bytes += take;
    length -= take;
    if (fill_ < sizeof block_) return;
    ProcessBlocks(state_, block_, 1);
    fill_ = 0;
  }
  const std::size_t whole = length / sizeof block_;
  if (whole > 0) {
    ProcessBlocks(state_, bytes, whole);
    bytes += whole * sizeof block_;
    length -= whole * sizeof block_;
  }
  if (length > 0) std::memcpy(block_, bytes, length);
  fill_ = length;
}

Sha256Digest Sha256Context::Finish() {
  const std::uint64_t bit_length = total_ * 8;
  block_[fill_] = 0x80;
  std::memset(block_ + fill_ + 1, 0, sizeof block_ - fill_ - 1);
  if (fill_ > 55) {  // the length no longer fits behind the marker
    ProcessBlocks(state_, block_, 1);
    std::memset(block_, 0, sizeof block_);
  }
  StoreBigEndian(block_ + 56, static_cast<std::uint32_t>(bit_length >> 32));
  StoreBigEndian(block_ + 60, static_cast<std::uint32_t>(bit_length));
  ProcessBlocks(state_, block_, 1);

  Sha256Digest digest;
  for (int i = 0; i < 8; ++i) StoreBigEndian(digest.data() + 4 * i, state_[i]);
  std::memset(block_, 0, sizeof block_);
  fill_ = 0;
  return digest;
}

Sha256Digest Sha256(std::string_view data) {
  Sha256Context context;
  context.Update(data);
  return context.Finish();
}

namespace {

// The states after each padded key block, for the last key this thread
// used: a program signs request after request with one key, and so hashes
// the two padded blocks once instead of twice a request. Wiped when the key
// changes and when the thread ends, as they stand in for the key.
struct HmacKeyStates {
  std::uint8_t key_block[64] = {};
  std::uint32_t inner[8] = {};
  std::uint32_t outer[8] = {};
  bool set = false;

  HmacKeyStates() = default;
  HmacKeyStates(const HmacKeyStates&) = delete;
  HmacKeyStates& operator=(const HmacKeyStates&) = delete;
  ~HmacKeyStates() { Wipe(); }
  void Wipe() {
    WipeMemory(key_block, sizeof key_block);
    WipeMemory(inner, sizeof inner);
    WipeMemory(outer, sizeof outer);
    set = false;
  }
};

thread_local HmacKeyStates last_hmac_key;

}  // namespace

Sha256Digest HmacSha256(std::string_view key, std::string_view message) {
  constexpr std::size_t kBlock = 64;
  std::uint8_t key_block[kBlock] = {};
  if (key.size() > kBlock) {
    const Sha256Digest hashed = Sha256(key);
    std::memcpy(key_block, hashed.data(), hashed.size());
  } else if (!key.empty()) {
    std::memcpy(key_block, key.data(), key.size());
  }
  HmacKeyStates& states = last_hmac_key;
  if (!states.set || std::memcmp(states.key_block, key_block, kBlock) != 0) {
    states.Wipe();
    // Both pads in one pass over the key.
    std::uint8_t inner_pad[kBlock];
    std::uint8_t outer_pad[kBlock];
    for (std::size_t i = 0; i < kBlock; ++i) {
      inner_pad[i] = key_block[i] ^ 0x36;
      outer_pad[i] = key_block[i] ^ 0x5C;
    }
    Sha256Context start;
    std::memcpy(states.inner, start.state_, sizeof states.inner);
    std::memcpy(states.outer, start.state_, sizeof states.outer);
    ProcessBlocks(states.inner, inner_pad, 1);
    ProcessBlocks(states.outer, outer_pad, 1);
    std::memcpy(states.key_block, key_block, kBlock);
    states.set = true;
    // The key blocks are the key itself, a bit flip apart.
    WipeMemory(inner_pad, kBlock);
    WipeMemory(outer_pad, kBlock);
  }
  WipeMemory(key_block, kBlock);

  Sha256Context context;
  std::memcpy(context.state_, states.inner, sizeof context.state_);
  context.total_ = kBlock;
  context.Update(message);
  const Sha256Digest inner = context.Finish();

  std::memcpy(context.state_, states.outer, sizeof context.state_);
  context.total_ = kBlock;
  context.Update(inner.data(), inner.size());
  const Sha256Digest digest = context.Finish();
  WipeMemory(context.state_, sizeof context.state_);
  return digest;
}

void WriteLowerHex(const Sha256Digest& digest, std::span<char, 64> out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < digest.size(); ++i) {
    out[2 * i] = kDigits[digest[i] >> 4];
    out[2 * i + 1] = kDigits[digest[i] & 0x0F];
  }
}

std::string LowerHex(const Sha256Digest& digest) {
  std::string hex(2 * digest.size(), '0');
  WriteLowerHex(digest, std::span<char, 64>(hex.data(), 64));
  return hex;
}

}  // namespace kestrune::core
