// Test helpers: a temporary directory per test, whole-file reads and
// writes, and little-endian fields for files made by hand. Header-only, for the test and benchmark executables.
#ifndef BTREEIMG_TESTS_SUPPORT_TESTFILES_H_
#define BTREEIMG_TESTS_SUPPORT_TESTFILES_H_

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace testfiles {

using Bytes = std::vector<unsigned char>;

// A fresh directory under $TMPDIR (or /tmp), removed with its contents when
// the object goes away.
class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "btreeimg-test-XXXXXX")
            .string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  // Full path of `name` inside the directory, as a string.
  std::string file(const std::string& name) const {
    return (path_ / name).string();
  }

 private:
  std::filesystem::path path_;
};

// Changes into a directory for the life of the object, then back.
class ScopedChdir {
 public:
  explicit ScopedChdir(const std::filesystem::path& to)
      : from_(std::filesystem::current_path()) {
    std::filesystem::current_path(to);
  }
  ScopedChdir(const ScopedChdir&) = delete;
  ScopedChdir& operator=(const ScopedChdir&) = delete;
  ~ScopedChdir() {
    std::error_code ignored;
    std::filesystem::current_path(from_, ignored);
  }

 private:
  std::filesystem::path from_;
};

inline Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Runs `f` with the process's file size limit lowered to `bytes`: a write
// past it fails with EFBIG instead of raising SIGXFSZ. Returns what f does.
template <class F>
auto underFileSizeLimit(rlim_t bytes, F&& f) {
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit lowered = old;
  lowered.rlim_cur = bytes;
  ::setrlimit(RLIMIT_FSIZE, &lowered);
  const auto result = f();
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, handler);
  return result;
}

inline void put16(Bytes& b, std::size_t at, unsigned v) {
  b.at(at) = static_cast<unsigned char>(v);
  b.at(at + 1) = static_cast<unsigned char>(v >> 8);
}
inline void put32(Bytes& b, std::size_t at, unsigned v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}

}  // namespace testfiles

#endif  // BTREEIMG_TESTS_SUPPORT_TESTFILES_H_
