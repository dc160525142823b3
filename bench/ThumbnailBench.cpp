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
//  - BM_ToolCommandMemory/N runs command N of kCommands as a child process:
//    every command streams rows, so its peak resident memory beyond the
//    image files the library holds whole (cover's input, the image outputs)
//    stays under a fixed bound however large the image. The counter
//    over_files_mib is that peak less those files' sizes. The images: 32 MiB
//    of four 4096 x 2048 planes, where holding a plane or a picture would
//    cost 8 to 64 MiB more; a whole-plane packed plane of 8192 x 8192
//    (64 MiB decoded) in 0.5 MiB; one line of 2^28 + 1 pixels, over the
//    pixel limit (info counts nothing and makes no such line).
//  - BM_CraftedInput/N runs command N of kCrafted on a crafted input as a
//    child process: each must end at once with its expected exit status
//    (most are refused), in bounded memory. The counters are the child's
//    wall time (wall_ms) and peak resident memory (peak_rss_mib). The
//    inputs: a version-4 header stating 2^31 x 0 pixels; a 41-byte PNG
//    whose text chunk states 2^31 - 1 bytes; a header stating 1 x 2^28
//    pixels in 1336 bytes, read leniently; a rule file of 30,000 rules
//    (930 KB) on a small image; two planes whose regions overlap.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "BenchData.h"
#include "ImageFiles.h"
#include "support/FrontEnds.h"
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
  int status = -1;        // the exit status; -1 when it did not exit
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
    if (quiet >= 0 && std::getenv("BENCH_CHILD_STDERR") == nullptr) ::dup2(quiet, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (::wait4(pid, &status, 0, &usage) != pid) return run;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

// The inputs of the memory runs (the PNGs and the repacked image made by
// the tool itself).
void makeMemoryInputs() {
  auto f = [](const std::string& n) { return scratch().file(n); };
  frontend::makeImage(f("big.dis"), 0, 4096, 2048, 4, frontend::runs(5));
  for (const char* p : {"1", "2", "3", "4"}) {
    runChild({BTREEIMG_TOOL, "topng", f("big.dis"), f(std::string("p") + p + ".png"), "--plane", p});
  }
  runChild({BTREEIMG_TOOL, "repack", f("big.dis"), f("packed.dis"), "--pack", "1"});
  testfiles::writeText(f("rules.txt"), "COLCOPER 1\nCOLTEST 1\nCOLSOST 9\n");
  testfiles::writeFile(f("flat.dis"), frontend::flatPlane(8192, 8192));
  testfiles::writeFile(f("wide.dis"), frontend::flatPlane((1u << 28) + 1, 1));
}

// Each command's arguments (inputs by name, then outputs), and the image
// files the library holds whole at its peak.
const struct {
  std::vector<std::string> args;
  std::vector<std::string> held;
} kCommands[] = {
    {{"topng", "big.dis", "out.png"}, {}},
    {{"frompng", "p1.png", "p2.png", "p3.png", "p4.png", "from.dis"}, {"from.dis"}},
    {{"repack", "big.dis", "out.dis", "--pack", "1"}, {"out.dis"}},
    {{"cover", "big.dis", "rules.txt", "covered.dis"}, {"big.dis", "covered.dis"}},
    {{"diff", "big.dis", "packed.dis"}, {}},
    {{"info", "big.dis"}, {}},
    {{"topng", "flat.dis", "out.png"}, {}},
    {{"diff", "flat.dis", "flat.dis"}, {}},
    {{"info", "flat.dis"}, {}},
    {{"thumbnail", "flat.dis", "out.png"}, {}},
    {{"info", "wide.dis"}, {}},
};

void BM_ToolCommandMemory(benchmark::State& state) {
  static const bool made = (makeMemoryInputs(), true);
  (void)made;
  const auto& command = kCommands[state.range(0)];
  std::vector<std::string> args = {BTREEIMG_TOOL, command.args[0]};
  for (std::size_t i = 1; i < command.args.size(); ++i) {
    const std::string& arg = command.args[i];  // files have a suffix
    args.push_back(arg.find('.') != std::string::npos ? scratch().file(arg) : arg);
  }
  double over = 0;
  for (auto _ : state) {
    const ChildRun run = runChild(args);
    if (!run.ok) {
      state.SkipWithError(("btreeimg " + command.args[0] + " failed").c_str());
      break;
    }
    double held = 0;
    for (const std::string& file : command.held) held += static_cast<double>(fileSize(scratch().file(file)));
    over = std::max(over, run.maxResident - held);
  }
  state.SetLabel(command.args[0] + " " + command.args[1]);
  state.counters["over_files_mib"] = over / kMiB;
}
BENCHMARK(BM_ToolCommandMemory)->DenseRange(0, std::size(kCommands) - 1)->Iterations(1)->UseRealTime();

// The crafted inputs of BM_CraftedInput.
void makeCraftedInputs() {
  auto f = [](const std::string& n) { return scratch().file(n); };
  testfiles::writeFile(f("nolines.dis"), frontend::firstBlock(4, 0, 0x80000000u, 0));
  testfiles::Bytes tall = frontend::firstBlock(4, 0, 1, 1u << 28);
  tall.resize(1336, 5);
  testfiles::writeFile(f("tall.dis"), tall);
  // A PNG signature, a 1 x 1 header, and a text chunk's length and type.
  testfiles::Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                       0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0, 0, 0x3a, 0x7e, 0x9b, 0x55,
                       0x7f, 0xff, 0xff, 0xff, 't', 'E', 'X', 't'};
  testfiles::writeFile(f("text.png"), png);
  std::string rules;
  for (int i = 0; i < 30000; ++i) {
    rules += "COLCOPER " + std::to_string(i % 200 + 1) + "\r\nCOLTEST " +
             std::to_string(i * 7 % 256) + "\r\nCOLSOST " + std::to_string(i * 13 % 256) + "\r\n";
  }
  testfiles::writeText(f("rules30000.txt"), rules);
  frontend::makeImage(f("small.dis"), 0, 64, 64, 1, frontend::runs(5));
  // Version 2, two raw planes of 32 x 32: plane 1's region moved by the
  // table's entry 0 onto plane 2's, behind plane 2's block.
  testfiles::Bytes overlap = frontend::firstBlock(2, 0, 32, 32);
  testfiles::put16(overlap, 1000, 2);
  testfiles::put32(overlap, 1002, 1412);
  testfiles::put32(overlap, 1006, 1312);
  overlap.resize(2 * 1312 + 100 + 1024 + 100);
  testfiles::put32(overlap, 1312, 32 | 32 << 16);
  testfiles::writeFile(f("overlap.dis"), overlap);
}

