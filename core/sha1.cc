#include "core/sha1.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "core/sha1_blocks.h"

namespace kestrune::core {

namespace {

inline std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

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

Sha1BlockFunction Fastest() {
  const Sha1BlockFunction hardware = Sha1BlocksHardware();
  return hardware != nullptr ? hardware : Sha1BlocksPortable;
}

std::atomic<Sha1BlockFunction>& Selected() {
  static std::atomic<Sha1BlockFunction> selected{Fastest()};
  return selected;
}

// One block of the portable compression function.
void PortableBlock(std::uint32_t state[5], const std::uint8_t* block);

}  // namespace

void SelectSha1Path(Sha1Path path) {
  Selected().store(path == Sha1Path::kPortable ? Sha1BlocksPortable : Fastest());
}

bool Sha1UsesHardware() { return Selected().load() != Sha1BlocksPortable; }

void Sha1BlocksPortable(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count) {
  for (; count > 0; --count, blocks += 64) PortableBlock(state, blocks);
}

void Sha1Context::ProcessBlocks(const std::uint8_t* blocks, std::size_t count) {
  Selected().load(std::memory_order_relaxed)(state_, blocks, count);
}

void Sha1Context::Reset() {
  state_[0] = 0x67452301u;
  state_[1] = 0xEFCDAB89u;
  state_[2] = 0x98BADCFEu;
  state_[3] = 0x10325476u;
  state_[4] = 0xC3D2E1F0u;
  std::memset(block_, 0, sizeof block_);
  fill_ = 0;
  total_ = 0;
}

namespace {

// The 80 rounds written out over a rolling 16-word schedule: the compiler
// keeps the five working variables in registers and no round pays for a loop
// or a table lookup.
void PortableBlock(std::uint32_t state[5], const std::uint8_t* block) {
  std::uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian(block + 4 * i);
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];

#define KESTRUNE_W(i) \
  (w[(i)&15] = Rotl(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i)&15], 1))
#define KESTRUNE_R0(v, x, y, z, u, i)                         \
  u += ((x & (y ^ z)) ^ z) + w[i] + 0x5A827999u + Rotl(v, 5); \
  x = Rotl(x, 30)
#define KESTRUNE_R1(v, x, y, z, u, i)                                  \
  u += ((x & (y ^ z)) ^ z) + KESTRUNE_W(i) + 0x5A827999u + Rotl(v, 5); \
  x = Rotl(x, 30)
#define KESTRUNE_R2(v, x, y, z, u, i)                          \
  u += (x ^ y ^ z) + KESTRUNE_W(i) + 0x6ED9EBA1u + Rotl(v, 5); \
  x = Rotl(x, 30)
#define KESTRUNE_R3(v, x, y, z, u, i)                                        \
  u += (((x | y) & z) | (x & y)) + KESTRUNE_W(i) + 0x8F1BBCDCu + Rotl(v, 5); \
  x = Rotl(x, 30)
