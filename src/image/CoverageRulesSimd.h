// The vector methods of CoverageRules (see image/CoverageRules.h): compare
// and runs, 16 columns at a time with SSE2 and 32 with AVX2. Internal: not
// installed; included by image/CoverageRules.h.
//
// The AVX2 functions carry their own target attribute, so the library stays
// built for baseline x86-64; CoverageRules calls them only where the
// processor has AVX2.
#ifndef BTREEIMG_IMAGE_COVERAGERULESSIMD_H_
#define BTREEIMG_IMAGE_COVERAGERULESSIMD_H_

#include "image/CoverageRules.h"

namespace btreeimg::detail {

namespace coverage {

#if defined(__SSE2__)
inline __m128i load16(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store16(unsigned char* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

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
inline __m128i splat16(unsigned char v) { return load16(kSplat.v[v]); }
#endif

#if defined(BTREEIMG_COVERAGE_AVX2)
__attribute__((target("avx2"))) inline __m256i load32(const unsigned char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
__attribute__((target("avx2"))) inline void store32(unsigned char* p,
                                                    __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
__attribute__((target("avx2"))) inline __m256i splat32(unsigned char v) {
  return _mm256_set1_epi8(static_cast<char>(v));
}
#endif

}  // namespace coverage

#if defined(__SSE2__)

// 16 pixels `l` above `t` through the pairs; the lanes some rule matched
// are ORed into *hits. The pairs of a test value have distinct pixel
// values, so at most one matches a lane: ORing their XORs applies that one.
inline __m128i CoverageRules::compare16(__m128i l, __m128i t,
                                        __m128i* hits) const {
  __m128i flip = _mm_setzero_si128();
  for (const Group& group : groups_) {
    const Lanes* v = lanes_.data() + group.lane;
    const __m128i below = _mm_cmpeq_epi8(t, coverage::load16(v->v));
    for (const Lanes* end = v + 2 * group.pairs; v != end; v += 2) {
      const __m128i m =
          _mm_and_si128(below, _mm_cmpeq_epi8(l, coverage::load16(v[1].v)));
      flip = _mm_or_si128(flip, _mm_and_si128(m, coverage::load16(v[2].v)));
      *hits = _mm_or_si128(*hits, m);
    }
  }
  return _mm_xor_si128(l, flip);
}

// Compare over the whole line. kPairs from 1 to kMaxComparePairs: that many
// pairs, held in registers; 0: any number, through compare16.
template <std::size_t kPairs>
inline bool CoverageRules::compareLine16(unsigned char* line,
                                         const unsigned char* next,
                                         std::size_t n) const {
  using namespace coverage;
  __m128i hits = _mm_setzero_si128();
  std::size_t x = 0;
  if constexpr (kPairs == 0) {
    for (; x + 16 <= n; x += 16) {
      store16(line + x, compare16(load16(line + x), load16(next + x), &hits));
    }
  } else {
    __m128i test[kPairs], cover[kPairs], delta[kPairs];
    for (std::size_t i = 0; i < kPairs; ++i) {
      test[i] = load16(lanes_[pairLanes_[i].test].v);
      cover[i] = load16(lanes_[pairLanes_[i].cover].v);
      delta[i] = load16(lanes_[pairLanes_[i].cover + 1].v);
    }
    for (; x + 16 <= n; x += 16) {
      const __m128i l = load16(line + x), t = load16(next + x);
      __m128i flip = _mm_setzero_si128();
      for (std::size_t i = 0; i < kPairs; ++i) {
        const __m128i m = _mm_and_si128(_mm_cmpeq_epi8(t, test[i]),
                                        _mm_cmpeq_epi8(l, cover[i]));
        flip = _mm_or_si128(flip, _mm_and_si128(m, delta[i]));
        hits = _mm_or_si128(hits, m);
      }
      store16(line + x, _mm_xor_si128(l, flip));
    }
  }
  const unsigned tail = tableLine(line + x, next + x, n - x);
  return _mm_movemask_epi8(hits) != 0 || (tail & kHit) != 0;
}

// Runs, 16 columns at a time. a: the column before the block; b: the
// block's last column; each as its value below, its pixel value and its
// result, in all lanes.
inline bool CoverageRules::runsLine16(unsigned char* line,
                                      const unsigned char* next,
                                      std::size_t n) const {
  using namespace coverage;
  std::uint16_t e = entry(next[0], line[0]);
  unsigned any = e;
  __m128i ta = splat16(next[0]), pa = splat16(line[0]),
          qa = splat16(static_cast<unsigned char>(e));
  __m128i hits = _mm_setzero_si128();
  std::size_t x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m128i l = load16(line + x), t = load16(next + x);
    const __m128i ma =
        _mm_and_si128(_mm_cmpeq_epi8(l, pa), _mm_cmpeq_epi8(t, ta));
    if (_mm_movemask_epi8(ma) == 0xFFFF) {
      store16(line + x, qa);
      continue;
    }
    const unsigned char tLast = next[x + 15], pLast = line[x + 15];
    e = entry(tLast, pLast);
    any |= e;
    const __m128i tb = splat16(tLast), pb = splat16(pLast),
                  qb = splat16(static_cast<unsigned char>(e));
    const __m128i mb =
        _mm_and_si128(_mm_cmpeq_epi8(l, pb), _mm_cmpeq_epi8(t, tb));
    if (_mm_movemask_epi8(_mm_or_si128(ma, mb)) == 0xFFFF) {
      store16(line + x,
              _mm_or_si128(_mm_and_si128(mb, qb), _mm_andnot_si128(mb, qa)));
    } else if (busyCompare_) {
      store16(line + x, compare16(l, t, &hits));
    } else {
      any |= tableLine(line + x, next + x, 16);
    }
    ta = tb;
    pa = pb;
    qa = qb;
  }
  any |= tableLine(line + x, next + x, n - x);
  return (any & kHit) != 0 || _mm_movemask_epi8(hits) != 0;
}

#endif  // __SSE2__

#if defined(BTREEIMG_COVERAGE_AVX2)

// The same three, 32 columns at a time.
__attribute__((target("avx2"))) inline __m256i CoverageRules::compare32(
    __m256i l, __m256i t, __m256i* hits) const {
  __m256i flip = _mm256_setzero_si256();
  for (const Group& group : groups_) {
    const Lanes* v = lanes_.data() + group.lane;
    const __m256i below = _mm256_cmpeq_epi8(t, coverage::load32(v->v));
    for (const Lanes* end = v + 2 * group.pairs; v != end; v += 2) {
      const __m256i m = _mm256_and_si256(
          below, _mm256_cmpeq_epi8(l, coverage::load32(v[1].v)));
      flip =
          _mm256_or_si256(flip, _mm256_and_si256(m, coverage::load32(v[2].v)));
      *hits = _mm256_or_si256(*hits, m);
    }
  }
  return _mm256_xor_si256(l, flip);
}

template <std::size_t kPairs>
__attribute__((target("avx2"))) inline bool CoverageRules::compareLine32(
    unsigned char* line, const unsigned char* next, std::size_t n) const {
  using namespace coverage;
  __m256i hits = _mm256_setzero_si256();
  std::size_t x = 0;
  if constexpr (kPairs == 0) {
    for (; x + 32 <= n; x += 32) {
      store32(line + x, compare32(load32(line + x), load32(next + x), &hits));
    }
  } else {
    __m256i test[kPairs], cover[kPairs], delta[kPairs];
    for (std::size_t i = 0; i < kPairs; ++i) {
      test[i] = load32(lanes_[pairLanes_[i].test].v);
      cover[i] = load32(lanes_[pairLanes_[i].cover].v);
      delta[i] = load32(lanes_[pairLanes_[i].cover + 1].v);
    }
    for (; x + 32 <= n; x += 32) {
      const __m256i l = load32(line + x), t = load32(next + x);
      __m256i flip = _mm256_setzero_si256();
      for (std::size_t i = 0; i < kPairs; ++i) {
        const __m256i m = _mm256_and_si256(_mm256_cmpeq_epi8(t, test[i]),
                                           _mm256_cmpeq_epi8(l, cover[i]));
        flip = _mm256_or_si256(flip, _mm256_and_si256(m, delta[i]));
        hits = _mm256_or_si256(hits, m);
      }
      store32(line + x, _mm256_xor_si256(l, flip));
    }
  }
  const unsigned tail = tableLine(line + x, next + x, n - x);
  return _mm256_movemask_epi8(hits) != 0 || (tail & kHit) != 0;
}

__attribute__((target("avx2"))) inline bool CoverageRules::runsLine32(
    unsigned char* line, const unsigned char* next, std::size_t n) const {
  using namespace coverage;
  std::uint16_t e = entry(next[0], line[0]);
  unsigned any = e;
  __m256i ta = splat32(next[0]), pa = splat32(line[0]),
          qa = splat32(static_cast<unsigned char>(e));
  __m256i hits = _mm256_setzero_si256();
  std::size_t x = 0;
  for (; x + 32 <= n; x += 32) {
    const __m256i l = load32(line + x), t = load32(next + x);
    const __m256i ma =
        _mm256_and_si256(_mm256_cmpeq_epi8(l, pa), _mm256_cmpeq_epi8(t, ta));
    if (_mm256_movemask_epi8(ma) == -1) {
      store32(line + x, qa);
      continue;
    }
    const unsigned char tLast = next[x + 31], pLast = line[x + 31];
    e = entry(tLast, pLast);
    any |= e;
    const __m256i tb = splat32(tLast), pb = splat32(pLast),
                  qb = splat32(static_cast<unsigned char>(e));
    const __m256i mb =
        _mm256_and_si256(_mm256_cmpeq_epi8(l, pb), _mm256_cmpeq_epi8(t, tb));
    if (_mm256_movemask_epi8(_mm256_or_si256(ma, mb)) == -1) {
      store32(line + x, _mm256_blendv_epi8(qa, qb, mb));
    } else if (busyCompare_) {
      store32(line + x, compare32(l, t, &hits));
    } else {
      any |= tableLine(line + x, next + x, 32);
    }
    ta = tb;
    pa = pb;
    qa = qb;
  }
  any |= tableLine(line + x, next + x, n - x);
  return (any & kHit) != 0 || _mm256_movemask_epi8(hits) != 0;
}

#endif  // BTREEIMG_COVERAGE_AVX2

}  // namespace btreeimg::detail

#endif  // BTREEIMG_IMAGE_COVERAGERULESSIMD_H_
