#include "ToolSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
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
#include "image/ImageWriter.h"

namespace tool {

void fail(int status, const std::string& message) {
  throw Failure{status, message};
}

std::string counted(std::uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
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

void requireRegularFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return;
  const char* kind = S_ISDIR(info.st_mode)    ? "a folder"
                     : S_ISFIFO(info.st_mode) ? "a FIFO"
                     : S_ISSOCK(info.st_mode) ? "a socket"
                     : S_ISCHR(info.st_mode)  ? "a character device"
                     : S_ISBLK(info.st_mode)  ? "a block device"
                                              : "not a file";
  fail(kBadInput, path + ": is " + kind + ", not a regular file");
}

int openInput(const std::string& path) {
  requireRegularFile(path);
  // Not blocking: should the path have become a FIFO since, the open does
  // not wait for a writer, and the file's type is checked again below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info {};
  if (fd >= 0 && ::fstat(fd, &info) == 0 && !S_ISREG(info.st_mode)) {
    ::close(fd);
    requireRegularFile(path);
    fail(kBadInput, path + ": is not a regular file");
  }
  return fd;
}

int inspectImage(const std::string& path, ImageCheck& check) {
  const int fd = openInput(path);
  if (fd < 0) return check.InspectFile(path.c_str());  // which says why
  const int verdict = check.InspectDescriptor(fd);
  ::close(fd);
  return verdict;
}

void requireUsableImage(const std::string& path, const ImageCheck& check, Damaged damaged) {
  const int verdict = check.GetVerdict();
  if (verdict == ImageCheck::sound) return;
  const std::string summary = static_cast<const char*>(check.Summary());
  if (verdict == ImageCheck::unusable) fail(kBadInput, path + ": " + summary);
  if (damaged == Damaged::kDescribe) return;
  if (damaged == Damaged::kRead) {
    warn(path + ": warning: " + summary + "; going on with what the library reads");
    return;
  }
  throw Failure{kBadInput, path + ": " + summary,
                damaged == Damaged::kRefuseOrLenient
                    ? "'btreeimg check' lists every problem; --lenient reads what the library can"
                    : "'btreeimg check' lists every problem"};
}

void requireNamedOutput(const std::string& output) {
  if (output == "-") {
    fail(kUsage, "an image file cannot be written to the standard output ('-'); name a file "
                 "(./- for a file called '-')");
  }
}

void writeImageLine(btreeimg::ImageWriter& writer, const std::string& output, int plane,
                    std::uint32_t line, const std::uint8_t* row, const char* hint) {
  try {
    writer.writeLine(plane, line, row);
  } catch (CException* e) {
    throw Failure{kCannotWrite, output + ": " + takeCause(e), hint};
  }
}

PrivateFolder::PrivateFolder(const std::string& path, const char* tag) {
  const std::filesystem::path target(path);
  // Appended piece by piece: g++ 12 at -O3 warns (wrongly) about "." + name.
  std::string name(".");
  name.append(target.filename().string()).append(".").append(tag).append("-XXXXXX");
  std::string pattern = (target.parent_path() / name).string();
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
