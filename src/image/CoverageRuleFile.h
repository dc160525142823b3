// The colour rules of a coverage rule file, read and checked as a whole, with
// what is wrong with an unusable file in words.
//
// A rule file is a keyed value list (settings/AsKeyDat.h) with the keys
// COLCOPER (the cover colour), COLTEST (the test colour) and COLSOST (the
// substitute colour); rule i takes value i of each key, in file order:
//
//     COLCOPER 5
//     COLTEST 7
//     COLSOST 9
//
// Every pixel of plane 1 whose value is the cover colour and whose pixel in
// the same column of the following line is the test colour gets the
// substitute colour; rules act one after another (BtreeImg::CoperturaU8).
// A value is read as a decimal integer after any white space, and text after
// the number is ignored ("7 grey" is 7); a value beyond the range of int is
// held at its limit. There is a rule for each COLCOPER value; COLTEST and
// COLSOST may have more values than COLCOPER (the extra ones are unused) but
// not fewer.
#ifndef BTREEIMG_IMAGE_COVERAGERULEFILE_H_
#define BTREEIMG_IMAGE_COVERAGERULEFILE_H_

#include <vector>

#include "framework/CString.h"
#include "framework/Export.h"

namespace btreeimg {

// The rules of one rule file, read once by the constructor. Immutable
// afterwards; copyable.
class AFX_EXT_CLASS CoverageRuleFile {
 public:
  // One rule. `acts` is false for a rule whose cover value is empty, which
  // changes nothing (the other values are then not read).
  struct Rule {
    bool acts;  // the rule changes pixels (its COLCOPER value is not empty)
    int cover;  // COLCOPER: the colour that is covered
    int test;  // COLTEST: the colour tested beside it
    int subst;  // COLSOST: the colour put in its place
  };

  // Reads and checks the rule file `path` (null reads as ""). Never throws
  // for anything about the file: an unusable file is described by
  // problem(). Throws only when memory runs out (CMemoryException* or
  // std::bad_alloc).
  explicit CoverageRuleFile(const char* path);

  // True when the file was read whole and every rule is usable.
  bool usable() const { return problem_.IsEmpty(); }
  // What is wrong with the file, in words that do not name it (the caller
  // names it its own way); empty for a usable file. One of:
  //   "cannot be opened: <cause>"          (no such file, no permission, a
  //                                         folder, ...; see osError())
  //   "cannot be read: not a regular file" (a FIFO, a device, a socket)
  //   "cannot be read: <cause>"            (a read error; see osError())
  //   "a line lacks its key or its value"
  //   "no COLCOPER (cover colour) values"
  //   "<n> COLCOPER values but <m> COLTEST values" (or COLSOST)
  //   "rule <i>: the <KEY> value \"<text>\" is not a number" (i from 1)
  const CString& problem() const { return problem_; }
  // The operating system's error number when the file could not be opened or
  // read; 0 otherwise (also for a file that is not regular, and for every
  // problem of its content).
  int osError() const { return osError_; }
  // The path the rules were read from.
  const CString& path() const { return path_; }

  // The rules in file order: one for each COLCOPER value. Empty for an
  // unusable file.
  const std::vector<Rule>& rules() const { return rules_; }

 private:
  CString path_;
  CString problem_;
  int osError_ = 0;
  std::vector<Rule> rules_;
};

// The problem of the rule file `path` in words, as CoverageRuleFile's
// problem(); empty when the file is usable.
AFX_EXT_API CString coverageRulesProblem(const char* path);

}  // namespace btreeimg

#endif  // BTREEIMG_IMAGE_COVERAGERULEFILE_H_
