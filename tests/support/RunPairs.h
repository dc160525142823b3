// Test helper: the run-pair code written out one byte at a time, as a
// reference the tests compare the library's coders against.
#ifndef BTREEIMG_TESTS_SUPPORT_RUNPAIRS_H_
#define BTREEIMG_TESTS_SUPPORT_RUNPAIRS_H_

#include <cstddef>
#include <vector>

namespace testfiles {

// The pairs (count 1..255, value) of `in`: each run of equal bytes, split
// every 255 bytes.
inline std::vector<unsigned char> runPairs(
    const std::vector<unsigned char>& in) {
  std::vector<unsigned char> out;
  for (std::size_t j = 0, count; j < in.size(); j += count) {
    for (count = 1;
         j + count < in.size() && in[j + count] == in[j] && count < 255;)
      ++count;
    out.insert(out.end(), {static_cast<unsigned char>(count), in[j]});
  }
  return out;
}

}  // namespace testfiles

#endif  // BTREEIMG_TESTS_SUPPORT_RUNPAIRS_H_
