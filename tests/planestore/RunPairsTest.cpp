#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

#include "PlaneBytes.h"
#include "planestore/RunPairs.h"

using namespace planetest;
using btreeimg::detail::encodeRuns;

namespace {

// What a code expands to, cut to `outSize` bytes, as the format defines it.
Bytes referenceExpand(const Bytes& code, std::size_t outSize) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < code.size(); i += 2)
    out.insert(out.end(), code[i], code[i + 1]);
  out.resize(std::min(out.size(), outSize));
  return out;
}

// Encodes into a buffer whose guard area behind the code must stay untouched.
// The byte behind the input repeats its last one: runs must stop before it.
Bytes encode(Bytes in) {
  const std::size_t size = in.size();
  in.push_back(size ? in.back() : 0);
  Bytes out(btreeimg::detail::maxCodedSize(size) + 48, kGuardByte);
  const std::size_t n = encodeRuns(in.data(), size, out.data());
  EXPECT_EQ(n, btreeimg::detail::codedSize(in.data(), size));
  EXPECT_EQ(Bytes(out.begin() + n, out.end()),
            Bytes(out.size() - n, kGuardByte));
  out.resize(n);
  return out;
}

// `code`, copied to the very end of its pages, in front of a page that may
// not be read: an over-read faults, also one the sanitizers cannot see
// (a masked vector load).
class CodeAtPageEnd {
 public:
  explicit CodeAtPageEnd(const Bytes& code) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    size_ = (code.size() + page - 1) / page * page + page;
    void* at = mmap(nullptr, size_, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) throw std::bad_alloc();
    pages_ = static_cast<unsigned char*>(at);
    mprotect(pages_ + size_ - page, page, PROT_NONE);
    begin_ = pages_ + size_ - page - code.size();
    std::copy(code.begin(), code.end(), begin_);
  }
  ~CodeAtPageEnd() { munmap(pages_, size_); }
  CodeAtPageEnd(const CodeAtPageEnd&) = delete;
  CodeAtPageEnd& operator=(const CodeAtPageEnd&) = delete;
  const unsigned char* begin() const { return begin_; }

 private:
  unsigned char* pages_ = nullptr;
  unsigned char* begin_ = nullptr;
  std::size_t size_ = 0;
};

// Expands `code`, placed as CodeAtPageEnd places it, into `outSize` bytes
// and a guard area, all preset to kGuardByte: every byte behind the count
// returned must stay so. Returns the bytes written.
Bytes expand(const Bytes& code, std::size_t outSize) {
  Bytes out(outSize + 48, kGuardByte);
  const CodeAtPageEnd in(code);
  std::size_t n = btreeimg::detail::expandRuns(
      in.begin(), in.begin() + code.size(), out.data(), outSize);
  EXPECT_LE(n, outSize);
  n = std::min(n, outSize);
  EXPECT_EQ(Bytes(out.begin() + n, out.end()),
            Bytes(out.size() - n, kGuardByte));
  out.resize(n);
  return out;
}

}  // namespace

RC_GTEST_PROP(
    RunPairs, AnyLineCodesAsDefinedAndExpandsBack,
    (const std::vector<std::pair<unsigned char, unsigned short>>& runs)) {
  Bytes line;  // runs of any length, mostly single bytes
  for (const auto& [value, length] : runs)
    line.insert(line.end(), length % 3 == 0 ? length % 700 : 1, value);
  const Bytes code = encode(line);
  RC_ASSERT(code == runPairs(line));
  RC_ASSERT(expand(code, line.size()) == line);
}

