// check: structural verification through the library's ImageCheck.
#include <algorithm>
#include <iostream>
#include <memory>

#include "CommandLine.h"
#include "Commands.h"
#include "Failure.h"
#include "ImageReading.h"
#include "image/ImageCheck.h"

namespace tool {

static int runCheck(const std::vector<std::string>& files) {
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
      const CStringArray& notes = check.Notes();
      for (int i = 0; i < notes.GetSize(); ++i) {
        std::cout << file << ": note: " << static_cast<const char*>(notes.GetAt(i)) << '\n';
      }
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

void addCheck(CLI::App& app, Runner& run) {
  auto files = std::make_shared<std::vector<std::string>>();
  CLI::App* sub = addCommand(app, "check", "Structural verification: one line per problem.");
  sub->add_option("FILE", *files, "image files")->required();
  sub->callback([files, &run] { run = [files] { return runCheck(*files); }; });
}

}  // namespace tool
