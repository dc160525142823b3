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
// formats care about, after `words` leading w's (so that a key width matters).
rc::Gen<std::string> lines(int words = 0) {
  return rc::gen::map(
      rc::gen::pair(rc::gen::inRange(0, words + 1),
                    rc::gen::container<std::string>(
                        rc::gen::elementOf(std::string("ab Z \t\r\n\v\f=;'@#.\xE0\xFF")))),
      [](const std::pair<int, std::string>& p) {
        return (std::string(p.first, 'w') + p.second).substr(0, 254);
      });
}

// The key and value sscanf finds in `line` with `format`, as "key|value"
// (the alphabet above has no "|").
std::string viaScanf(const std::string& line, const char* format) {
  char key[512] = "", value[512] = "";
  std::sscanf(line.c_str(), format, key, value);
  return std::string(key) + "|" + value;
}

// The separator form as first built: a scan set excluding the separator and
// the apostrophe for the key, then strtok for the value. "key|value", or
// "none" when the line yields no entry.
std::string viaStrtok(const std::string& line, char sep) {
  char format[16];
  std::snprintf(format, sizeof format, "%%[^'%c']s", sep);
  char key[512] = "";
  std::sscanf(line.c_str(), format, key);
  std::string copy = line;
  const char delimiters[2] = {sep, '\0'};
  const char* token = std::strtok(copy.data(), delimiters);
  if (token == nullptr) return std::string(key) + "|";
  const std::size_t length = std::strlen(token);
  if (token + length == copy.data() + std::strlen(line.c_str())) return "none";
  std::string value = line.substr(length + 1);
  const std::size_t cr = value.find('\r');
  return std::string(key) + "|" + value.substr(0, cr != std::string::npos ? cr : value.find('\n'));
}

std::string joined(const KeyValue& kv) { return std::string(kv.key) + "|" + std::string(kv.value); }

}  // namespace

RC_GTEST_PROP(LineScan, BlankFormsSplitAsScanfDoesWithAndWithoutWidths, ()) {
  const std::string line = *lines(40);
  RC_ASSERT(joined(btreeimg::detail::scanKeyValue(line.c_str())) == viaScanf(line, "%s %[^\n]s"));
  RC_ASSERT(joined(btreeimg::detail::scanKeyValue(line.c_str(), 20, 250)) ==
            viaScanf(line, "%20s %250[^\n]s"));
}

RC_GTEST_PROP(LineScan, SeparatorFormSplitsAsScanSetAndStrtokDo, ()) {
  const std::string line = *lines();
  const char sep = *rc::gen::elementOf(std::string("=; .a"));
  KeyValue got;
  const bool entry = btreeimg::detail::scanSeparated(line.c_str(), sep, &got);
  RC_ASSERT((entry ? joined(got) : "none") == viaStrtok(line, sep));
}
