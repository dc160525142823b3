// Reading one colour value of a coverage rule. Internal: not installed.
#ifndef BTREEIMG_IMAGE_COVERAGECOLOUR_H_
#define BTREEIMG_IMAGE_COVERAGECOLOUR_H_

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace btreeimg::detail {

// Reads a colour value as "%d" does: leading white space, an optional sign,
// decimal digits; text after the number is ignored. Values beyond int are
// held at its limits. Returns false when the text does not begin with a
// decimal integer.
inline bool parseColour(const char* text, int* value) {
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text, &end, 10);
  if (end == text) return false;
  *value = parsed > INT_MAX   ? INT_MAX
           : parsed < INT_MIN ? INT_MIN
                              : static_cast<int>(parsed);
  return true;
}

}  // namespace btreeimg::detail

#endif  // BTREEIMG_IMAGE_COVERAGECOLOUR_H_
