#include "ToolSupport.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <vector>

#include "framework/CFile.h"
#include "framework/Exceptions.h"
#include "framework/FileReplacement.h"
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

PrivateFolder::PrivateFolder(const std::string& path, const char* tag) {
  const std::filesystem::path target(path);
  std::string pattern =
      (target.parent_path() / ("." + target.filename().string() + "." + tag + "-XXXXXX"))
          .string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    fail(kCannotWrite, path + ": cannot be written: " + std::strerror(errno));
  }
  path_ = pattern;
}

PrivateFolder::~PrivateFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void copyInto(const std::string& from, const std::string& output) {
  try {
    CFile source(from.c_str(), CFile::modeRead | CFile::typeBinary);
    btreeimg::FileReplacement replacement(output.c_str());
    std::vector<char> buffer(1 << 20);
    while (const UINT got = source.Read(buffer.data(), static_cast<UINT>(buffer.size()))) {
      replacement.write(buffer.data(), got);
    }
    replacement.commit();
  } catch (CException* e) {
    fail(kCannotWrite, output + ": cannot be written: " + takeCause(e));
  }
}

}  // namespace tool
