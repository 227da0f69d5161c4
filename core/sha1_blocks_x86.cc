// SHA-1 on the x86 SHA extensions (SHA-NI), with SSSE3 for the byte shuffle
// and SSE4.1 for the lane extraction. Compiled for every x86 target but only
// called after the processor has said it has all three, so the instructions
// are enabled per function rather than for the whole build.
#include <cpuid.h>
#include <immintrin.h>

#include "core/sha1_blocks.h"

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

// Four rounds: `e` was derived from the previous state, `msg` holds the four
// words of this group; `f` selects the round function and constant.
#define KESTRUNE_SHA_ROUNDS(abcd, e0, e1, msg, f) \
  e0 = _mm_sha1nexte_epu32(e0, msg);              \
  e1 = abcd;                                      \
  abcd = _mm_sha1rnds4_epu32(abcd, e0, f)

__attribute__((target("sha,sse4.1,ssse3"))) void Sha1BlocksShaNi(std::uint32_t state[5],
                                                                 const std::uint8_t* blocks,
                                                                 std::size_t count) {
  const __m128i byte_swap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  abcd = _mm_shuffle_epi32(abcd, 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

  for (; count > 0; --count, blocks += 64) {
    const __m128i abcd_saved = abcd;
    const __m128i e_saved = e0;
    const auto* in = reinterpret_cast<const __m128i*>(blocks);
    __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), byte_swap);
    __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byte_swap);
    __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byte_swap);
    __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byte_swap);
    __m128i e1;

    // Rounds 0-3
    e0 = _mm_add_epi32(e0, m0);
    e1 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
    // Rounds 4-7
    KESTRUNE_SHA_ROUNDS(abcd, e1, e0, m1, 0);
    m0 = _mm_sha1msg1_epu32(m0, m1);
    // Rounds 8-11
    KESTRUNE_SHA_ROUNDS(abcd, e0, e1, m2, 0);
    m1 = _mm_sha1msg1_epu32(m1, m2);
    m0 = _mm_xor_si128(m0, m2);
    // Rounds 12-15
    KESTRUNE_SHA_ROUNDS(abcd, e1, e0, m3, 0);
    m0 = _mm_sha1msg2_epu32(m0, m3);
    m2 = _mm_sha1msg1_epu32(m2, m3);
    m1 = _mm_xor_si128(m1, m3);
    // Rounds 16-19
    KESTRUNE_SHA_ROUNDS(abcd, e0, e1, m0, 0);
    m1 = _mm_sha1msg2_epu32(m1, m0);
    m3 = _mm_sha1msg1_epu32(m3, m0);
    m2 = _mm_xor_si128(m2, m0);
    // Rounds 20-23
    KESTRUNE_SHA_ROUNDS(abcd, e1, e0, m1, 1);
    m2 = _mm_sha1msg2_epu32(m2, m1);
    m0 = _mm_sha1msg1_epu32(m0, m1);
    m3 = _mm_xor_si128(m3, m1);
    // Rounds 24-27
    KESTRUNE_SHA_ROUNDS(abcd, e0, e1, m2, 1);
    m3 = _mm_sha1msg2_epu32(m3, m2);
    m1 = _mm_sha1msg1_epu32(m1, m2);
    m0 = _mm_xor_si128(m0, m2);
    // Rounds 28-31
    KESTRUNE_SHA_ROUNDS(abcd, e1, e0, m3, 1);
    m0 = _mm_sha1msg2_epu32(m0, m3);
    m2 = _mm_sha1msg1_epu32(m2, m3);
    m1 = _mm_xor_si128(m1, m3);
    // Rounds 32-35
    KESTRUNE_SHA_ROUNDS(abcd, e0, e1, m0, 1);
    m1 = _mm_sha1msg2_epu32(m1, m0);
    m3 = _mm_sha1msg1_epu32(m3, m0);
    m2 = _mm_xor_si128(m2, m0);
    // Rounds 36-39
    KESTRUNE_SHA_ROUNDS(abcd, e1, e0, m1, 1);
    m2 = _mm_sha1msg2_epu32(m2, m1);
    m0 = _mm_sha1msg1_epu32(m0, m1);
    m3 = _mm_xor_si128(m3, m1);
    // Rounds 40-43
    KESTRUNE_SHA_ROUNDS(abcd, e0, e1, m2, 2);
    m3 = _mm_sha1msg2_epu32(m3, m2);
    m1 = _mm_sha1msg1_epu32(m1, m2);
    m0 = _mm_xor_si128(m0, m2);
    // Rounds 44-47
    KESTRUNE_SHA_ROUNDS(abcd, e1, e0, m3, 2);
    m0 = _mm_sha1msg2_epu32(m0, m3);
    m2 = _mm_sha1msg1_epu32(m2, m3);
    m1 = _mm_xor_si128(m1, m3);
    // Rounds 48-51
    KESTRUNE_SHA_ROUNDS(abcd, e0, e1, m0, 2);
    m1 = _mm_sha1msg2_epu32(m1, m0);
    m3 = _mm_sha1msg1_epu32(m3, m0);
    m2 = _mm_xor_si128(m2, m0);
    // Rounds 52-55
    KESTRUNE_SHA_ROUNDS(abcd, e1, e0, m1, 2);
    m2 = _mm_sha1msg2_epu32(m2, m1);
    m0 = _mm_sha1msg1_epu32(m0, m1);
    m3 = _mm_xor_si128(m3, m1);
    // Rounds 56-59
    KESTRUNE_SHA_ROUNDS(abcd, e0, e1, m2, 2);
    m3 = _mm_sha1msg2_epu32(m3, m2);
    m1 = _mm_sha1msg1_epu32(m1, m2);
    m0 = _mm_xor_si128(m0, m2);
    // Rounds 60-63
    KESTRUNE_SHA_ROUNDS(abcd, e1, e0, m3, 3);
    m0 = _mm_sha1msg2_epu32(m0, m3);
    m2 = _mm_sha1msg1_epu32(m2, m3);
    m1 = _mm_xor_si128(m1, m3);
    // Rounds 64-67
    KESTRUNE_SHA_ROUNDS(abcd, e0, e1, m0, 3);
    m1 = _mm_sha1msg2_epu32(m1, m0);
    m3 = _mm_sha1msg1_epu32(m3, m0);
    m2 = _mm_xor_si128(m2, m0);
    // Rounds 68-71
    KESTRUNE_SHA_ROUNDS(abcd, e1, e0, m1, 3);
    m2 = _mm_sha1msg2_epu32(m2, m1);
    m3 = _mm_xor_si128(m3, m1);
    // Rounds 72-75
    KESTRUNE_SHA_ROUNDS(abcd, e0, e1, m2, 3);
    m3 = _mm_sha1msg2_epu32(m3, m2);
    // Rounds 76-79
    KESTRUNE_SHA_ROUNDS(abcd, e1, e0, m3, 3);

    e0 = _mm_sha1nexte_epu32(e0, e_saved);
    abcd = _mm_add_epi32(abcd, abcd_saved);
  }

  abcd = _mm_shuffle_epi32(abcd, 0x1B);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), abcd);
  state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

#undef KESTRUNE_SHA_ROUNDS

}  // namespace

Sha1BlockFunction Sha1BlocksHardware() {
  static const Sha1BlockFunction hardware = ProcessorHasShaExtensions() ? Sha1BlocksShaNi : nullptr;
  return hardware;
}

}  // namespace kestrune::core
