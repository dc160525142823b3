#include "Checking.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Errors.h"
#include "framework/CFile.h"
#include "framework/CPtrList.h"
#include "framework/CString.h"
#include "image/ImageCheck.h"
#include "settings/AsKeyDat.h"

namespace btreeimg::python {
namespace {

// Throws CFileException* (with errno) when `path` cannot be opened for
// reading (a folder counts as one that cannot), std::invalid_argument when
// it holds a NUL byte.
void requireReadable(const std::string& path) {
  CFile file(requirePath(path), CFile::modeRead | CFile::typeBinary);
  file.Close();
}

const char* valueAt(AsKeyDat& list, const char* key, int index) {
  CPtrList* values = list.getListOf(key);
  POSITION at = values ? values->FindIndex(index) : nullptr;
  const CString* text = at ? static_cast<const CString*>(values->GetAt(at)) : nullptr;
  return text ? text->GetString() : nullptr;
}

int valueCount(AsKeyDat& list, const char* key) {
  CPtrList* values = list.getListOf(key);
  return values ? values->GetCount() : 0;
}

// "a PNG file" when the first bytes of `path` carry the signature of a
// common picture format, else "".
std::string lookalike(const std::string& path) {
  static const struct {
    const char* signature;
    std::size_t length;
    const char* name;
  } kFormats[] = {
      {"\x89PNG\r\n\x1a\n", 8, "a PNG file"},
      {"II*\0", 4, "a TIFF file"},
      {"MM\0*", 4, "a TIFF file"},
      {"\xff\xd8\xff", 3, "a JPEG file"},
      {"GIF87a", 6, "a GIF file"},
      {"GIF89a", 6, "a GIF file"},
  };
  unsigned char head[8] = {};
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return "";
  const std::size_t got = std::fread(head, 1, sizeof head, file);
  std::fclose(file);
  for (const auto& format : kFormats) {
    if (got >= format.length &&
        std::memcmp(head, format.signature, format.length) == 0) {
      return format.name;
    }
  }
  return "";
}

bool isNumber(const char* text) {
  char* end = nullptr;
  std::strtol(text, &end, 10);
  return end != text;
}

}  // namespace

std::vector<std::string> checkImage(const std::string& path) {
  requireReadable(path);
  ImageCheck check;
  check.InspectFile(path.c_str());
  std::vector<std::string> problems;
  const CStringArray& found = check.Problems();
  for (int i = 0; i < found.GetSize(); ++i) {
    problems.emplace_back(found.GetAt(i).GetString());
  }
  return problems;
}

Inspection inspectForOpening(const std::string& path, bool lenient) {
  requireReadable(path);
  ImageCheck check;
  Inspection found;
  found.verdict = check.InspectFile(path.c_str());
  const CStringArray& problems = check.Problems();
  for (int i = 0; i < problems.GetSize(); ++i) {
    found.problems.emplace_back(problems.GetAt(i).GetString());
  }
  found.summary = check.Summary().GetString();
  if (found.verdict == ImageCheck::unusable) {
    const std::string other = lookalike(path);
    throw FormatProblem(path + ": " +
                        (other.empty() ? found.summary
                                       : other + ", not a btreeimg image"));
  }
  if (found.verdict == ImageCheck::damaged && !lenient) {
    throw FormatProblem(path + ": " + found.summary);
  }
  return found;
}

std::string rulesProblem(const std::string& path) {
  requireReadable(path);
  AsKeyDat list;
  if (list.createFromFile(path.c_str()) == 0) return "the file cannot be read";
  const int count = valueCount(list, "COLCOPER");
  if (count == 0) return "no COLCOPER (cover colour) values";
  for (const char* key : {"COLTEST", "COLSOST"}) {
    const int n = valueCount(list, key);
    if (n < count) {
      return std::to_string(count) + " COLCOPER values but " +
             std::to_string(n) + " " + key + " values";
    }
  }
  for (int i = 0; i < count; ++i) {
    const char* cover = valueAt(list, "COLCOPER", i);
    if (cover == nullptr || *cover == '\0') continue;  // a rule that does nothing
    for (const char* key : {"COLCOPER", "COLTEST", "COLSOST"}) {
      const char* value = valueAt(list, key, i);
      if (value == nullptr || !isNumber(value)) {
        return "rule " + std::to_string(i + 1) + ": the " + key +
               " value is not a number";
      }
    }
  }
  return "";
}

}  // namespace btreeimg::python
