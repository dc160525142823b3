#include "settings/AsKeyDat.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>

#include "framework/Diagnose.h"
#include "framework/Exceptions.h"
#include "framework/FileReplacement.h"
#include "framework/ThrowHelpers.h"
#include "settings/LineScan.h"

namespace {

// Widths of the key and the value in a line of the file.
constexpr std::size_t kKeyMax = 20;
constexpr std::size_t kValueMax = 250;

MyAsKey* entryAt(CPtrList* list, POSITION pos) {
  return static_cast<MyAsKey*>(list->GetAt(pos));
}

// Writes every line of `entry` to `file`; a failed write throws.
void writeLines(MyAsKey& entry, CStdioFile& file) {
  CPtrList* values = entry.getList();
  if (values == nullptr) return;
  for (POSITION pos = values->GetHeadPosition(); pos != nullptr;) {
    const CString* value = static_cast<CString*>(values->GetNext(pos));
    CString line = entry.Key();
    line += " ";
    if (value != nullptr) line += *value;
    line += "\n";
    file.WriteString(line);
  }
}

}  // namespace

AsKeyDat::AsKeyDat() : entries(new CPtrList(10)) {}

AsKeyDat::~AsKeyDat() {
  FreeCltnDat();
  delete entries;
}

POSITION AsKeyDat::find(const char* key) {
  if (key == nullptr) key = "";
  while (*key == ' ') ++key;
  for (POSITION pos = entries->GetHeadPosition(); pos != nullptr;) {
    const POSITION here = pos;
    if (static_cast<MyAsKey*>(entries->GetNext(pos))->Key().Compare(key) == 0) {
      return here;
    }
  }
  return nullptr;
}

int AsKeyDat::createFromFile(const char* fileName) {
  CStdioFile file;
  if (!btreeimg::detail::openTable(file, fileName)) return 0;
  // Each line's key is looked up in a table of the entries by key, made
  // once, instead of by walking the entries: a file of n lines then loads
  // in time linear in n. The table holds the first entry of each key, the
  // one find() returns, so the entries and their values come out as the
  // walk would make them. Keys read from a file hold no blanks, so the
  // blanks find() skips never matter here.
  std::unordered_map<std::string, MyAsKey*> byKey;
  for (POSITION pos = entries->GetHeadPosition(); pos != nullptr;) {
    MyAsKey* entry = static_cast<MyAsKey*>(entries->GetNext(pos));
    byKey.emplace(entry->Key().GetString(), entry);  // the first one stays
  }
  char line[btreeimg::detail::kLineBufferSize];
  while (file.ReadString(line, btreeimg::detail::kLineReadCount) != nullptr) {
    const char first = line[0];
    if (first == '@' || first == '#' || first == '\r' || first == '\n' ||
        first == '\0') {
      continue;
    }
    const btreeimg::detail::KeyValue kv =
        btreeimg::detail::scanKeyValue(line, kKeyMax, kValueMax);
    if (kv.key.empty() || kv.value.empty()) {
      file.Close();
      return 0;
    }
    const std::string key(kv.key.data(), kv.key.size());
    MyAsKey*& entry = byKey[key];
    if (entry == nullptr) {
      MyAsKey* added = new MyAsKey(key.c_str());
      try {
        entries->AddTail(added);
      } catch (...) {
        delete added;
        byKey.erase(key);
        throw;
      }
      entry = added;
    }
    CString* value = new CString(kv.value.data(), static_cast<int>(kv.value.size()));
    try {
      entry->AddVal(value);
    } catch (...) {
      delete value;
      throw;
    }
  }
  file.Close();
  return 1;
}

int AsKeyDat::saveFromFile(const char* fileName) {
  if (fileName == nullptr || *fileName == '\0') return 0;
  try {
    btreeimg::FileReplacement replacement(fileName);
    CStdioFile file;
    if (!replacement.open(file, CFile::modeWrite | CFile::typeText)) {
      return 0;  // the replacement removes the temporary file
    }
    ULONGLONG length = 0;
    try {
      for (POSITION pos = entries->GetHeadPosition(); pos != nullptr;) {
        writeLines(*static_cast<MyAsKey*>(entries->GetNext(pos)), file);
      }
      length = file.GetLength();
      file.Close();
      if (length != 0) replacement.commit();
    } catch (CFileException* e) {
      e->Delete();
      btreeimg::detail::diagnose("Not Save %s ", fileName);
      return 0;
    }
    if (length == 0 && std::remove(fileName) != 0 && errno != ENOENT) {
      return 0;  // nothing to write, and the old file would not go
    }
    return 1;
  } catch (CFileException* e) {
    // The file is refused (not a regular file, or not writable) or the
    // temporary file could not be created.
    e->Delete();
    return 0;
  }
}

void AsKeyDat::createAsKey(const char* key, CPtrList* values) {
  MyAsKey* entry = new MyAsKey(key, values);
  try {
    entries->AddTail(entry);
  } catch (...) {
    entry->removeList();  // the caller keeps its list when nothing was added
    delete entry;
    throw;
  }
}

void AsKeyDat::destroyAsKey(CPtrList* values) {
  for (POSITION pos = entries->GetHeadPosition(); pos != nullptr;) {
    const POSITION here = pos;
    MyAsKey* entry = static_cast<MyAsKey*>(entries->GetNext(pos));
    if (entry->getList() == values) {
      entries->RemoveAt(here);
      delete entry;
    }
  }
}

CPtrList* AsKeyDat::getListOf(const char* key) {
  const POSITION pos = find(key);
  return pos != nullptr ? entryAt(entries, pos)->getList() : nullptr;
}

CPtrList* AsKeyDat::removeListOf(const char* key) {
  const POSITION pos = find(key);
  if (pos == nullptr) return nullptr;
  MyAsKey* entry = entryAt(entries, pos);
  entries->RemoveAt(pos);
  CPtrList* values = entry->removeList();
  delete entry;
  return values;
}

MyAsKey* AsKeyDat::getAt(int index) {
  if (index < 0 || index >= entries->GetCount()) return nullptr;
  return entryAt(entries, entries->FindIndex(index));
}

MyAsKey* AsKeyDat::getAtRemove(int index) {
  if (index < 0 || index >= entries->GetCount()) return nullptr;
  const POSITION pos = entries->FindIndex(index);
  MyAsKey* entry = entryAt(entries, pos);
  entries->RemoveAt(pos);
  return entry;
}

int AsKeyDat::getCount() { return entries->GetCount(); }

void AsKeyDat::FreeCltnDat() {
  for (POSITION pos = entries->GetHeadPosition(); pos != nullptr;) {
    delete static_cast<MyAsKey*>(entries->GetNext(pos));
  }
  entries->RemoveAll();
}
