// The run-pair code shared by the two packed plane encodings. Internal: not
// installed.
//
// A run pair is two bytes: a count from 1 to 255, then the byte value that
// repeats count times. A coded stretch of bytes is its runs' pairs back to
// back; runs longer than 255 are split, the full 255-runs first, and a run
// never reaches past the end of the stretch being coded (so a line's code
// decodes to exactly that line).
//
// Both directions are hot paths (every packed line read or written goes
// through them), so they are written as inline functions: the storage
// classes, the benchmarks and the fuzz targets all compile the same code.
// The loops use SSE2 where the compiler offers it and plain C++ otherwise;
// both give the same bytes. On x86-64 the decoder also has an AVX-512 step
// for noise, chosen at run time; defining BTREEIMG_RUNPAIRS_SSE2_ONLY before
// the include leaves it out (and puts the functions in a namespace of their
// own, so that such a copy can live beside the library's), which is how the
// tests reach the SSE2 paths on a processor that has AVX-512.
#ifndef BTREEIMG_PLANESTORE_RUNPAIRS_H_
#define BTREEIMG_PLANESTORE_RUNPAIRS_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__) && \
    !defined(BTREEIMG_RUNPAIRS_SSE2_ONLY)
#include <immintrin.h>
#define BTREEIMG_RUNPAIRS_AVX512 1
#endif
#endif

