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

// What the structural check found in an image file about to be opened.
struct Inspection {
  int verdict = 0;                    // an ImageCheck::Verdict
  std::vector<std::string> problems;  // one text each, empty when sound
  std::string summary;                // ImageCheck::Summary(): "" when sound
};

// Inspects `path` before it is opened as an image, so that every front end
// gives a damaged file the same verdict. Throws CFileException* when the
// file cannot be opened, and FormatProblem ("<path>: <why>") when the check
// finds it unusable (naming the kind of file its first bytes show, where
// they show a common one: "a PNG file, not a btreeimg image") or, unless
// `lenient`, damaged (the check's summary).
Inspection inspectForOpening(const std::string& path, bool lenient);

// Why the colour rule file `path` cannot drive a coverage, or "" when it can:
// "COLCOPER" values, as many "COLTEST" and "COLSOST" values, and decimal
// numbers in every rule whose cover value is not empty. A file that cannot
// be opened throws CFileException*.
std::string rulesProblem(const std::string& path);

}  // namespace btreeimg::python

#endif  // BTREEIMG_PYTHON_CHECKING_H_
