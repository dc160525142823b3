// The tool's thumbnail command on a large image, run as a file manager runs
// it: a process of its own.
//
//  - BM_ThumbnailCommand runs `btreeimg thumbnail -s 256` of a 16384 x 32768
//    raw one-plane image (512 MiB) from the page cache in a child process and
//    waits for it. Its CPU time is the child's, user + system (the counter
//    child_cpu_ns, which results.py uses in place of this process's own CPU
//    time); its wall clock is the whole run, start to exit. The counter
//    peak_rss_mib is the child's peak resident memory, the largest over the
//    iterations.
//  - BM_ToolStart runs `btreeimg --version` the same way: what starting the
//    tool costs (loading it and its libraries, setting up its command line),
//    the part of the thumbnail's time that does not depend on the image.
//  - The anchor BM_ReadLargeImageFile allocates a buffer of the file's size,
//    reads the file into it and frees it, in this process.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchData.h"
#include "ImageFiles.h"
#include "support/TestFiles.h"

namespace {

constexpr int kWidth = 16384;  // one raw plane of 512 MiB
constexpr int kHeight = 32768;
constexpr double kMiB = 1024.0 * 1024.0;

testfiles::TempDir& scratch() {
  static testfiles::TempDir dir;
  return dir;
}

const std::string& largeImage() {
  static const std::string path = [] {
    std::string p = scratch().file("large.dis");
    bench::writeImage(p, 0, kWidth, kHeight, 1, bench::makePlane(bench::Kind::kPhoto));
    return p;
  }();
  return path;
}

off_t fileSize(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  const off_t size = ::lseek(fd, 0, SEEK_END);
  ::close(fd);
  return size;
}

// Anchor: a buffer of the file's size, the file read into it, freed.
void BM_ReadLargeImageFile(benchmark::State& state) {
  const std::string& path = largeImage();
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    const off_t size = ::lseek(fd, 0, SEEK_END);
    ::lseek(fd, 0, SEEK_SET);
    auto* buffer = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size)));
    for (off_t done = 0; done < size;) {
      const ssize_t got = ::read(fd, buffer + done, static_cast<std::size_t>(size - done));
      if (got <= 0) break;
      done += got;
    }
    ::close(fd);
    benchmark::DoNotOptimize(buffer);
    std::free(buffer);
  }
  state.SetBytesProcessed(state.iterations() * fileSize(path));
}
BENCHMARK(BM_ReadLargeImageFile)->Unit(benchmark::kMillisecond);

struct ChildRun {
  bool ok = false;
  double cpuNs = 0;       // user + system
  double maxResident = 0; // bytes
};

ChildRun runChild(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  // fork, not posix_spawn: a child that shares this process's memory until
  // it starts the program would have this process's peak memory count as
  // its own (Linux keeps the largest peak of every memory map a process had).
  ChildRun run;
  const pid_t pid = ::fork();
  if (pid < 0) return run;
  if (pid == 0) {
    const int quiet = ::open("/dev/null", O_WRONLY);  // the child's output
    if (quiet >= 0) ::dup2(quiet, STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (::wait4(pid, &status, 0, &usage) != pid) return run;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.cpuNs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e9 +
              (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e3;
  run.maxResident = static_cast<double>(usage.ru_maxrss) * 1024.0;  // KiB on Linux
  return run;
}

void BM_ThumbnailCommand(benchmark::State& state) {
  const std::string& path = largeImage();
  const std::string output = scratch().file("thumbnail.png");
  double cpuNs = 0, peak = 0;
  for (auto _ : state) {
    const ChildRun run = runChild({BTREEIMG_TOOL, "thumbnail", "-s", "256", path, output});
    if (!run.ok) {
      state.SkipWithError("btreeimg thumbnail failed");
      break;
    }
    cpuNs += run.cpuNs;
    peak = std::max(peak, run.maxResident);
  }
  state.counters["child_cpu_ns"] = benchmark::Counter(cpuNs, benchmark::Counter::kAvgIterations);
  state.counters["peak_rss_mib"] = peak / kMiB;
  state.SetBytesProcessed(state.iterations() * fileSize(path));
}
// The iterations are counted by the wall clock: this process only waits.
BENCHMARK(BM_ThumbnailCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ToolStart(benchmark::State& state) {
  double cpuNs = 0;
  for (auto _ : state) {
    const ChildRun run = runChild({BTREEIMG_TOOL, "--version"});
    if (!run.ok) {
      state.SkipWithError("btreeimg --version failed");
      break;
    }
    cpuNs += run.cpuNs;
  }
  state.counters["child_cpu_ns"] = benchmark::Counter(cpuNs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ToolStart)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