namespace btreeimg::detail {
#if defined(BTREEIMG_RUNPAIRS_SSE2_ONLY)
inline namespace sse2_only {
#endif

// The longest run one pair can hold.
constexpr std::size_t kMaxRun = 255;

// Bytes of code that `n` bytes can need at most (every byte its own run).
constexpr std::size_t maxCodedSize(std::size_t n) { return 2 * n; }

namespace runpairs {

#if defined(__SSE2__)
// Unaligned 16-byte load and store.
inline __m128i load16(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store16(unsigned char* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

#endif

// Index of the lowest set bit. REQUIRES: bits != 0.
inline unsigned lowestBit(std::uint32_t bits) {
#if defined(__GNUC__) || defined(__clang__)
  return static_cast<unsigned>(__builtin_ctz(bits));
#else
  unsigned i = 0;
  while ((bits & 1u) == 0) {
    bits >>= 1;
    ++i;
  }
  return i;
#endif
}

// Returns the first index in [i, n) whose byte differs from `v`, or n.
inline std::size_t runEnd(const unsigned char* in, std::size_t i, std::size_t n,
                          unsigned char v) {
#if defined(__SSE2__)
  const __m128i pattern = _mm_set1_epi8(static_cast<char>(v));
  while (n - i >= 16) {
    const __m128i block = load16(in + i);
    const auto equal = static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(block, pattern)));
    if (equal != 0xFFFFu) return i + lowestBit(~equal);
    i += 16;
  }
#endif
  while (i < n && in[i] == v) ++i;
  return i;
}

// Codes in[0 .. n-1]. With kStore the pairs go to `out`, which must hold
// exactly the returned number of bytes (no store goes beyond it); without,
// only the size is computed. Returns the code's length in bytes.
template <bool kStore>
std::size_t codeRuns(const unsigned char* in, std::size_t n,
                     unsigned char* out) {
  std::size_t j = 0;
  std::size_t o = 0;
  while (j < n) {
#if defined(__SSE2__)
    // Stretches where no byte equals the next (noise, dithering) code as
    // pairs of count 1: sixteen bytes at a time while none of them starts a
    // longer run. Byte j + 15 is a single byte when it differs from j + 16,
    // so the look-ahead stays inside the stretch.
    const __m128i ones = _mm_set1_epi8(1);
    while (n - j >= 17) {
      const __m128i a = load16(in + j);
      const __m128i b = load16(in + j + 1);
      const auto equal =
          static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
      if (equal != 0) {
        const unsigned singles = lowestBit(equal);
        if (kStore) {
          for (unsigned k = 0; k < singles; ++k) {
            out[o + 2 * k] = 1;
            out[o + 2 * k + 1] = in[j + k];
          }
        }
        o += 2 * singles;
        j += singles;
        break;
      }
      if (kStore) {
        store16(out + o, _mm_unpacklo_epi8(ones, a));
        store16(out + o + 16, _mm_unpackhi_epi8(ones, a));
      }
      o += 32;
      j += 16;
    }
    if (j >= n) break;
#endif
    const unsigned char v = in[j];
    const std::size_t end = runEnd(in, j + 1, n, v);
    std::size_t length = end - j;
    j = end;
    while (length > kMaxRun) {
      if (kStore) {
        out[o] = static_cast<unsigned char>(kMaxRun);
        out[o + 1] = v;
      }
      o += 2;
      length -= kMaxRun;
    }
    if (kStore) {
      out[o] = static_cast<unsigned char>(length);
      out[o + 1] = v;
    }
    o += 2;
  }
  return o;
}

}  // namespace runpairs

// Length in bytes of the code of in[0 .. n-1] (what encodeRuns writes).
inline std::size_t codedSize(const unsigned char* in, std::size_t n) {
  return runpairs::codeRuns<false>(in, n, nullptr);
}

// Codes in[0 .. n-1] as run pairs into `out` and returns the code's length.
// Runs are split at 255 and never reach past in[n - 1].
// REQUIRES: out holds codedSize(in, n) bytes (maxCodedSize(n) always
// suffices); nothing is written beyond the returned length.
inline std::size_t encodeRuns(const unsigned char* in, std::size_t n,
                              unsigned char* out) {
  return runpairs::codeRuns<true>(in, n, out);
}

namespace runpairs {

#if defined(__SSE2__)
// Count bytes sit at even offsets of the pairs: compared 16 bits at a time
// with 1, a pair of count 1 is the byte pair (1, value) and sets the even
// byte of the comparison.
inline __m128i countIsOne(__m128i pairs) {
  return _mm_cmpeq_epi8(pairs, _mm_set1_epi16(1));
}

// The value bytes of sixteen pairs, in order.
inline __m128i valuesOf(__m128i firstEight, __m128i nextEight) {
  return _mm_packus_epi16(_mm_srli_epi16(firstEight, 8),
                          _mm_srli_epi16(nextEight, 8));
}

// Bit 2i of the result is set when pair i of the sixteen pairs in `first`
// and `next` (32 bytes) satisfies the byte test `test` on its count.
inline std::uint32_t countMask(__m128i firstTest, __m128i nextTest) {
  return (static_cast<std::uint32_t>(_mm_movemask_epi8(firstTest)) |
          static_cast<std::uint32_t>(_mm_movemask_epi8(nextTest)) << 16) &
         0x55555555u;
}
constexpr std::uint32_t kAllSixteen = 0x55555555u;

// True when every count of the sixteen pairs lies in 1 .. 16.
inline bool allShort(__m128i first, __m128i next) {
  const __m128i one = _mm_set1_epi8(1);
  const __m128i fifteen = _mm_set1_epi8(15);
  const __m128i zero = _mm_setzero_si128();
  const __m128i a = _mm_subs_epu8(_mm_sub_epi8(first, one), fifteen);
  const __m128i b = _mm_subs_epu8(_mm_sub_epi8(next, one), fifteen);
  return countMask(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(b, zero)) ==
         kAllSixteen;
}

// True when none of the sixteen pairs has count 0.
inline bool noZeroCount(__m128i first, __m128i next) {
  const __m128i zero = _mm_setzero_si128();
  return countMask(_mm_cmpeq_epi8(first, zero), _mm_cmpeq_epi8(next, zero)) ==
         0;
}

// True when all sixteen pairs in `first` and `next` have count 1. The same
// answer as countMask(countIsOne(...)) == kAllSixteen with one movemask
// instead of two and no shifts: in the loop over noise that difference is
// about 15% of the decoding time.
inline bool allCountOne(__m128i first, __m128i next) {
  const __m128i countByte = _mm_set1_epi16(0x00FF);
  const __m128i one = _mm_set1_epi16(1);
  const __m128i both =
      _mm_and_si128(_mm_cmpeq_epi16(_mm_and_si128(first, countByte), one),
                    _mm_cmpeq_epi16(_mm_and_si128(next, countByte), one));
  return _mm_movemask_epi8(both) == 0xFFFF;
}

// Sum of the counts of the sixteen pairs.
inline std::size_t countSum(__m128i first, __m128i next) {
  const __m128i counts = _mm_set1_epi16(0x00FF);
  const __m128i sums = _mm_add_epi64(
      _mm_sad_epu8(_mm_and_si128(first, counts), _mm_setzero_si128()),
      _mm_sad_epu8(_mm_and_si128(next, counts), _mm_setzero_si128()));
  return static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
         static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
}

// Sixteen pairs of count 1 but one of count 2, pair k (the common break in
// noise): their seventeen bytes, exactly, in two overlapping stores. The
// second holds the values up to pair k and, from there on, the values one
// place later.
inline void expandOneDouble(__m128i values, unsigned k, unsigned char* out) {
  const __m128i index =
      _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i later =
      _mm_cmpgt_epi8(index, _mm_set1_epi8(static_cast<char>(k)));
  store16(out + 1, values);
  store16(out, _mm_or_si128(_mm_and_si128(later, _mm_slli_si128(values, 1)),
                            _mm_andnot_si128(later, values)));
}

// Stores v over out[0 .. 15] (a run of up to 16 bytes and what follows it).
inline void storeShortChunk(unsigned char* out, unsigned char v) {
  const std::uint64_t p = 0x0101010101010101ull * v;
  std::memcpy(out, &p, 8);
  std::memcpy(out + 8, &p, 8);
}

#if defined(BTREEIMG_RUNPAIRS_AVX512)
// Whether the processor has what expandNoise128 needs (asked once).
inline bool haveAvx512Vbmi() {
  static const bool kHave =
      __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") &&
      __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("bmi") &&
      __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
  return kHave;
}

// Where thirty-two pairs of count 1 and at most one of count 2 go: their
// values in one store, then, if pair k has count 2, the values from k on
// once more, one place later, which repeats value k and moves the rest up.
// Without a 2 the second store's mask is empty: one store in every step
// costs less than a branch that noise mispredicts. Writes 32 or 33 bytes,
// exactly, and returns how many.
__attribute__((target("avx512bw,avx512vl,bmi,bmi2"))) inline std::size_t
storeOnesAndOneTwo(__m256i values, std::uint32_t twos, unsigned char* out) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), values);
  const auto fromTheTwo = static_cast<std::uint32_t>(
      _bzhi_u64(~std::uint64_t{0} << _tzcnt_u32(twos), 32));
  _mm256_mask_storeu_epi8(out + 1, fromTheTwo, values);
  return 32 + (twos != 0 ? 1 : 0);
}

