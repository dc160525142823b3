// Helpers shared by the fuzz targets. Each target runs in its own process;
// files go to one private folder made at the first call.
#ifndef BTREEIMG_FUZZ_FUZZSUPPORT_H_
#define BTREEIMG_FUZZ_FUZZSUPPORT_H_

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/Framework.h"

namespace fuzz {

// A folder of this process's own, made once: in memory (/dev/shm) where
// there is one, since every save flushes its file to the disk, else in /tmp.
inline const std::string& workFolder() {
  static const std::string folder = [] {
    char shm[] = "/dev/shm/btreeimg-fuzz-XXXXXX";
    char tmp[] = "/tmp/btreeimg-fuzz-XXXXXX";
    const char* made = mkdtemp(shm);
    if (made == nullptr) made = mkdtemp(tmp);
    if (made == nullptr) std::abort();
    return std::string(made);
  }();
  return folder;
}

inline std::string pathOf(const char* name) { return workFolder() + "/" + name; }

// Writes `size` bytes to the file `path`, replacing it.
inline void writeBytes(const std::string& path, const std::uint8_t* data,
                       std::size_t size) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, out) != size) std::abort();
  std::fclose(out);
}

// Runs `step`, releasing any framework exception it throws (a refusal is a
// valid outcome for hostile input).
template <typename Step>
void tolerate(Step&& step) {
  try {
    step();
  } catch (CException* e) {
    e->Delete();
  }
}

// Reads a little-endian integer of `width` bytes at `at`, 0 past the end.
inline std::uint32_t loadLE(const std::uint8_t* data, std::size_t size,
                            std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = value << 8 | (at + i < size ? data[at + i] : 0);
  }
  return value;
}

}  // namespace fuzz

#endif  // BTREEIMG_FUZZ_FUZZSUPPORT_H_
