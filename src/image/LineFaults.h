// What can be wrong with one line of a packed plane, in the words of the
// structural inspection; shared by the inspection and the reader that reads
// a file line by line. Internal: not installed.
#ifndef BTREEIMG_IMAGE_LINEFAULTS_H_
#define BTREEIMG_IMAGE_LINEFAULTS_H_

#include <algorithm>
#include <cstdint>
#include <string>

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "framework/Types.h"

namespace btreeimg::detail {

// Line `line`'s table entries `begin` and `end` against the `codeRoom` bytes
// of code the region holds: the problem, or "" when its code lies inside.
std::string packedEntriesFault(ULONGLONG line, std::uint32_t begin,
                               std::uint32_t end, ULONGLONG codeRoom);
// Line `line`'s `length` bytes of code at `code` against the line length
// `width`: the problem, or "" when its pairs decode to exactly the line.
std::string packedCodeFault(ULONGLONG line, const unsigned char* code,
                            ULONGLONG length, unsigned int width);

// Whether the `length` bytes of pairs at `code` decode to exactly `width`
// bytes, in whole pairs, none of count 0: the quick test that
// packedCodeFault's words are not needed.
inline bool soundLineCode(const unsigned char* code, ULONGLONG length,
                          unsigned int width) {
  if (length % 2 != 0) return false;
  ULONGLONG decoded = 0;
  ULONGLONG i = 0;
#if defined(__SSE2__) && defined(__x86_64__)
  // Eight pairs at a time: the counts (the even bytes) summed, and any
  // count of 0 noted.
  const __m128i counts = _mm_set1_epi16(0x00FF);
  __m128i sums = _mm_setzero_si128();
  __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= length; i += 16) {
    const __m128i pairs = _mm_and_si128(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(code + i)), counts);
    sums = _mm_add_epi64(sums, _mm_sad_epu8(pairs, _mm_setzero_si128()));
    zero = _mm_or_si128(zero, _mm_cmpeq_epi16(pairs, _mm_setzero_si128()));
  }
  if (_mm_movemask_epi8(zero) != 0) return false;
  decoded = static_cast<ULONGLONG>(_mm_cvtsi128_si64(sums)) +
            static_cast<ULONGLONG>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
#endif
  unsigned char least = 255;
  for (; i < length; i += 2) {
    decoded += code[i];
    least = std::min(least, code[i]);
  }
  return decoded == width && least != 0;
}

}  // namespace btreeimg::detail

#endif  // BTREEIMG_IMAGE_LINEFAULTS_H_