// Where thirty-two pairs of count 1 or 2 go, the first `pairs` of them
// (all 32 in `whole` form): their values in one store, then, for the j-th
// pair of count 2 (pair k), the values from k on once more, j places
// later. Each such store repeats value k and moves the values behind it up
// one place: a value ends where the last store that reaches it puts it, and
// the store before that one leaves the first byte of a count of 2. Bit k of
// `twos`: pair k has count 2 (none at or past `pairs`). Writes pairs + (the
// number of 2s) bytes, exactly, and returns how many.
template <bool kWhole>
__attribute__((target("avx512bw,avx512vl,bmi,bmi2,popcnt"))) inline std::size_t
storeOnesAndTwos(__m256i values, std::uint32_t twos, unsigned pairs,
                 unsigned char* out) {
  const std::uint32_t present = kWhole ? ~0u : _bzhi_u32(~0u, pairs);
  if (kWhole) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), values);
  } else {
    _mm256_mask_storeu_epi8(out, present, values);
  }
  std::uint32_t rest = twos;
  for (unsigned char* at = out + 1; rest != 0; ++at, rest &= rest - 1) {
    const auto fromTheTwo = static_cast<std::uint32_t>(
        _bzhi_u64(~std::uint64_t{0} << _tzcnt_u32(rest), 32));
    _mm256_mask_storeu_epi8(at, fromTheTwo & present, values);
  }
  return pairs + static_cast<unsigned>(_mm_popcnt_u32(twos));
}

