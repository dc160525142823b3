// cover: colour coverage of plane 1 through BtreeImg::CoperturaU8, the one
// command that opens its input with BtreeImg (which holds the file, and a
// whole-plane packed plane decoded): the input is inspected and held to the
// pixel limit first, as every command's input is.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <vector>

#include "Commands.h"
#include "ImageReading.h"
#include "ToolSupport.h"
#include "framework/CPtrList.h"
#include "image/BtreeImg.h"
#include "image/ImageReader.h"
#include "settings/AsKeyDat.h"

namespace tool {

namespace {

int valueCount(AsKeyDat& list, const char* key) {
  CPtrList* values = list.getListOf(key);
  return values ? values->GetCount() : 0;
}

// Value `index` of `key`'s list, or null.
const char* valueAt(AsKeyDat& list, const char* key, int index) {
  CPtrList* values = list.getListOf(key);
  POSITION position = values ? values->FindIndex(index) : nullptr;
  return position ? static_cast<const CString*>(values->GetAt(position))->GetString()
                  : nullptr;
}

// Whether `text` begins with a decimal integer (after white space).
bool isNumber(const char* text) {
  char* end = nullptr;
  std::strtol(text, &end, 10);
  return end != text;
}

// Reads the rule file as the coverage will, so that a bad one is named with
// its cause, and returns the number of rules.
int loadRules(const std::string& rules) {
  requireRegularFile(rules);
  if (std::FILE* probe = std::fopen(rules.c_str(), "r")) {
    std::fclose(probe);
  } else {
    fail(kBadInput, rules + ": cannot be opened");
  }
  AsKeyDat list;
  if (list.createFromFile(rules.c_str()) == 0) {
    fail(kBadInput, rules + ": a line lacks its key or its value");
  }
  const int count = valueCount(list, "COLCOPER");
  if (count == 0) fail(kBadInput, rules + ": has no COLCOPER (cover colour) values");
  for (const char* key : {"COLTEST", "COLSOST"}) {
    const int n = valueCount(list, key);
    if (n < count) {
      fail(kBadInput, rules + ": has " + counted(static_cast<unsigned>(count), "COLCOPER value", "COLCOPER values") +
                          " but " + counted(static_cast<unsigned>(n), (std::string(key) + " value").c_str(),
                                            (std::string(key) + " values").c_str()) +
                          "; rule i takes value i of each key");
    }
  }
  // A rule whose cover value is empty does nothing; the others need three
  // numbers.
  for (int i = 0; i < count; ++i) {
    const char* cover = valueAt(list, "COLCOPER", i);
    if (cover == nullptr || *cover == '\0') continue;
    for (const char* key : {"COLCOPER", "COLTEST", "COLSOST"}) {
      const char* value = valueAt(list, key, i);
      if (value == nullptr) value = "";
      if (!isNumber(value)) {
        fail(kBadInput, rules + ": rule " + std::to_string(i + 1) + ": " + key + " value \"" +
                            value + "\" is not a number");
      }
    }
  }
  return count;
}

// Pixels of plane 1 that differ between the source and the result, which
// is read line by line, not held.
std::uint64_t changedPixels(BtreeImg& source, const std::string& result) {
  btreeimg::ImageReader after(result.c_str());
  const std::uint32_t width = source.dimx(1);
  const std::uint32_t height = source.dimy(1);
  if (after.width() != width || after.height() != height || width == 0) return 0;
  std::vector<std::uint8_t> a(width), b(width);
  std::uint64_t changed = 0;
  for (std::uint32_t y = 0; y < height; ++y) {
    source.at(y, 1, a.data());
    after.readLine(1, y, b.data());
    for (std::uint32_t x = 0; x < width; ++x) changed += a[x] != b[x];
  }
  return changed;
}

}  // namespace

int runCover(const std::string& file, const std::string& rules,
             const std::string& output, std::uint64_t maxPixels) {
  requireNamedOutput(output);
  int planes = 0;
  {
    InputImage input(file, Damaged::kRefuse);
    input.requireWithinLimit(maxPixels);
    planes = input.planes();
  }
  const int ruleCount = loadRules(rules);
  BtreeImg source(file.c_str());

  // The coverage writes its result into a private folder beside the output
  // and leaves none there when nothing changed; only a changed result
  // replaces the output, so an existing output survives a run that changed
  // nothing.
  PrivateFolder folder(output, "cover");
  const std::string result = folder.file("result.dis");
  if (source.CoperturaU8(CString(rules.c_str()), CString(result.c_str())) != 1) {
    fail(kCannotWrite, output + ": the coverage could not be written");
  }
  std::error_code error;
  if (!std::filesystem::exists(result, error)) {
    std::cout << file << ": " << counted(static_cast<unsigned>(ruleCount), "rule", "rules")
              << " changed nothing; " << output << " not written\n";
    return kOk;
  }
  std::uint64_t changed = 0;
  try {
    changed = changedPixels(source, result);
  } catch (CException* e) {
    fail(kCannotWrite, output + ": the result cannot be read back: " + takeCause(e));
  }
  copyInto(result, output);
  std::cout << file << ": " << counted(static_cast<unsigned>(ruleCount), "rule", "rules")
            << " changed " << counted(changed, "pixel", "pixels") << " of plane 1; written to "
            << output;
  if (planes > 1) std::cout << " (plane 1 only)";
  std::cout << '\n';
  return kOk;
}

}  // namespace tool
