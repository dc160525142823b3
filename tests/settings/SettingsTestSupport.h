// Test helper for the settings files: the texts handed to the diagnostics
// sink.
#ifndef BTREEIMG_TESTS_SETTINGS_SETTINGSTESTSUPPORT_H_
#define BTREEIMG_TESTS_SETTINGS_SETTINGSTESTSUPPORT_H_

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

}  // namespace settings_test

#endif  // BTREEIMG_TESTS_SETTINGS_SETTINGSTESTSUPPORT_H_