// Whether all the counts of sixty-four pairs (`first`, `next`: 64 bytes
// each) are 1 or 2. Bit k of *firstTwos and *nextTwos: pair k of that half
// has count 2.
__attribute__((target("avx512bw"))) inline bool onesAndTwos(
    __m512i first, __m512i next, std::uint32_t* firstTwos,
    std::uint32_t* nextTwos) {
  const __m512i countByte = _mm512_set1_epi16(0x00FF);
  const __m512i one = _mm512_set1_epi16(1);
  const __m512i two = _mm512_set1_epi16(2);
  const __m512i firstCounts = _mm512_and_si512(first, countByte);
  const __m512i nextCounts = _mm512_and_si512(next, countByte);
  *firstTwos = _mm512_cmpeq_epi16_mask(firstCounts, two);
  *nextTwos = _mm512_cmpeq_epi16_mask(nextCounts, two);
  return ((_mm512_cmpeq_epi16_mask(firstCounts, one) | *firstTwos) &
          (_mm512_cmpeq_epi16_mask(nextCounts, one) | *nextTwos)) ==
         0xFFFFFFFFu;
}

// GCC 12 warns that the pass-through operand inside its own 512-to-256-bit
// extraction intrinsic may be used uninitialised; with an all-ones mask it
// never is.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// Noise, sixty-four pairs at a time while all their counts are 1 or 2.
// Noise has a count of 2 every 256 bytes or so, and two in the same
// thirty-two pairs about once a line: a branch on every 2 would
// mispredict, and each misprediction also stops the loads of the pairs
// ahead, so one 2 in each half is absorbed by a masked store instead, and
// only a second one takes a branch. One permute takes the sixty-four values
// out of 128 bytes of pairs. The last pairs of the code, fewer than
// sixty-four, take one more step with masked loads and stores. Goes on
// while 66 bytes of output remain; writes exactly the pairs' bytes.
// Returns the bytes of pairs taken in and adds the bytes stored to
// *written.
__attribute__((
    target("avx512bw,avx512vl,avx512vbmi,bmi,bmi2,popcnt"))) inline std::size_t
