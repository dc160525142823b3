#include "settings/KeyToStr.h"

#include <cstring>
#include <new>
#include <string_view>

#include "framework/CStdioFile.h"
#include "framework/Diagnose.h"
#include "framework/ThrowHelpers.h"
#include "settings/LineScan.h"

using btreeimg::detail::KeyValue;

namespace {

// Longest key of each line form; a line with a longer key is skipped.
constexpr std::size_t kBlankFormKeyMax = 23;
constexpr std::size_t kSeparatorFormKeyMax = 31;

// Marks the blank-separated form in place of a separator character.
constexpr int kBlankForm = -1;

// Adds an entry made from two texts that are not NUL-terminated.
void addEntry(BalCltn& table, std::string_view key, std::string_view value) {
  // Bounded copies: a key is at most 31 characters and a value at most one
  // line's 254 (the callers guarantee it).
  char keyText[kSeparatorFormKeyMax + 1];
  char valueText[btreeimg::detail::kLineBufferSize];
  // (An empty view may have no address at all: copy nothing then.)
  if (!key.empty()) std::memcpy(keyText, key.data(), key.size());
  keyText[key.size()] = '\0';
  if (!value.empty()) std::memcpy(valueText, value.data(), value.size());
  valueText[value.size()] = '\0';
  MyAssoc* entry = new (std::nothrow) MyAssoc(keyText, valueText);
  if (entry == nullptr) btreeimg::detail::throwMemoryError();
  try {
    table.Add(entry);
  } catch (...) {
    delete entry;
    throw;
  }
}

// Parses one line in the table's form; false when it yields no entry.
bool parseLine(const char* line, int form, KeyValue* out) {
  if (form == kBlankForm) {
    *out = btreeimg::detail::scanKeyValue(line);
    if (out->key.size() > kBlankFormKeyMax) return false;
    out->value = btreeimg::detail::cutAt(out->value, '\r');
    return true;
  }
  if (!btreeimg::detail::scanSeparated(line, static_cast<char>(form), out)) {
    return false;
  }
  return out->key.size() <= kSeparatorFormKeyMax;
}

// Fills `table` from `fileName` in the given form (kBlankForm or a separator
// character).
void load(BalCltn& table, const char* fileName, int form) {
  CStdioFile file;
  if (!btreeimg::detail::openTable(file, fileName)) {
    btreeimg::detail::diagnose("KeyToStr Error open file  %s",
                               fileName != nullptr ? fileName : "");
    return;
  }
  char line[btreeimg::detail::kLineBufferSize];
  while (file.ReadString(line, btreeimg::detail::kLineReadCount) != nullptr) {
    if (line[0] == '@' || line[0] == '\n' || line[0] == '\0') continue;
    KeyValue entry;
    if (parseLine(line, form, &entry)) addEntry(table, entry.key, entry.value);
  }
  file.Close();
}

}  // namespace

KeyToStr::KeyToStr() = default;

KeyToStr::KeyToStr(const char* fileName) {
  try {
    load(*this, fileName, kBlankForm);
  } catch (...) {
    FreeContents();  // the destructor does not run for a throwing constructor
    throw;
  }
}

KeyToStr::KeyToStr(const char* fileName, char separator) {
  try {
    load(*this, fileName, static_cast<unsigned char>(separator));
  } catch (...) {
    FreeContents();
    throw;
  }
}

KeyToStr::~KeyToStr() { FreeContents(); }

char* KeyToStr::StrOf(const char* key) {
  if (key == nullptr) return nullptr;
  while (*key == ' ') ++key;
  Sorted* found = Find(key);
  if (found == nullptr) return nullptr;
  // The entry's own characters; callers must not write through them.
  return const_cast<char*>(static_cast<MyAssoc*>(found)->value.GetString());
}
