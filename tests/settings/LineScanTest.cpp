// The hand-written line splitters against the scanf formats and the strtok
// rule that define the table file formats.
#include "settings/LineScan.h"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using btreeimg::detail::KeyValue;

// Lines of up to 254 characters over an alphabet rich in the characters the
// formats care about.
rc::Gen<std::string> lines() {
  return rc::gen::map(
      rc::gen::container<std::string>(rc::gen::elementOf(std::string(
          "ab Z \t\r\n\v\f=;'@#.\xE0\xFF"))),
      [](std::string s) {
        if (s.size() > 254) s.resize(254);
        return s;
      });
}

struct Scanned {
  std::string key, value;
};

Scanned viaScanf(const std::string& line, const char* format) {
  char key[512] = "", value[512] = "";
  std::sscanf(line.c_str(), format, key, value);
  return {key, value};
}

// The separator form as first built: a scan set excluding the separator and
// the apostrophe for the key, then strtok for the value. Returns false when
// the line yields no entry.
bool viaStrtok(const std::string& line, char sep, Scanned* out) {
  char format[16];
  std::snprintf(format, sizeof format, "%%[^'%c']s", sep);
  char key[512] = "";
  std::sscanf(line.c_str(), format, key);
  out->key = key;
  std::string copy = line;
  const char delimiters[2] = {sep, '\0'};
  const char* token = std::strtok(copy.data(), delimiters);
  if (token == nullptr) {
    out->value.clear();
    return true;
  }
  const std::size_t length = std::strlen(token);
  if (token + length == copy.data() + std::strlen(line.c_str())) return false;
  std::string value = line.substr(length + 1);
  const std::size_t cr = value.find('\r');
  value = value.substr(0, cr != std::string::npos ? cr : value.find('\n'));
  out->value = value;
  return true;
}

}  // namespace

RC_GTEST_PROP(LineScan, BlankFormSplitsAsScanfDoes, ()) {
  const std::string line = *lines();
  const KeyValue got = btreeimg::detail::scanKeyValue(line.c_str());
  const Scanned want = viaScanf(line, "%s %[^\n]s");
  RC_ASSERT(std::string(got.key) == want.key);
  RC_ASSERT(std::string(got.value) == want.value);
}

RC_GTEST_PROP(LineScan, WidthLimitedFormSplitsAsScanfDoes, ()) {
  // Long words, so that the 20-character key width matters.
  const std::string line =
      *rc::gen::map(rc::gen::pair(rc::gen::inRange(0, 40), lines()),
                    [](const std::pair<int, std::string>& p) {
                      std::string s = std::string(p.first, 'w') + p.second;
                      if (s.size() > 254) s.resize(254);
                      return s;
                    });
  const KeyValue got = btreeimg::detail::scanKeyValue(line.c_str(), 20, 250);
  const Scanned want = viaScanf(line, "%20s %250[^\n]s");
  RC_ASSERT(std::string(got.key) == want.key);
  RC_ASSERT(std::string(got.value) == want.value);
}

RC_GTEST_PROP(LineScan, SeparatorFormSplitsAsScanSetAndStrtokDo, ()) {
  const std::string line = *lines();
  const char sep = *rc::gen::elementOf(std::string("=; .a"));
  KeyValue got;
  Scanned want;
  const bool gotEntry = btreeimg::detail::scanSeparated(line.c_str(), sep, &got);
  const bool wantEntry = viaStrtok(line, sep, &want);
  RC_ASSERT(gotEntry == wantEntry);
  if (gotEntry) {
    RC_ASSERT(std::string(got.key) == want.key);
    RC_ASSERT(std::string(got.value) == want.value);
  }
}