// Each crafted run's arguments (files by name) and expected exit status.
const struct {
  std::vector<std::string> args;
  int status;
} kCrafted[] = {
    {{"diff", "nolines.dis", "nolines.dis"}, 2},
    {{"cover", "nolines.dis", "rules30000.txt", "n.dis"}, 2},
    {{"frompng", "text.png", "t.dis"}, 2},
    {{"repack", "--lenient", "tall.dis", "r.dis", "--pack", "1"}, 2},
    {{"topng", "--lenient", "tall.dis", "r.png"}, 2},
    {{"cover", "small.dis", "rules30000.txt", "c.dis"}, 0},
    {{"check", "overlap.dis"}, 1},
};

void BM_CraftedInput(benchmark::State& state) {
  static const bool made = (makeCraftedInputs(), true);
  (void)made;
  const auto& crafted = kCrafted[state.range(0)];
  std::vector<std::string> args = {BTREEIMG_TOOL};
  for (const std::string& arg : crafted.args) {
    args.push_back(arg.find('.') != std::string::npos ? scratch().file(arg) : arg);
  }
  double wall = 0, peak = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const ChildRun run = runChild(args);
    wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (run.status != crafted.status) {
      state.SkipWithError(("btreeimg " + crafted.args[0] + " exited with " +
                           std::to_string(run.status)).c_str());
      break;
    }
    peak = std::max(peak, run.maxResident);
  }
  std::string label;
  for (const std::string& arg : crafted.args) label += (label.empty() ? "" : " ") + arg;
  state.SetLabel(label);
  state.counters["wall_ms"] = wall;
  state.counters["peak_rss_mib"] = peak / kMiB;
}
BENCHMARK(BM_CraftedInput)->DenseRange(0, std::size(kCrafted) - 1)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