#define KESTRUNE_R4(v, x, y, z, u, i)                          \
  u += (x ^ y ^ z) + KESTRUNE_W(i) + 0xCA62C1D6u + Rotl(v, 5); \
  x = Rotl(x, 30)

  // clang-format off
  KESTRUNE_R0(a,b,c,d,e, 0); KESTRUNE_R0(e,a,b,c,d, 1); KESTRUNE_R0(d,e,a,b,c, 2); KESTRUNE_R0(c,d,e,a,b, 3);
  KESTRUNE_R0(b,c,d,e,a, 4); KESTRUNE_R0(a,b,c,d,e, 5); KESTRUNE_R0(e,a,b,c,d, 6); KESTRUNE_R0(d,e,a,b,c, 7);
  KESTRUNE_R0(c,d,e,a,b, 8); KESTRUNE_R0(b,c,d,e,a, 9); KESTRUNE_R0(a,b,c,d,e,10); KESTRUNE_R0(e,a,b,c,d,11);
  KESTRUNE_R0(d,e,a,b,c,12); KESTRUNE_R0(c,d,e,a,b,13); KESTRUNE_R0(b,c,d,e,a,14); KESTRUNE_R0(a,b,c,d,e,15);
  KESTRUNE_R1(e,a,b,c,d,16); KESTRUNE_R1(d,e,a,b,c,17); KESTRUNE_R1(c,d,e,a,b,18); KESTRUNE_R1(b,c,d,e,a,19);
  KESTRUNE_R2(a,b,c,d,e,20); KESTRUNE_R2(e,a,b,c,d,21); KESTRUNE_R2(d,e,a,b,c,22); KESTRUNE_R2(c,d,e,a,b,23);
  KESTRUNE_R2(b,c,d,e,a,24); KESTRUNE_R2(a,b,c,d,e,25); KESTRUNE_R2(e,a,b,c,d,26); KESTRUNE_R2(d,e,a,b,c,27);
  KESTRUNE_R2(c,d,e,a,b,28); KESTRUNE_R2(b,c,d,e,a,29); KESTRUNE_R2(a,b,c,d,e,30); KESTRUNE_R2(e,a,b,c,d,31);
  KESTRUNE_R2(d,e,a,b,c,32); KESTRUNE_R2(c,d,e,a,b,33); KESTRUNE_R2(b,c,d,e,a,34); KESTRUNE_R2(a,b,c,d,e,35);
  KESTRUNE_R2(e,a,b,c,d,36); KESTRUNE_R2(d,e,a,b,c,37); KESTRUNE_R2(c,d,e,a,b,38); KESTRUNE_R2(b,c,d,e,a,39);
  KESTRUNE_R3(a,b,c,d,e,40); KESTRUNE_R3(e,a,b,c,d,41); KESTRUNE_R3(d,e,a,b,c,42); KESTRUNE_R3(c,d,e,a,b,43);
  KESTRUNE_R3(b,c,d,e,a,44); KESTRUNE_R3(a,b,c,d,e,45); KESTRUNE_R3(e,a,b,c,d,46); KESTRUNE_R3(d,e,a,b,c,47);
  KESTRUNE_R3(c,d,e,a,b,48); KESTRUNE_R3(b,c,d,e,a,49); KESTRUNE_R3(a,b,c,d,e,50); KESTRUNE_R3(e,a,b,c,d,51);
  KESTRUNE_R3(d,e,a,b,c,52); KESTRUNE_R3(c,d,e,a,b,53); KESTRUNE_R3(b,c,d,e,a,54); KESTRUNE_R3(a,b,c,d,e,55);
  KESTRUNE_R3(e,a,b,c,d,56); KESTRUNE_R3(d,e,a,b,c,57); KESTRUNE_R3(c,d,e,a,b,58); KESTRUNE_R3(b,c,d,e,a,59);
  KESTRUNE_R4(a,b,c,d,e,60); KESTRUNE_R4(e,a,b,c,d,61); KESTRUNE_R4(d,e,a,b,c,62); KESTRUNE_R4(c,d,e,a,b,63);
  KESTRUNE_R4(b,c,d,e,a,64); KESTRUNE_R4(a,b,c,d,e,65); KESTRUNE_R4(e,a,b,c,d,66); KESTRUNE_R4(d,e,a,b,c,67);
  KESTRUNE_R4(c,d,e,a,b,68); KESTRUNE_R4(b,c,d,e,a,69); KESTRUNE_R4(a,b,c,d,e,70); KESTRUNE_R4(e,a,b,c,d,71);
  KESTRUNE_R4(d,e,a,b,c,72); KESTRUNE_R4(c,d,e,a,b,73); KESTRUNE_R4(b,c,d,e,a,74); KESTRUNE_R4(a,b,c,d,e,75);
  KESTRUNE_R4(e,a,b,c,d,76); KESTRUNE_R4(d,e,a,b,c,77); KESTRUNE_R4(c,d,e,a,b,78); KESTRUNE_R4(b,c,d,e,a,79);
  // clang-format on

#undef KESTRUNE_W
#undef KESTRUNE_R0
#undef KESTRUNE_R1
#undef KESTRUNE_R2
#undef KESTRUNE_R3
#undef KESTRUNE_R4

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

}  // namespace

void Sha1Context::Update(const void* data, std::size_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  total_ += length;
  if (fill_ > 0) {
    std::size_t take = std::min(length, sizeof block_ - fill_);
    std::memcpy(block_ + fill_, bytes, take);
    fill_ += take;
    bytes += take;
    length -= take;
    if (fill_ < sizeof block_) return;
    ProcessBlocks(block_, 1);
    fill_ = 0;
  }
  // Whole blocks straight from the caller's memory, in one call.
  const std::size_t whole = length / sizeof block_;
  if (whole > 0) {
    ProcessBlocks(bytes, whole);
    bytes += whole * sizeof block_;
    length -= whole * sizeof block_;
  }
  if (length > 0) std::memcpy(block_, bytes, length);
  fill_ = length;
}

Sha1Digest Sha1Context::Finish() {
  std::uint64_t bit_length = total_ * 8;
  block_[fill_] = 0x80;
  std::memset(block_ + fill_ + 1, 0, sizeof block_ - fill_ - 1);
  if (fill_ > 55) {  // the length no longer fits behind the marker
    ProcessBlocks(block_, 1);
    std::memset(block_, 0, sizeof block_);
  }
  StoreBigEndian(block_ + 56, static_cast<std::uint32_t>(bit_length >> 32));
  StoreBigEndian(block_ + 60, static_cast<std::uint32_t>(bit_length));
  ProcessBlocks(block_, 1);

  Sha1Digest digest;
  for (int i = 0; i < 5; ++i) StoreBigEndian(digest.data() + 4 * i, state_[i]);
  std::memset(block_, 0, sizeof block_);
  fill_ = 0;
  return digest;
}

Sha1Digest Sha1(std::string_view data) {
  Sha1Context context;
  context.Update(data);
  return context.Finish();
}

}  // namespace kestrune::core
