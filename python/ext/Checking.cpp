#include "Checking.h"

#include <unistd.h>

#include <cstring>

#include "Errors.h"
#include "image/CoverageRuleFile.h"
#include "image/ImageCheck.h"

namespace btreeimg::python {
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
  const CoverageRuleFile rules(requirePath(path));
  if (rules.osError() != 0) throw OsProblem(rules.osError(), path);
  return rules.problem().GetString();
}

}  // namespace btreeimg::python