expandNoise128(const unsigned char* in, std::size_t inBytes, unsigned char* out,
               std::size_t outBytes, std::size_t* written) {
  // The odd bytes of two blocks of 64, in order: the pairs' values.
  alignas(64) static constexpr unsigned char kValueBytes[64] = {
      1,   3,   5,   7,   9,   11,  13,  15,  17,  19,  21,  23,  25,
      27,  29,  31,  33,  35,  37,  39,  41,  43,  45,  47,  49,  51,
      53,  55,  57,  59,  61,  63,  65,  67,  69,  71,  73,  75,  77,
      79,  81,  83,  85,  87,  89,  91,  93,  95,  97,  99,  101, 103,
      105, 107, 109, 111, 113, 115, 117, 119, 121, 123, 125, 127};
  const __m512i valueBytes = _mm512_load_si512(kValueBytes);
  // About one line's code ahead: the processor's own prefetch brings the
  // pairs in too late for a loop this fast.
  constexpr std::uintptr_t kPrefetchAhead = 8192;
  std::size_t i = 0, o = 0;
  while (inBytes - i >= 128 && outBytes - o >= 66) {
    // A prefetch never faults, so it may reach past the pairs; its address
    // is only computed, never read through.
    const std::uintptr_t ahead =
        reinterpret_cast<std::uintptr_t>(in + i) + kPrefetchAhead;
    _mm_prefetch(reinterpret_cast<const char*>(ahead), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(ahead + 64), _MM_HINT_T0);
    const __m512i first = _mm512_loadu_si512(in + i);
    const __m512i next = _mm512_loadu_si512(in + i + 64);
    std::uint32_t firstTwos = 0, nextTwos = 0;
    if (!onesAndTwos(first, next, &firstTwos, &nextTwos)) break;
    const __m512i values = _mm512_permutex2var_epi8(first, valueBytes, next);
    const std::uint32_t secondTwos =
        (firstTwos & (firstTwos - 1)) | (nextTwos & (nextTwos - 1));
    if (secondTwos == 0) {
      o += storeOnesAndOneTwo(_mm512_castsi512_si256(values), firstTwos,
                              out + o);
      o += storeOnesAndOneTwo(_mm512_extracti64x4_epi64(values, 1), nextTwos,
                              out + o);
    } else {
      // The loop makes sure of room for 64 + 2 bytes; with two or more 2s
      // in a half, up to 64 + 64 are written.
      if (outBytes - o < 128) break;
      o += storeOnesAndTwos<true>(_mm512_castsi512_si256(values), firstTwos, 32,
                                  out + o);
      o += storeOnesAndTwos<true>(_mm512_extracti64x4_epi64(values, 1),
                                  nextTwos, 32, out + o);
    }
    i += 128;
  }
  // The last pairs: the loads take only their bytes (the lanes past them
  // read as count 1, so that only the pairs present are tested), and the
  // stores write only their output.
  const std::size_t pairs = (inBytes - i) / 2;
  if (pairs != 0 && pairs < 64) {
    const __m512i one = _mm512_set1_epi16(1);
    const auto firstPairs =
        static_cast<unsigned>(std::min<std::size_t>(pairs, 32));
    const auto nextPairs = static_cast<unsigned>(pairs) - firstPairs;
    const __m512i first = _mm512_mask_loadu_epi8(
        one, _bzhi_u64(~std::uint64_t{0}, 2 * firstPairs), in + i);
    const __m512i next =
        nextPairs != 0
            ? _mm512_mask_loadu_epi8(
                  one, _bzhi_u64(~std::uint64_t{0}, 2 * nextPairs), in + i + 64)
            : one;
    std::uint32_t firstTwos = 0, nextTwos = 0;
    if (onesAndTwos(first, next, &firstTwos, &nextTwos) &&
        outBytes - o >=
            pairs + static_cast<std::size_t>(_mm_popcnt_u32(firstTwos) +
                                             _mm_popcnt_u32(nextTwos))) {
      const __m512i values = _mm512_permutex2var_epi8(first, valueBytes, next);
      o += storeOnesAndTwos<false>(_mm512_castsi512_si256(values), firstTwos,
                                   firstPairs, out + o);
      o += storeOnesAndTwos<false>(_mm512_extracti64x4_epi64(values, 1),
                                   nextTwos, nextPairs, out + o);
      i += 2 * pairs;
    }
  }
  *written += o;
  return i;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

// Adds the counts of the pairs from `ahead` on to `covered` until it reaches
// `wanted` or the complete pairs run out, eight pairs at a time where it can.
inline void lookAhead(const unsigned char*& ahead, const unsigned char* inEnd,
                      std::size_t& covered, std::size_t wanted) {
  const __m128i counts = _mm_set1_epi16(0x00FF);
  while (covered < wanted) {
    if (inEnd - ahead >= 16) {
      const __m128i sums = _mm_sad_epu8(_mm_and_si128(load16(ahead), counts),
                                        _mm_setzero_si128());
      covered += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                 static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
      ahead += 16;
    } else if (inEnd - ahead >= 2) {
      covered += ahead[0];
      ahead += 2;
    } else {
      return;
    }
  }
}

// Fills out[0 .. n-1] with v, for 16 <= n <= 255, exactly: by size class,
// the same number of 16-byte stores from the start and back from the end,
// overlapping in the middle. No loop (compilers turn a store loop into a
// memset, which costs more than the stores on runs this short).
inline void fillLongRun(unsigned char* out, unsigned char v, std::size_t n) {
  const __m128i p = _mm_set1_epi8(static_cast<char>(v));
  unsigned char* back = out + n;
  if (n > 64) {
    if (n > 128) {
      for (int k = 0; k < 8; ++k) {
        store16(out + 16 * k, p);
        store16(back - 16 * (k + 1), p);
      }
      return;
    }
    for (int k = 0; k < 4; ++k) {
      store16(out + 16 * k, p);
      store16(back - 16 * (k + 1), p);
    }
    return;
  }
  if (n > 32) {
    store16(out + 16, p);
    store16(back - 32, p);
  }
  store16(out, p);
  store16(back - 16, p);
}
#endif

// Fills out[0 .. n-1] with v, for 1 <= n <= 255, exactly. Short runs are
// written with a few overlapping stores instead of a call.
inline void fillRun(unsigned char* out, unsigned char v, std::size_t n) {
  if (n <= 16) {
    if (n >= 8) {
      const std::uint64_t p = 0x0101010101010101ull * v;
      std::memcpy(out, &p, 8);
      std::memcpy(out + n - 8, &p, 8);
    } else if (n >= 4) {
      const std::uint32_t p = 0x01010101u * v;
      std::memcpy(out, &p, 4);
      std::memcpy(out + n - 4, &p, 4);
    } else {
      out[0] = v;
      out[n / 2] = v;
      out[n - 1] = v;
    }
    return;
  }
#if defined(__SSE2__)
  fillLongRun(out, v, n);
#else
  std::memset(out, v, n);
#endif
}

}  // namespace runpairs

