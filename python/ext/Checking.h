// Structural checks from Python: image files and colour rule files.
#ifndef BTREEIMG_PYTHON_CHECKING_H_
#define BTREEIMG_PYTHON_CHECKING_H_

#include <string>
#include <vector>

namespace btreeimg::python {

// The problems ImageCheck finds in the file `path`, empty when it is sound.
// A file that cannot be opened throws the library's CFileException* (so that
// Python sees OSError with errno); one that is not an image at all gives the
// reason as its one problem.
std::vector<std::string> checkImage(const std::string& path);

// Why the colour rule file `path` cannot drive a coverage, or "" when it can:
// "COLCOPER" values, as many "COLTEST" and "COLSOST" values, and decimal
// numbers in every rule whose cover value is not empty. A file that cannot
// be opened throws CFileException*.
std::string rulesProblem(const std::string& path);

}  // namespace btreeimg::python

#endif  // BTREEIMG_PYTHON_CHECKING_H_
