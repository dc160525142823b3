#include "ToolSupport.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "framework/Exceptions.h"
#include "image/ImageCheck.h"

namespace tool {

void fail(int status, const std::string& message) {
  throw Failure{status, message};
}

std::string takeMessage(CException* e) {
  char text[512];
  if (e->GetErrorMessage(text, sizeof text) == 0) {
    std::snprintf(text, sizeof text, "unknown error");
  }
  e->Delete();
  return text;
}

std::string takeCause(CException* e) {
  if (auto* fileError = dynamic_cast<CFileException*>(e)) {
    fileError->m_strFileName.Empty();
  }
  return takeMessage(e);
}

void warn(const std::string& text) { std::cerr << "btreeimg: " << text << '\n'; }

void requireUsableImage(const std::string& path, ImageCheck& check) {
  const int verdict = check.InspectFile(path.c_str());
  if (verdict == ImageCheck::unusable) {
    const CStringArray& problems = check.Problems();
    fail(kBadInput, path + ": " +
                        (problems.GetSize() ? static_cast<const char*>(
                                                  problems.GetAt(0))
                                            : "not an image file"));
  }
  if (verdict == ImageCheck::damaged) {
    warn(path + ": warning: " + std::to_string(check.Problems().GetSize()) +
         " structural problem(s), see 'btreeimg check'; going on with what "
         "the library reads");
  }
}

std::string temporaryBeside(const std::string& path, const char* tag) {
  const std::filesystem::path target(path);
  std::filesystem::path name = "." + target.filename().string() + "." + tag +
                               "-" + std::to_string(::getpid()) + ".tmp";
  return (target.parent_path() / name).string();
}

void moveInto(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    const int error = errno;
    std::remove(from.c_str());
    fail(kCannotWrite, to + ": cannot be written: " + std::strerror(error));
  }
}

}  // namespace tool
