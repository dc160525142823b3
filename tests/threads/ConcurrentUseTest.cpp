// Several threads work at the same time, each on its own images, rule files,
// tables and collections, while others install diagnostics sinks and
// register libraries: every result is what one thread alone would get, and
// under ThreadSanitizer (scripts/test.d/tsan.sh) no data race is reported.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "collections/BalCltn.h"
#include "framework/Framework.h"
#include "image/BtreeImg.h"
#include "image/ImageCheck.h"
#include "settings/AsKeyDat.h"
#include "settings/KeyToStr.h"
#include "support/TestFiles.h"
#include "support/ThrownPtr.h"

namespace {

using testfiles::catchPtr;
using testfiles::TempDir;

constexpr int kThreads = 4;
constexpr int kWidth = 48;
constexpr int kHeight = 40;
constexpr int kEntries = 200;

// The pixel of a thread's image: runs of 8, different for every thread and
// plane, so that a line read from another thread's image would not match;
// below 128, as the coverage compares colours as signed bytes.
unsigned char pixel(int thread, int plane, int x, int y) {
  return static_cast<unsigned char>(thread * 24 + plane * 5 + (x / 8 + y) % 4);
}

std::vector<char> lineOf(int thread, int plane, int y) {
  std::vector<char> line(kWidth);
  for (int x = 0; x < kWidth; ++x) line[x] = static_cast<char>(pixel(thread, plane, x, y));
  return line;
}

// Everything one thread does; returns the number of checks that failed.
int workAlone(int thread, const TempDir& dir) {
  int failed = 0;
  const std::string stem = dir.file("t" + std::to_string(thread));
  for (int pack = 0; pack <= 2; ++pack) {
    // Create, write every line, close.
    const std::string name = stem + "-" + std::to_string(pack) + ".dis";
    {
      BtreeImg created(name.c_str(), pack, kWidth, kHeight, 3);
      for (int p = 1; p <= 3; ++p) {
        for (int y = 0; y < kHeight; ++y) {
          std::vector<char> line = lineOf(thread, p, y);
          failed += created.wLinea(line.data(), y, static_cast<short>(p)) != 1;
        }
      }
      created.closeImg();
    }
    // Open and read every line back.
    BtreeImg image(name.c_str());
    unsigned char got[kWidth];
    for (int p = 1; p <= 3; ++p) {
      for (int y = 0; y < kHeight; ++y) {
        image.at(static_cast<unsigned>(y), static_cast<short>(p), got);
        failed += std::memcmp(got, lineOf(thread, p, y).data(), kWidth) != 0;
      }
    }
    ImageCheck check;
    failed += check.InspectFile(name.c_str()) != ImageCheck::sound;

    // Cover plane 1 by a rule of this thread's own colours, saved as a
    // keyed list.
    const std::string rules = stem + "-rules.txt";
    AsKeyDat list;
    const int colours[] = {pixel(thread, 1, 0, 0), pixel(thread, 1, 0, 1), 200};
    const char* keys[] = {"COLCOPER", "COLTEST", "COLSOST"};
    for (int k = 0; k < 3; ++k) {
      auto* values = new CPtrList;
      values->AddTail(new CString(std::to_string(colours[k]).c_str()));
      list.createAsKey(keys[k], values);
    }
    failed += list.saveFromFile(rules.c_str()) != 1;
    const std::string covered = stem + "-covered.dis";
    failed += image.CoperturaU8(CString(rules.c_str()), CString(covered.c_str())) != 1;
    BtreeImg result(covered.c_str());
    failed += result.nPiani() != 1;

    // Header errors: a plane the image lacks, a damaged copy.
    failed += !catchPtr<CInvalidArgException>([&] { image.dimx(6); });
    testfiles::Bytes bytes = testfiles::readFile(name);
    bytes[1000] = 9;  // nine planes
    const std::string damaged = stem + "-damaged.dis";
    testfiles::writeFile(damaged, bytes);
    auto refused = catchPtr<CFileException>([&] { BtreeImg opened(damaged.c_str()); });
    failed += !refused || refused->m_cause != CFileException::invalidFile;
    auto missing = catchPtr<CFileException>(
        [&] { BtreeImg opened((stem + "-missing.dis").c_str()); });
    failed += !missing || btreeimg::describe(missing.get()).Find("No such file") < 0;
    failed += BtreeImg::moduleMessage()[0] != '\0';
    failed += BtreeImgIsRegistered() != 1;
  }
  // A table filled per thread: the balanced tree's insertion state is per
  // thread (a shared one shows as a data race under ThreadSanitizer). A
  // missing table gives a diagnostic text.
  std::string text;
  for (int i = 0; i < kEntries; ++i) text += "K" + std::to_string(i * 7 % kEntries) + " v\n";
  testfiles::writeText(stem + "-table.txt", text);
  KeyToStr loaded((stem + "-table.txt").c_str());
  failed += loaded.GetCount() != kEntries || loaded.StrOf("K13") == nullptr;
  failed += KeyToStr((stem + "-none.txt").c_str()).GetCount() != 0;
  return failed;
}

TEST(ConcurrentUse, ThreadsOnTheirOwnFilesGetWhatOneThreadAloneGets) {
  TempDir dir;
  std::atomic<int> failed{0};
  std::atomic<bool> done{false};
  std::atomic<int> texts{0};
  auto countText = [](const char*, void* count) {
    static_cast<std::atomic<int>*>(count)->fetch_add(1);
  };

  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      try {
        failed += workAlone(t, dir);
      } catch (CException* e) {
        ADD_FAILURE() << "thread " << t << ": " << btreeimg::describe(e).str();
        e->Delete();
      }
    });
  }
  // Meanwhile: the sink is replaced again and again, and libraries register
  // and end their registrations while the library's own is asked about.
  std::thread sinks([&] {
    while (!done) {
      btreeimg::setDiagnosticSink(countText, &texts);
      btreeimg::setDiagnosticSink(nullptr, nullptr);
    }
  });
  std::thread modules([&] {
    AFX_EXTENSION_MODULE own = {FALSE, nullptr, nullptr};
    while (!done) {
      AfxInitExtensionModule(own, &own);
      new CDynLinkLibrary(own);
      failed += BtreeImgIsRegistered() != 1;
      AfxTermExtensionModule(own);
    }
  });
  for (std::thread& w : workers) w.join();
  done = true;
  sinks.join();
  modules.join();
  btreeimg::setDiagnosticSink(nullptr, nullptr);
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(BtreeImgIsRegistered(), 1);
}

TEST(ConcurrentUse, EachThreadHasItsOwnHeaderMessageBuffer) {
  const char* here = BtreeImg::moduleMessage();
  const char* there = nullptr;
  std::thread other([&] { there = BtreeImg::moduleMessage(); });
  other.join();
  EXPECT_NE(here, there);
  EXPECT_STREQ(here, "");
}

}  // namespace
