// check: structural verification through the library's ImageCheck.
#include <algorithm>
#include <iostream>

#include "Commands.h"
#include "ToolSupport.h"
#include "image/ImageCheck.h"

namespace tool {

int runCheck(const std::vector<std::string>& files) {
  int status = kOk;
  for (const std::string& file : files) {
    ImageCheck check;
    int verdict = ImageCheck::unusable;
    try {
      verdict = inspectImage(file, check);
    } catch (const Failure& failure) {  // not a regular file
      warn(failure.message);
      status = std::max(status, static_cast<int>(kBadInput));
      continue;
    }
    const CStringArray& problems = check.Problems();
    if (verdict == ImageCheck::unusable) {
      for (int i = 0; i < problems.GetSize(); ++i) {
        warn(file + ": " + static_cast<const char*>(problems.GetAt(i)));
      }
      status = std::max(status, static_cast<int>(kBadInput));
      continue;
    }
    if (verdict == ImageCheck::sound) {
      std::cout << file << ": ok\n";
      continue;
    }
    for (int i = 0; i < problems.GetSize(); ++i) {
      std::cout << file << ": " << static_cast<const char*>(problems.GetAt(i))
                << '\n';
    }
    status = std::max(status, static_cast<int>(kProblems));
  }
  return status;
}

}  // namespace tool
