// Test helpers for the settings files: the texts handed to the diagnostics
// sink, and a cap on the size of the files this process writes.
#ifndef BTREEIMG_TESTS_SETTINGS_SETTINGSTESTSUPPORT_H_
#define BTREEIMG_TESTS_SETTINGS_SETTINGSTESTSUPPORT_H_

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <string>
#include <vector>

#include "framework/Diagnostics.h"

namespace settings_test {

// Collects the texts the library hands to its diagnostics sink while the
// object lives, then restores the silent default.
class CapturedDiagnostics {
 public:
  CapturedDiagnostics() { btreeimg::setDiagnosticSink(&collect, &texts_); }
  ~CapturedDiagnostics() { btreeimg::setDiagnosticSink(nullptr, nullptr); }

  const std::vector<std::string>& texts() const { return texts_; }

 private:
  static void collect(const char* text, void* context) {
    static_cast<std::vector<std::string>*>(context)->push_back(text);
  }
  std::vector<std::string> texts_;
};

// While the object lives, a write that makes a file larger than `bytes`
// fails, so that a save fails part way.
class FileSizeCap {
 public:
  explicit FileSizeCap(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of ending the process
    EXPECT_EQ(getrlimit(RLIMIT_FSIZE, &old_), 0);
    rlimit small = old_;
    small.rlim_cur = bytes;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  }
  ~FileSizeCap() { setrlimit(RLIMIT_FSIZE, &old_); }

 private:
  rlimit old_ = {};
};

}  // namespace settings_test

#endif  // BTREEIMG_TESTS_SETTINGS_SETTINGSTESTSUPPORT_H_
