#include "Checking.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "Errors.h"
#include "framework/CPtrList.h"
#include "framework/CString.h"
#include "image/ImageCheck.h"
#include "settings/AsKeyDat.h"

namespace btreeimg::python {
namespace {

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

bool isNumber(const char* text) {
  char* end = nullptr;
  std::strtol(text, &end, 10);
  return end != text;
}

}  // namespace

std::vector<std::string> checkImage(const std::string& path) {
  const int descriptor = openForReading(path);
  ImageCheck check;
  check.InspectDescriptor(descriptor);
  ::close(descriptor);
  return problemsOf(check);
}

std::vector<std::string> problemsOf(const ImageCheck& check) {
  std::vector<std::string> problems;
  const CStringArray& found = check.Problems();
  for (int i = 0; i < found.GetSize(); ++i) {
    problems.emplace_back(found.GetAt(i).GetString());
  }
  return problems;
}

std::string lookalike(const unsigned char* head, std::size_t size) {
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
  for (const auto& format : kFormats) {
    if (size >= format.length &&
        std::memcmp(head, format.signature, format.length) == 0) {
      return format.name;
    }
  }
  return "";
}

std::string rulesProblem(const std::string& path) {
  ::close(openForReading(path));
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
