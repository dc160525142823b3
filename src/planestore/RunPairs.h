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
// both give the same bytes.
#ifndef BTREEIMG_PLANESTORE_RUNPAIRS_H_
#define BTREEIMG_PLANESTORE_RUNPAIRS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace btreeimg::detail {

// The longest run one pair can hold.
constexpr std::size_t kMaxRun = 255;

// Bytes of code that `n` bytes can need at most (every byte its own run).
constexpr std::size_t maxCodedSize(std::size_t n) { return 2 * n; }

namespace runpairs {

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
    const __m128i block =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const auto equal = static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(block, pattern)));
    if (equal != 0xFFFFu) return i + lowestBit(~equal);
    i += 16;
  }
#endif
  while (i < n && in[i] == v) ++i;
  return i;
}

// Fills out[0 .. n-1] with v, for 1 <= n <= 255. Short runs, the common case
// on line art, are written with a few overlapping stores instead of a call.
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
  if (n <= 32) {
    const __m128i p = _mm_set1_epi8(static_cast<char>(v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), p);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n - 16), p);
    return;
  }
#endif
  std::memset(out, v, n);
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
      const __m128i a =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + j));
      const __m128i b =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + j + 1));
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
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o),
                         _mm_unpacklo_epi8(ones, a));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + 16),
                         _mm_unpackhi_epi8(ones, a));
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

// Expands the pairs in [in, inEnd) into out[0 .. outSize-1] and returns the
// number of bytes written, counted from out[0].
// Never reads at or past inEnd and never writes at or past out + outSize:
// a run that would cross the end of the output is clipped, a lone byte at
// the end of the input is ignored, and a pair of count 0 is skipped. Bytes
// of the output behind the returned count are left as they were.
inline std::size_t expandRuns(const unsigned char* in,
                              const unsigned char* inEnd, unsigned char* out,
                              std::size_t outSize) {
  std::size_t written = 0;
  while (inEnd - in >= 2 && written < outSize) {
    if (in[0] == 1) {
#if defined(__SSE2__)
      // Stretches of count-1 pairs (noise) are de-interleaved sixteen pairs
      // at a time: keep the value bytes, check that every count byte is 1.
      const __m128i countIsOne = _mm_set1_epi16(1);
      while (inEnd - in >= 32 && outSize - written >= 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i b =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
        const auto low = static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(a, countIsOne)));
        const auto high = static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(b, countIsOne)));
        const std::uint32_t match = low | high << 16;
        if ((match & 0x55555555u) != 0x55555555u) break;
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + written),
            _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)));
        in += 32;
        written += 16;
      }
#endif
      while (inEnd - in >= 2 && written < outSize && in[0] == 1) {
        out[written++] = in[1];
        in += 2;
      }
      continue;
    }
    std::size_t count = in[0];
    if (count > outSize - written) count = outSize - written;
    if (count != 0) runpairs::fillRun(out + written, in[1], count);
    written += count;
    in += 2;
  }
  return written;
}

}  // namespace btreeimg::detail

#endif  // BTREEIMG_PLANESTORE_RUNPAIRS_H_
