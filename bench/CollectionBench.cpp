// BalCltn against std::multiset<Sorted*> ordered through the same virtual
// Compare, with 1,000,000 elements.
//
// Both collections see the same elements (an array of objects with distinct
// integer keys), the same insertion order (a random permutation), the same
// probe order (another one) and the same heap state:
//   fresh:    freed memory is consolidated before the timed part (glibc's
//             malloc_trim), so nodes come from one untouched stretch;
//   recycled: a million node-sized blocks are allocated and freed in random
//             order first, so nodes come back scattered over the heap.
// A BalNode and a multiset node are both 40 bytes, the same size class.
//
//   BM_BalCltnAdd / BM_MultisetInsert         fill an empty collection
//   BM_BalCltnFind / BM_MultisetFind          find every element once
//   BM_BalCltnRemove / BM_MultisetErase       remove every element
//   BM_BalCltnWalk / BM_MultisetWalk          visit every element in order
// Arguments: heap state (0 fresh, 1 recycled).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <set>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "BenchData.h"
#include "collections/BalCltn.h"
#include "collections/Sorted.h"

namespace {

constexpr int kElements = 1000000;

class Element : public Sorted {
 public:
  explicit Element(int v) : value(v) {}
  using Sorted::Compare;
  int Compare(Sorted* other) override {
    const int o = static_cast<Element*>(other)->value;
    return value < o ? -1 : value > o ? 1 : 0;
  }
  int value;
};

struct ByCompare {
  bool operator()(Sorted* a, Sorted* b) const { return a->Compare(b) < 0; }
};
using Multiset = std::multiset<Sorted*, ByCompare>;

// Fisher-Yates with the benchmarks' own generator: the same order everywhere.
std::vector<int> permutation(std::uint64_t seed) {
  std::vector<int> order(kElements);
  for (int i = 0; i < kElements; ++i) order[i] = i;
  bench::Rng rng(seed);
  for (int i = kElements - 1; i > 0; --i) {
    std::swap(order[i], order[rng.below(static_cast<std::uint32_t>(i + 1))]);
  }
  return order;
}

struct Data {
  std::vector<Element> elements;
  std::vector<Sorted*> insertOrder;  // the elements in insertion order
  std::vector<Sorted*> probeOrder;   // ... in the order of finds and removals
  std::vector<void*> scratch;        // the recycled heap's blocks
  std::vector<int> scatter;          // the order they are freed in
  Data() {
    elements.reserve(kElements);
    // Keys 0, 2, 4, ...: distinct, and the array's order is not key order.
    const std::vector<int> keys = permutation(0x6E7);
    for (int i = 0; i < kElements; ++i) elements.emplace_back(2 * keys[i]);
    for (int i : permutation(0xADD)) insertOrder.push_back(&elements[i]);
    for (int i : permutation(0xF12D)) probeOrder.push_back(&elements[i]);
    scratch.resize(kElements);
    scatter = permutation(0x5CA7);
  }
};

Data& data() {
  static Data d;
  return d;
}

constexpr std::size_t kNodeBytes = 40;
static_assert(sizeof(BalNode) == kNodeBytes, "node sizes differ");

// Puts the heap into the state the benchmark's argument names.
void prepareHeap(const benchmark::State& state) {
  Data& d = data();
  if (state.range(0) == 1) {
    for (int i = 0; i < kElements; ++i) d.scratch[i] = std::malloc(kNodeBytes);
    for (int i : d.scatter) std::free(d.scratch[i]);
  }
#if defined(__GLIBC__)
  if (state.range(0) == 0) malloc_trim(0);
#endif
}

void heapStates(benchmark::internal::Benchmark* b) {
  b->ArgName("recycled")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
  b->Iterations(1);
}

void finish(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          kElements);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          kElements * static_cast<std::int64_t>(sizeof(void*)));
}

void fill(BalCltn& tree) {
  for (Sorted* e : data().insertOrder) tree.Add(e);
}
void fill(Multiset& set) {
  for (Sorted* e : data().insertOrder) set.insert(e);
}

// ---- Add ------------------------------------------------------------------

void BM_BalCltnAdd(benchmark::State& state) {
  BalCltn tree;
  for (auto _ : state) {
    state.PauseTiming();
    tree.RemoveAll();
    prepareHeap(state);
    state.ResumeTiming();
    fill(tree);
  }
  tree.RemoveAll();
  finish(state);
}
BENCHMARK(BM_BalCltnAdd)->Apply(heapStates);

void BM_MultisetInsert(benchmark::State& state) {
  Multiset set;
  for (auto _ : state) {
    state.PauseTiming();
    set.clear();
    prepareHeap(state);
    state.ResumeTiming();
    fill(set);
  }
  set.clear();
  finish(state);
}
BENCHMARK(BM_MultisetInsert)->Apply(heapStates);

// ---- Find -------------------------------------------------------------------

void BM_BalCltnFind(benchmark::State& state) {
  BalCltn tree;
  prepareHeap(state);
  fill(tree);
  for (auto _ : state) {
    for (Sorted* e : data().probeOrder) benchmark::DoNotOptimize(tree.Find(e));
  }
  tree.RemoveAll();
  finish(state);
}
BENCHMARK(BM_BalCltnFind)->Apply(heapStates);

void BM_MultisetFind(benchmark::State& state) {
  Multiset set;
  prepareHeap(state);
  fill(set);
  for (auto _ : state) {
    for (Sorted* e : data().probeOrder) {
      auto it = set.find(e);
      benchmark::DoNotOptimize(it == set.end() ? nullptr : *it);
    }
  }
  set.clear();
  finish(state);
}
BENCHMARK(BM_MultisetFind)->Apply(heapStates);

// ---- Remove -----------------------------------------------------------------

void BM_BalCltnRemove(benchmark::State& state) {
  BalCltn tree;
  for (auto _ : state) {
    state.PauseTiming();
    tree.RemoveAll();
    prepareHeap(state);
    fill(tree);
    state.ResumeTiming();
    for (Sorted* e : data().probeOrder) benchmark::DoNotOptimize(tree.Remove(e));
  }
  finish(state);
}
BENCHMARK(BM_BalCltnRemove)->Apply(heapStates);

void BM_MultisetErase(benchmark::State& state) {
  Multiset set;
  for (auto _ : state) {
    state.PauseTiming();
    set.clear();
    prepareHeap(state);
    fill(set);
    state.ResumeTiming();
    for (Sorted* e : data().probeOrder) {
      auto it = set.find(e);
      Sorted* found = *it;
      set.erase(it);
      benchmark::DoNotOptimize(found);
    }
  }
  finish(state);
}
BENCHMARK(BM_MultisetErase)->Apply(heapStates);

// ---- Walk -------------------------------------------------------------------

void BM_BalCltnWalk(benchmark::State& state) {
  BalCltn tree;
  prepareHeap(state);
  fill(tree);
  for (auto _ : state) {
    for (void* pos = tree.GetHeadPosition(); pos != nullptr;) {
      benchmark::DoNotOptimize(tree.GetNext(pos));
    }
  }
  tree.RemoveAll();
  finish(state);
}
BENCHMARK(BM_BalCltnWalk)->Apply(heapStates);

void BM_MultisetWalk(benchmark::State& state) {
  Multiset set;
  prepareHeap(state);
  fill(set);
  for (auto _ : state) {
    for (Sorted* e : set) benchmark::DoNotOptimize(e);
  }
  set.clear();
  finish(state);
}
BENCHMARK(BM_MultisetWalk)->Apply(heapStates);

}  // namespace

BENCHMARK_MAIN();
