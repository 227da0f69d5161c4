// SHA-256 on the x86 SHA extensions (SHA-NI), with SSSE3 for the byte shuffle
// and SSE4.1 for the blend. Compiled for every x86 target but only called
// after the processor has said it has all three, so the instructions are
// enabled per function rather than for the whole build.
#include <cpuid.h>
#include <immintrin.h>

#include "core/sha256_blocks.h"

namespace kestrune::core {
namespace {

bool ProcessorHasShaExtensions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool ssse3 = (ecx & bit_SSSE3) != 0;
  const bool sse41 = (ecx & bit_SSE4_1) != 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool sha = (ebx & bit_SHA) != 0;
  return ssse3 && sse41 && sha;
}

// Four rounds on the message words `cur` with the constants of group `g`.
#define KESTRUNE_SHA256_ROUNDS(cur, g)                                                         \
  msg = _mm_add_epi32(                                                                         \
      cur, _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * (g)))); \
  state1 = _mm_sha256rnds2_epu32(state1, state0, msg);                                         \
  msg = _mm_shuffle_epi32(msg, 0x0E);                                                          \
  state0 = _mm_sha256rnds2_epu32(state0, state1, msg)

// Four rounds that also advance the schedule: `next` gains its second half
// from `prev` and `cur`, and `prev` its first half for the group after.
#define KESTRUNE_SHA256_SCHEDULE(prev, cur, next, g)         \
  KESTRUNE_SHA256_ROUNDS(cur, g);                            \
  next = _mm_add_epi32(next, _mm_alignr_epi8(cur, prev, 4)); \
  next = _mm_sha256msg2_epu32(next, cur);                    \
  prev = _mm_sha256msg1_epu32(prev, cur)

__attribute__((target("sha,sse4.1,ssse3"))) void Sha256BlocksShaNi(std::uint32_t state[8],
                                                                   const std::uint8_t* blocks,
                                                                   std::size_t count) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  // The instructions want the state as ABEF and CDGH.
  __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
  __m128i efgh =
      _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
  __m128i state0 = _mm_alignr_epi8(dcba, efgh, 8);
  __m128i state1 = _mm_blend_epi16(efgh, dcba, 0xF0);

  for (; count > 0; --count, blocks += 64) {
    const __m128i abef_saved = state0;
    const __m128i cdgh_saved = state1;
    const auto* in = reinterpret_cast<const __m128i*>(blocks);
    __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), byte_swap);
    __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byte_swap);
    __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byte_swap);
    __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byte_swap);
    __m128i msg;

    KESTRUNE_SHA256_ROUNDS(m0, 0);
    KESTRUNE_SHA256_ROUNDS(m1, 1);
    m0 = _mm_sha256msg1_epu32(m0, m1);
    KESTRUNE_SHA256_ROUNDS(m2, 2);
    m1 = _mm_sha256msg1_epu32(m1, m2);
    KESTRUNE_SHA256_SCHEDULE(m2, m3, m0, 3);
    KESTRUNE_SHA256_SCHEDULE(m3, m0, m1, 4);
    KESTRUNE_SHA256_SCHEDULE(m0, m1, m2, 5);
    KESTRUNE_SHA256_SCHEDULE(m1, m2, m3, 6);
    KESTRUNE_SHA256_SCHEDULE(m2, m3, m0, 7);
    KESTRUNE_SHA256_SCHEDULE(m3, m0, m1, 8);
    KESTRUNE_SHA256_SCHEDULE(m0, m1, m2, 9);
    KESTRUNE_SHA256_SCHEDULE(m1, m2, m3, 10);
    KESTRUNE_SHA256_SCHEDULE(m2, m3, m0, 11);
    KESTRUNE_SHA256_SCHEDULE(m3, m0, m1, 12);
    KESTRUNE_SHA256_SCHEDULE(m0, m1, m2, 13);
    KESTRUNE_SHA256_SCHEDULE(m1, m2, m3, 14);
    KESTRUNE_SHA256_ROUNDS(m3, 15);

    state0 = _mm_add_epi32(state0, abef_saved);
    state1 = _mm_add_epi32(state1, cdgh_saved);
  }

  // Back from ABEF and CDGH to A..H.
  const __m128i feba = _mm_shuffle_epi32(state0, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(state1, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

#undef KESTRUNE_SHA256_SCHEDULE
#undef KESTRUNE_SHA256_ROUNDS

}  // namespace

Sha256BlockFunction Sha256BlocksHardware() {
  static const Sha256BlockFunction hardware =
      ProcessorHasShaExtensions() ? Sha256BlocksShaNi : nullptr;
  return hardware;
}

}  // namespace kestrune::core
