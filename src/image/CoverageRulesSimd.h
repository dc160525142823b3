// The vector methods of the coverage engine (see image/CoverageRules.h):
// the vector traits of each instruction set, and the one engine body
// (image/CoverageEngine.inc) compiled for each. Internal: not installed.
//
//   coverage::sse2::VectorEngine<Sse2Vector>  16 columns at a time
//   coverage::avx2::VectorEngine<Avx2Vector>  32 columns at a time
//   coverage::avx512::classesLine               64 columns, classes only
//
// The library stays built for baseline x86-64: the AVX2 traits carry their
// own target attribute, and the AVX2 engine is compiled inside a region that
// gives each of its functions that attribute (a function compiled for
// baseline x86-64 cannot take AVX2 code inlined, nor pass AVX2 vectors).
// Each body lives in a namespace of its own, so that no function compiled for
// AVX2 is ever shared, under one name, with code that runs without it; the
// caller runs the AVX2 engine only where the processor has AVX2.
#ifndef BTREEIMG_IMAGE_COVERAGERULESSIMD_H_
#define BTREEIMG_IMAGE_COVERAGERULESSIMD_H_

#include <cstddef>
#include <cstdint>

#include "image/CoverageTables.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#if (defined(__GNUC__) || defined(__clang__)) && \
    (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define BTREEIMG_COVERAGE_AVX2 1
#endif
#endif

namespace btreeimg::detail::coverage {

#if defined(__SSE2__)

// Each byte value in all 16 lanes: SSE2 has no single-instruction
// broadcast of a byte.
struct SplatTable {
  alignas(16) unsigned char v[256][16];
  constexpr SplatTable() : v() {
    for (unsigned i = 0; i < 256; ++i) {
      for (unsigned k = 0; k < 16; ++k) v[i][k] = static_cast<unsigned char>(i);
    }
  }
};
inline constexpr SplatTable kSplat{};

struct Sse2Vector {
  using Type = __m128i;
  static constexpr std::size_t kWidth = 16;
  static constexpr bool kShuffle = false;  // SSE2 has no byte shuffle
  static Type load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  static void store(unsigned char* p, Type v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  }
  static Type splat(unsigned char v) { return load(kSplat.v[v]); }
  static Type zero() { return _mm_setzero_si128(); }
  static Type eq(Type a, Type b) { return _mm_cmpeq_epi8(a, b); }
  static Type bitAnd(Type a, Type b) { return _mm_and_si128(a, b); }
  static Type bitOr(Type a, Type b) { return _mm_or_si128(a, b); }
  static Type bitXor(Type a, Type b) { return _mm_xor_si128(a, b); }
  static Type select(Type mask, Type a, Type b) {
    return _mm_or_si128(_mm_and_si128(mask, b), _mm_andnot_si128(mask, a));
  }
  static bool allSet(Type m) { return _mm_movemask_epi8(m) == 0xFFFF; }
  static bool anySet(Type m) { return _mm_movemask_epi8(m) != 0; }
};

namespace sse2 {
#include "image/CoverageEngine.inc"  // IWYU pragma: keep
}  // namespace sse2

#endif  // __SSE2__

#if defined(BTREEIMG_COVERAGE_AVX2)

#define BTREEIMG_AVX2 __attribute__((target("avx2")))
struct Avx2Vector {
  using Type = __m256i;
  static constexpr std::size_t kWidth = 32;
  static constexpr bool kShuffle = true;
  BTREEIMG_AVX2 static Type load(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  BTREEIMG_AVX2 static void store(unsigned char* p, Type v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
  }
  BTREEIMG_AVX2 static Type splat(unsigned char v) {
    return _mm256_set1_epi8(static_cast<char>(v));
  }
  BTREEIMG_AVX2 static Type zero() { return _mm256_setzero_si256(); }
  BTREEIMG_AVX2 static Type eq(Type a, Type b) {
    return _mm256_cmpeq_epi8(a, b);
  }
  BTREEIMG_AVX2 static Type bitAnd(Type a, Type b) {
    return _mm256_and_si256(a, b);
  }
  BTREEIMG_AVX2 static Type bitOr(Type a, Type b) {
    return _mm256_or_si256(a, b);
  }
  BTREEIMG_AVX2 static Type bitXor(Type a, Type b) {
    return _mm256_xor_si256(a, b);
  }
  BTREEIMG_AVX2 static Type select(Type mask, Type a, Type b) {
    return _mm256_blendv_epi8(a, b, mask);
  }
  BTREEIMG_AVX2 static Type shuffle(Type table, Type index) {
    return _mm256_shuffle_epi8(table, index);
  }
  BTREEIMG_AVX2 static Type shiftRight4(Type v) {
    return _mm256_srli_epi16(v, 4);
  }
  BTREEIMG_AVX2 static bool allSet(Type m) {
    return _mm256_movemask_epi8(m) == -1;
  }
  BTREEIMG_AVX2 static bool anySet(Type m) {
    return _mm256_movemask_epi8(m) != 0;
  }
};
#undef BTREEIMG_AVX2

// Every function defined from here to the end of the region is compiled
// for AVX2.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), \
                             apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace avx2 {
#include "image/CoverageEngine.inc"  // IWYU pragma: keep
}  // namespace avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

// The classes method 64 columns at a time with AVX-512BW, written on its
// own: its compares give bit masks, which choose the lanes a test value's
// shuffle writes (each lane gets at most one, the test values being
// distinct), and which also leave out the lanes whose value is not that of
// their class.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512bw"))), \
                             apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512bw")
#endif
namespace avx512 {

// A 16-byte table (the first half of a splat) in all four 16-byte lanes.
// (The zero-masking form: the plain one starts from an undefined vector,
// which some compilers warn about.)
inline __m512i table(const Splat& s) {
  return _mm512_maskz_broadcast_i32x4(
      0xFFFF, _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.v)));
}

template <bool kHitTables>
bool classesLine(const RuleTables& r, unsigned char* line,
                 const unsigned char* next, std::size_t n) {
  const ClassLanes& c = r.classes;
  const Splat* h = r.lanes.data() + c.hash;
  const __m512i nibble = _mm512_set1_epi8(0x0F);
  const __m512i low = table(h[1]), high = table(h[2]), value = table(h[3]);
  const Splat* groups = r.lanes.data() + c.test;
  const Splat* groupsEnd = groups + c.step * c.tests;
  __m512i hits = _mm512_setzero_si512();
  std::size_t x = 0;
  for (; x + 64 <= n; x += 64) {
    const __m512i l = _mm512_loadu_si512(line + x);
    const __m512i t = _mm512_loadu_si512(next + x);
    const __m512i cls = _mm512_xor_si512(
        _mm512_shuffle_epi8(low, _mm512_and_si512(l, nibble)),
        _mm512_shuffle_epi8(high,
                            _mm512_and_si512(_mm512_srli_epi16(l, 4), nibble)));
    const __mmask64 valid =
        _mm512_cmpeq_epi8_mask(_mm512_shuffle_epi8(value, cls), l);
    __m512i flip = _mm512_setzero_si512(), hit = _mm512_setzero_si512();
    for (const Splat* g = groups; g != groupsEnd; g += c.step) {
      const __mmask64 below =
          _mm512_mask_cmpeq_epi8_mask(valid, t, table(g[0]));
      flip = _mm512_mask_shuffle_epi8(flip, below, table(g[1]), cls);
      if constexpr (kHitTables) {
        hit = _mm512_mask_shuffle_epi8(hit, below, table(g[2]), cls);
      }
    }
    // Without hit tables every pair's XOR is non-zero: the flips are the
    // matches.
    hits = _mm512_or_si512(hits, kHitTables ? hit : flip);
    _mm512_storeu_si512(line + x, _mm512_xor_si512(l, flip));
  }
  const unsigned tail = r.tableLine(line + x, next + x, n - x);
  return _mm512_test_epi8_mask(hits, hits) != 0 || (tail & kHit) != 0;
}

inline bool classesLine(const RuleTables& r, unsigned char* line,
                        const unsigned char* next, std::size_t n) {
  return r.classes.hitTables ? classesLine<true>(r, line, next, n)
                             : classesLine<false>(r, line, next, n);
}

}  // namespace avx512
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif  // BTREEIMG_COVERAGE_AVX2

}  // namespace btreeimg::detail::coverage

#endif  // BTREEIMG_IMAGE_COVERAGERULESSIMD_H_
