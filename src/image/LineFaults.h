// What can be wrong with one line of a packed plane, in the words of the
// structural inspection; shared by the inspection and the reader that reads
// a file line by line. Internal: not installed.
#ifndef BTREEIMG_IMAGE_LINEFAULTS_H_
#define BTREEIMG_IMAGE_LINEFAULTS_H_

#include <algorithm>
#include <cstdint>
#include <string>

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
  unsigned char least = 255;
  for (ULONGLONG i = 0; i < length; i += 2) {
    decoded += code[i];
    least = std::min(least, code[i]);
  }
  return decoded == width && least != 0;
}

}  // namespace btreeimg::detail

#endif  // BTREEIMG_IMAGE_LINEFAULTS_H_
