#include "image/CoverageRuleFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "framework/CPtrList.h"
#include "framework/Exceptions.h"
#include "image/CoverageColour.h"
#include "settings/AsKeyDat.h"

namespace btreeimg {

namespace {

const char* const kKeys[3] = {"COLCOPER", "COLTEST", "COLSOST"};

int valueCount(AsKeyDat& list, const char* key) {
  CPtrList* values = list.getListOf(key);
  return values ? values->GetCount() : 0;
}

// The values of one key's list, one after another, from the first: each
// step moves on from the last value, so reading n values costs n steps.
class Values {
 public:
  Values(AsKeyDat& list, const char* key)
      : values_(list.getListOf(key)),
        at_(values_ ? values_->GetHeadPosition() : nullptr) {}
  // The next value; null past the last one or for an empty slot.
  const char* next() {
    if (at_ == nullptr) return nullptr;
    const auto* text = static_cast<const CString*>(values_->GetNext(at_));
    return text ? text->GetString() : nullptr;
  }

 private:
  CPtrList* values_;
  POSITION at_;
};

// "1 COLCOPER value", "2 COLTEST values".
std::string counted(int n, const char* key) {
  return std::to_string(n) + " " + key + (n == 1 ? " value" : " values");
}

// The problem of opening `path`, or "" when it is a regular file that can
// be opened. Opened without waiting for a writer, so that a FIFO is refused
// instead of blocking the read.
CString openingProblem(const char* path, int* osError) {
  int descriptor = -1;
  do {
    descriptor = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (descriptor < 0 && errno == EINTR);
  struct stat info {};
  int error = 0;
  if (descriptor < 0 || ::fstat(descriptor, &info) != 0) {
    error = errno;
  } else if (S_ISDIR(info.st_mode)) {
    error = EISDIR;
  }
  if (descriptor >= 0) ::close(descriptor);
  if (error != 0) {
    *osError = error;
    const CFileException cause(CFileException::OsErrorToException(error),
                               error);
    return "cannot be opened: " + describe(&cause);
  }
  if (!S_ISREG(info.st_mode)) return "cannot be read: not a regular file";
  return CString();
}

// Checks the lists of `list` and pairs them into `rules`. Returns the
// problem, or "".
CString pairRules(AsKeyDat& list, std::vector<CoverageRuleFile::Rule>* rules) {
  const int count = valueCount(list, "COLCOPER");
  if (count == 0) return "no COLCOPER (cover colour) values";
  for (const char* key : {"COLTEST", "COLSOST"}) {
    const int n = valueCount(list, key);
    if (n < count) {
      return (counted(count, "COLCOPER") + " but " + counted(n, key)).c_str();
    }
  }
  Values columns[3] = {{list, kKeys[0]}, {list, kKeys[1]}, {list, kKeys[2]}};
  for (int i = 0; i < count; ++i) {
    CoverageRuleFile::Rule rule{false, 0, 0, 0};
    // Rule i is value i of each key, whether the rule acts or not.
    const char* texts[3] = {columns[0].next(), columns[1].next(), columns[2].next()};
    const char* cover = texts[0];
    // A rule whose cover value is empty does nothing.
    if (cover != nullptr && *cover != '\0') {
      rule.acts = true;
      int* fields[3] = {&rule.cover, &rule.test, &rule.subst};
      for (int k = 0; k < 3; ++k) {
        const char* value = texts[k];
        if (value == nullptr || !detail::parseColour(value, fields[k])) {
          return ("rule " + std::to_string(i + 1) + ": the " + kKeys[k] +
                  " value \"" + (value ? value : "") + "\" is not a number")
              .c_str();
        }
      }
    }
    rules->push_back(rule);
  }
  return CString();
}

}  // namespace

CoverageRuleFile::CoverageRuleFile(const char* path) : path_(path ? path : "") {
  problem_ = openingProblem(path_, &osError_);
  if (!problem_.IsEmpty()) return;
  AsKeyDat list;
  try {
    if (list.createFromFile(path_) == 0) {
      problem_ = "a line lacks its key or its value";
      return;
    }
  } catch (CMemoryException*) {
    throw;
  } catch (CException* e) {
    if (const auto* fileError = dynamic_cast<CFileException*>(e)) {
      osError_ = fileError->m_lOsError > 0
                     ? static_cast<int>(fileError->m_lOsError)
                     : 0;
    }
    problem_ = "cannot be read: " + describe(e, false);
    e->Delete();
    return;
  }
  problem_ = pairRules(list, &rules_);
  if (!problem_.IsEmpty()) rules_.clear();
}

CString coverageRulesProblem(const char* path) {
  return CoverageRuleFile(path).problem();
}

}  // namespace btreeimg
