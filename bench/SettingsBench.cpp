// Loading a key-to-string table of 100,000 lines (KeyToStr's blank-separated
// form) against its anchor: fgets, glibc's sscanf with the same format
// "%s %[^\n]s", and inserting into a std::multimap<std::string, std::string>.
// Destroying the tables is not timed.
//
// Keyed value lists in linear time: BM_AsKeyDatLoad/N loads a file of N
// lines of N distinct keys, BM_CoverageRuleFileLoad/N a colour rule file
// of N rules (3N lines, three keys of N values each; 30,000 rules are
// 930 KB). A load whose lookups walked the entries, or whose rules were
// taken by index from the head of each list, grows with N squared: the
// time per line (items_per_second) then falls as N grows.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "BenchData.h"
#include "image/CoverageRuleFile.h"
#include "settings/AsKeyDat.h"
#include "settings/KeyToStr.h"
#include "support/TestFiles.h"

namespace {

constexpr int kLines = 100000;

// Keys of 6 to 20 letters and digits in random order, values of 10 to 70
// characters with blanks inside; lines end in CR LF as the library writes
// them.
const std::string& tableFile() {
  static testfiles::TempDir dir;
  static const std::string path = [] {
    const std::string p = dir.file("table.txt");
    std::FILE* f = std::fopen(p.c_str(), "wb");
    bench::Rng rng(0x7AB1E);
    static const char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int i = 0; i < kLines; ++i) {
      std::string key, value;
      const int keyLength = 6 + static_cast<int>(rng.below(15));
      for (int k = 0; k < keyLength; ++k) key += kChars[rng.below(62)];
      const int valueLength = 10 + static_cast<int>(rng.below(61));
      for (int k = 0; k < valueLength; ++k) {
        value += rng.below(7) == 0 && k > 0 && k + 1 < valueLength
                     ? ' '
                     : kChars[rng.below(62)];
      }
      std::fprintf(f, "%s %s\r\n", key.c_str(), value.c_str());
    }
    std::fclose(f);
    return p;
  }();
  return path;
}

void finish(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          kLines);
  std::FILE* f = std::fopen(tableFile().c_str(), "rb");
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fclose(f);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          size);
}

void BM_KeyToStrLoad(benchmark::State& state) {
  const std::string& path = tableFile();
  for (auto _ : state) {
    auto* table = new KeyToStr(path.c_str());
    benchmark::DoNotOptimize(table);
    state.PauseTiming();
    if (table->GetCount() != kLines) state.SkipWithError("lines lost");
    delete table;
    state.ResumeTiming();
  }
  finish(state);
}
BENCHMARK(BM_KeyToStrLoad)->Unit(benchmark::kMillisecond);

void BM_SscanfMultimapLoad(benchmark::State& state) {
  const std::string& path = tableFile();
  for (auto _ : state) {
    auto* table = new std::multimap<std::string, std::string>;
    std::FILE* f = std::fopen(path.c_str(), "r");
    char line[256];
    char key[256];
    char value[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
      if (line[0] == '@' || line[0] == '\n') continue;
      key[0] = value[0] = '\0';
      if (std::sscanf(line, "%s %[^\n]s", key, value) >= 1) {
        table->emplace(key, value);
      }
    }
    std::fclose(f);
    benchmark::DoNotOptimize(table);
    state.PauseTiming();
    if (table->size() != kLines) state.SkipWithError("lines lost");
    delete table;
    state.ResumeTiming();
  }
  finish(state);
}
BENCHMARK(BM_SscanfMultimapLoad)->Unit(benchmark::kMillisecond);

// A keyed value list file of `lines` lines; `rules`: the rule file of that
// many rules, else as many distinct keys with one value each.
std::string keyedFile(int lines, bool rules) {
  static testfiles::TempDir dir;
  const std::string path =
      dir.file((rules ? "rules" : "keys") + std::to_string(lines) + ".txt");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  for (int i = 0; i < lines; ++i) {
    if (rules) {
      std::fprintf(f, "COLCOPER %d\r\nCOLTEST %d\r\nCOLSOST %d\r\n", i % 256,
                   (i * 7) % 256, (i * 13) % 256);
    } else {
      std::fprintf(f, "KEY%08d value number %d\r\n", i, i);
    }
  }
  std::fclose(f);
  return path;
}

void BM_AsKeyDatLoad(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const std::string path = keyedFile(lines, false);
  for (auto _ : state) {
    auto* list = new AsKeyDat;
    if (list->createFromFile(path.c_str()) != 1 || list->getCount() != lines) {
      state.SkipWithError("lines lost");
    }
    state.PauseTiming();
    delete list;
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * lines);
}
BENCHMARK(BM_AsKeyDatLoad)->Arg(3000)->Arg(30000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_CoverageRuleFileLoad(benchmark::State& state) {
  const int rules = static_cast<int>(state.range(0));
  const std::string path = keyedFile(rules, true);
  for (auto _ : state) {
    const btreeimg::CoverageRuleFile file(path.c_str());
    if (!file.usable() || file.rules().size() != static_cast<std::size_t>(rules)) {
      state.SkipWithError("rules lost");
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * rules);
}
BENCHMARK(BM_CoverageRuleFileLoad)->Arg(3000)->Arg(30000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
