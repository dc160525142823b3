// Structural checks from Python: image files and colour rule files.
#ifndef BTREEIMG_PYTHON_CHECKING_H_
#define BTREEIMG_PYTHON_CHECKING_H_

#include <cstddef>
#include <string>
#include <vector>

#include "image/ImageCheck.h"

namespace btreeimg::python {

// The problems ImageCheck finds in the file `path`, empty when it is sound
// (read with pread, never held whole in memory). A file that cannot be
// opened throws OsProblem (so that Python sees OSError with errno); one that
// is not an image at all gives the reason as its one problem.
std::vector<std::string> checkImage(const std::string& path);

// The problems of a finished inspection, one text each.
std::vector<std::string> problemsOf(const ImageCheck& check);

// "a PNG file" when the `size` first bytes of a file at `head` carry the
// signature of a common picture format, else "".
std::string lookalike(const unsigned char* head, std::size_t size);

// Why the colour rule file `path` cannot drive a coverage, or "" when it can,
// in btreeimg::CoverageRuleFile's words. A file that cannot be opened or
// read throws OsProblem.
std::string rulesProblem(const std::string& path);

}  // namespace btreeimg::python

#endif  // BTREEIMG_PYTHON_CHECKING_H_
