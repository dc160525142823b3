// printf-style formatting into a std::string. Internal: not installed.
#ifndef BTREEIMG_FRAMEWORK_FORMATTEXT_H_
#define BTREEIMG_FRAMEWORK_FORMATTEXT_H_

#include <cstdarg>
#include <string>

namespace btreeimg::detail {

// The text `format` and `args` make; empty when the format is invalid.
// `args` is consumed.
std::string formatText(const char* format, va_list args);

}  // namespace btreeimg::detail

#endif  // BTREEIMG_FRAMEWORK_FORMATTEXT_H_
