#include "SystemCalls.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

std::atomic<bool> gFailFlushes{false};
std::atomic<bool> gPredictable{false};
std::atomic<unsigned char> gRandomCalls{0};
std::atomic<bool> gRecording{false};
std::mutex gEventsLock;
std::vector<std::string> gEvents;

template <class F>
F real(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

void note(const char* event) {
  if (!gRecording) return;
  std::lock_guard<std::mutex> hold(gEventsLock);
  gEvents.emplace_back(event);
}

}  // namespace

namespace syscalls {

void failFlushes(bool on) { gFailFlushes = on; }

void predictableRandom(bool on) {
  gRandomCalls = 0;
  gPredictable = on;
}

void startRecording() {
  std::lock_guard<std::mutex> hold(gEventsLock);
  gEvents.clear();
  gRecording = true;
}

std::vector<std::string> stopRecording() {
  gRecording = false;
  std::lock_guard<std::mutex> hold(gEventsLock);
  return std::move(gEvents);
}

}  // namespace syscalls

extern "C" int fsync(int fd) {
  struct stat info;
  if (gRecording && ::fstat(fd, &info) == 0) {
    note(S_ISDIR(info.st_mode) ? "fsync folder" : "fsync file");
  }
  if (gFailFlushes) {
    errno = EIO;
    return -1;
  }
  static const auto next = real<int (*)(int)>("fsync");
  return next(fd);
}

extern "C" ssize_t getrandom(void* buffer, size_t length, unsigned int flags) {
  if (gPredictable) {
    std::memset(buffer, gRandomCalls++, length);
    return static_cast<ssize_t>(length);
  }
  static const auto next = real<ssize_t (*)(void*, size_t, unsigned int)>("getrandom");
  return next(buffer, length, flags);
}

extern "C" int rename(const char* from, const char* to) {
  note("rename");
  static const auto next = real<int (*)(const char*, const char*)>("rename");
  return next(from, to);
}
