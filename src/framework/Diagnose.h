// How library code reaches the diagnostics sink. Internal: not installed.
#ifndef BTREEIMG_FRAMEWORK_DIAGNOSE_H_
#define BTREEIMG_FRAMEWORK_DIAGNOSE_H_

namespace btreeimg::detail {

// Formats with printf rules and hands the text to the installed sink; does
// nothing (not even the formatting) when no sink is installed.
void diagnose(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace btreeimg::detail

#endif  // BTREEIMG_FRAMEWORK_DIAGNOSE_H_