// Expands the pairs in [in, inEnd) into out[0 .. outSize-1] and returns the
// number of bytes written, counted from out[0].
// Never reads at or past inEnd and never writes at or past out + outSize:
// a run that would cross the end of the output is clipped, a lone byte at
// the end of the input is ignored, and a pair of count 0 is skipped. Bytes
// of the output behind the returned count are left as they were.
//
// With SSE2 the runs are stored in whole chunks (16 bytes for a run of up
// to 16, 64 or 256 for a longer one) without branching on their lengths,
// wherever the pairs behind them are known to store their own bytes over
// the part of a chunk past its run: then nothing is left standing past what
// the pairs cover. The last bytes of the output, and of the input, are done
// exactly, pair by pair.
inline std::size_t expandRuns(const unsigned char* in,
                              const unsigned char* inEnd, unsigned char* out,
                              std::size_t outSize) {
  std::size_t written = 0;
#if defined(__SSE2__)
  // The pairs in [in, ahead) expand to covered - written bytes; `ahead` is
  // moved on eight pairs at a time when a chunk needs more.
  const unsigned char* ahead = in;
  std::size_t covered = 0;
  const auto pairsCover = [&](std::size_t need) {
    if (outSize - written < need) return false;
    if (ahead < in) {
      ahead = in;
      covered = written;
    }
    if (covered - written < need) {
      runpairs::lookAhead(ahead, inEnd, covered, written + 2 * need);
    }
    return covered - written >= need;
  };
  for (;;) {
    // Step 1: sixteen short pairs at a time. All of count 1 (noise): their
    // values in one store. All of count 1 but one of count 2: two stores.
    // Counts from 1 to 16 (gradients): a 16-byte chunk per pair, each
    // stored over the excess of the one before; the sixteen pairs behind
    // them, present and none of count 0, cover the last chunk's excess.
    // A long first pair goes straight to step 2: where runs are long (line
    // art), testing sixteen pairs that cannot all be short would cost as
    // much as storing the run.
    while (inEnd - in >= 32 && in[0] <= 16) {
      const __m128i a = runpairs::load16(in);
      const __m128i b = runpairs::load16(in + 16);
      const std::uint32_t ones =
          runpairs::countMask(runpairs::countIsOne(a), runpairs::countIsOne(b));
      if (ones == runpairs::kAllSixteen) {
        if (outSize - written < 16) break;
        runpairs::store16(out + written, runpairs::valuesOf(a, b));
        in += 32;
        written += 16;
#if defined(BTREEIMG_RUNPAIRS_AVX512)
        // Noise goes on with counts of 1 and 2, 128 bytes of pairs at a time.
        if (runpairs::haveAvx512Vbmi()) {
          in += runpairs::expandNoise128(
              in, static_cast<std::size_t>(inEnd - in), out + written,
              outSize - written, &written);
        }
#endif
        // The rest of a stretch of count 1 in a loop of its own that counts
        // its steps ahead: its one test per step is whether all sixteen
        // counts are 1.
        for (std::size_t steps =
                 std::min(static_cast<std::size_t>(inEnd - in) / 32,
                          (outSize - written) / 16);
             steps != 0; --steps) {
          const __m128i c = runpairs::load16(in);
          const __m128i d = runpairs::load16(in + 16);
          if (!runpairs::allCountOne(c, d)) break;
          runpairs::store16(out + written, runpairs::valuesOf(c, d));
          in += 32;
          written += 16;
        }
        continue;
      }
      const __m128i two = _mm_set1_epi16(2);
      const std::uint32_t twos =
          runpairs::countMask(_mm_cmpeq_epi8(a, two), _mm_cmpeq_epi8(b, two));
      if ((ones | twos) == runpairs::kAllSixteen && (twos & (twos - 1)) == 0 &&
          outSize - written >= 17) {
        runpairs::expandOneDouble(runpairs::valuesOf(a, b),
                                  runpairs::lowestBit(twos) / 2, out + written);
        in += 32;
        written += 17;
        continue;
      }
      if (!runpairs::allShort(a, b) || inEnd - in < 64 ||
          outSize - written < runpairs::countSum(a, b) + 16 ||
          !runpairs::noZeroCount(runpairs::load16(in + 32),
                                 runpairs::load16(in + 48))) {
        break;
      }
      for (int j = 0; j < 16; ++j) {
        runpairs::storeShortChunk(out + written, in[2 * j + 1]);
        written += in[2 * j];
      }
      in += 32;
    }
    // Step 2: one pair, as a chunk of 16, 64 or 256 bytes when the pairs
    // behind it cover the chunk's excess and the output has room for it.
    if (inEnd - in < 2) break;
    const std::size_t count = in[0];
    if (count <= 16) {
      if (!pairsCover(16)) break;
      runpairs::storeShortChunk(out + written, in[1]);
    } else {
      const __m128i p = _mm_set1_epi8(static_cast<char>(in[1]));
      if (count <= 64) {
        if (!pairsCover(64)) break;
        for (int k = 0; k < 64; k += 16)
          runpairs::store16(out + written + k, p);
      } else {
        if (!pairsCover(256)) break;
        for (int k = 0; k < 256; k += 16) {
          runpairs::store16(out + written + k, p);
        }
      }
    }
    written += count;
    in += 2;
  }
#endif
  // Step 3: pair by pair, exactly; a run that reaches the end of the output
  // is clipped there.
  while (inEnd - in >= 2 && written < outSize) {
    const std::size_t count = in[0];
    const std::size_t room = outSize - written;
    if (count >= room) {
      runpairs::fillRun(out + written, in[1], room);
      return outSize;
    }
    if (count != 0) runpairs::fillRun(out + written, in[1], count);
    written += count;
    in += 2;
  }
  return written;
}

#if defined(BTREEIMG_RUNPAIRS_SSE2_ONLY)
}  // namespace sse2_only
#endif
}  // namespace btreeimg::detail

#endif  // BTREEIMG_PLANESTORE_RUNPAIRS_H_