// Codes are built from stretches of one shape each, as the decoder's wide
// paths meet them: noise (count 1), noise with a count 2 now and then,
// gradients (counts 1 to 16), long runs, and counts around the chunk sizes
// (count-0 pairs that cover nothing included); sometimes a lone last byte
// follows. The expansion is cut at any output size, mostly the whole one.
RC_GTEST_PROP(RunPairs, AnyCodeExpandsAsTheClippedRunsSay, ()) {
  using G = rc::Gen<unsigned char>;
  const std::vector<G> shapes = {
      rc::gen::just<unsigned char>(1),
      rc::gen::element<unsigned char>(1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2),
      rc::gen::inRange<unsigned char>(1, 17),
      rc::gen::inRange<unsigned char>(17, 255),
      rc::gen::element<unsigned char>(0, 1, 1, 1, 2, 15, 16, 17, 31, 32, 33, 63,
                                      64, 65, 100, 128, 129, 255),
      rc::gen::arbitrary<unsigned char>()};
  Bytes code;
  for (int s = *rc::gen::inRange(1, 6); s > 0; --s) {
    const G& counts = shapes[*rc::gen::inRange<std::size_t>(0, shapes.size())];
    for (int i = *rc::gen::inRange(0, 90); i > 0; --i)
      code.insert(code.end(), {*counts, *rc::gen::arbitrary<unsigned char>()});
  }
  if (*rc::gen::arbitrary<bool>()) code.push_back(0x2A);
  const std::size_t full = referenceExpand(code, ~std::size_t{0}).size();
  const std::size_t outSize =
      *rc::gen::arbitrary<bool>()
          ? full
          : *rc::gen::inRange<std::size_t>(0, full + 40);
  RC_ASSERT(expand(code, outSize) == referenceExpand(code, outSize));
}

// Noise: 128 pairs of count 1, some of other counts (none; one 2; two or
// three 2s within thirty-two pairs; one 2 in each of two; a 2 and, thirty-
// two pairs on, a 3; 2s among the last pairs), then a pair of count 0, of
// count 1, a lone byte or nothing, expanded whole or cut short, or into
// more room than the pairs fill. The wide steps over noise store whole
// blocks; nothing may stay behind the pairs' own bytes.
TEST(RunPairs, StretchesOfCountOneLeaveNothingPastTheirRuns) {
  using Counts = std::vector<std::pair<int, unsigned char>>;  // pair, count
  for (const Counts& counts :
       {Counts{}, Counts{{20, 2}}, Counts{{47, 2}}, Counts{{20, 2}, {30, 2}},
        Counts{{40, 2}, {60, 2}}, Counts{{20, 2}, {52, 3}},
        Counts{{30, 2}, {50, 2}, {51, 2}, {79, 2}}, Counts{{100, 2}},
        Counts{{85, 2}, {90, 2}, {120, 2}}, Counts{{127, 2}},
        Counts{{110, 5}}}) {
    for (const Bytes& tail : {Bytes{}, Bytes{0, 9}, Bytes{1, 9}, Bytes{0x2A}}) {
      Bytes code;
      for (int i = 0; i < 128; ++i)
        code.insert(code.end(), {1, static_cast<unsigned char>(i)});
      for (const auto& [pair, count] : counts) code[2 * pair] = count;
      code.insert(code.end(), tail.begin(), tail.end());
      const std::size_t full = referenceExpand(code, ~std::size_t{0}).size();
      for (const std::size_t outSize :
           {full, std::size_t{48}, std::size_t{81}, std::size_t{83},
            std::size_t{97}, std::size_t{129}, std::size_t{200}}) {
        EXPECT_EQ(expand(code, outSize), referenceExpand(code, outSize))
            << counts.size() << " counts " << tail.size() << " " << outSize;
      }
    }
  }
}

// The last pairs of a stretch of noise, from 1 to 63 of them behind
// sixteen and sixty-four pairs of count 1, with a 2 at the first and last
// of them: expanded whole, a byte short and into more room.
TEST(RunPairs, TheLastPairsOfNoiseExpandExactly) {
  for (int last = 1; last < 64; ++last) {
    Bytes code;
    for (int i = 0; i < 80 + last; ++i)
      code.insert(code.end(), {1, static_cast<unsigned char>(3 * i)});
    code[2 * 80] = 2;
    code[2 * (80 + last - 1)] = 2;
    const std::size_t full = referenceExpand(code, ~std::size_t{0}).size();
    for (const std::size_t outSize : {full, full - 1, full + 40}) {
      EXPECT_EQ(expand(code, outSize), referenceExpand(code, outSize))
          << last << " " << outSize;
    }
  }
}
