#include "settings/Env.h"

#include <new>

#include "framework/CStdioFile.h"
#include "framework/Diagnose.h"
#include "framework/Exceptions.h"
#include "framework/FileReplacement.h"
#include "framework/ThrowHelpers.h"

using btreeimg::detail::diagnose;

namespace {

constexpr char kFileName[] = "ENV.VD6";

// The known keys and their defaults, in the order missing keys are added.
struct Setting {
  const char* key;
  const char* value;
};
constexpr Setting kDefaults[] = {
    {"VD6ICN", "..\\ICON"},
    {"VD6SOKHD", "..\\CHAIN"},
    {"VD6SOKFD", "A:\\VELDA6\\DEF\\CHAIN"},
    {"VD6DISHD", "..\\DIS"},
    {"VD6DISFD", "A:\\VELDA6\\DEF\\DIS"},
    {"VD6SLZ", "..\\SLZ"},
    {"VD6SOL", "..\\SOL"},
    {"VD6TAS", "..\\TAS"},
    {"VD6DISOVERHD", "..\\DISOVER"},
    {"VD6DISOVERFD", "A:\\VELDA6\\DEF\\DISOVER"},
    {"VD6CODHD", "..\\COD"},
    {"VD6CODFD", "A:"},
    {"VD6USRHD", "..\\BLKUSR"},
    {"VD6USRFD", "A:\\VELDA6\\DEF\\BLKUSR"},
    {"VD6FAC", "..\\BLKFAC"},
    {"VD6HLP", "..\\HELP"},
    {"VD6OLDDSR", "..\\EXEC\\OLDSR"},
    {"VD6OLDUSR", "..\\PREUSR"},
    {"VD6OLDSOK", "..\\SOCK"},
    {"VD6COM", "1"},
    {"VD6PARTRS", "28955"},
    {"VD6KHC", "KOREL"},
    {"VD6PCMHZ", "33"},
    {"VD6RUNEXE", "\\VELDA6\\PAINT\\PAINT.EXE"},
    {"VD6TAL", "..\\TAL"},
    {"VD6TALFD", "A:\\VELDA6\\DEF\\TAL"},
    {"VD6MCR", "..\\MCR"},
    {"VD6MIS", "MILLIMETRO"},
    {"VD6CNF", "..\\EXECW"},
    {"VD6CTRL", "..\\CTRL"},
    {"VD6FLAGCTRL", "SI"},
    {"VD6DEB", "0"},
    {"VD6CNFCOD", "MAC.CNF"},
    {"VD6ABS", "..\\ABS"},
    {"VD6SELIMG", "..\\SELIMG"},
    {"VD6CONFIGCFG", "..\\CFG"},
};
static_assert(sizeof(kDefaults) / sizeof(kDefaults[0]) == 36);

// The missing-value marker: one object, recognised by its address. Kept
// read-only, so that a caller writing through it fails at once.
constexpr char kMissing[] = ".";

// Longest line save writes, line feed included.
constexpr int kMaxLineLength = 259;

char* missingMarker() { return const_cast<char*>(kMissing); }

}  // namespace

Env::Env() : Env(kFileName) {}

Env::Env(const char* fileName) : KeyToStr(fileName) {
  // The base is complete here: if adding a default throws, ~KeyToStr runs.
  for (const Setting& setting : kDefaults) {
    if (getEnv(setting.key) == missingMarker()) {
      putEnv(setting.key, setting.value);
    }
  }
}

Env::~Env() = default;

char* Env::getEnv(const char* key) {
  char* value = StrOf(key);
  return value != nullptr ? value : missingMarker();
}

void Env::putEnv(const char* key, const char* value) {
  if (key == nullptr || value == nullptr) return;
  while (*key == ' ') ++key;
  for (void* pos = GetHeadPosition(); pos != nullptr;) {
    auto* entry = static_cast<MyAssoc*>(GetNext(pos));
    const int order = entry->key.Compare(key);
    if (order > 0) break;  // ascending: no equal key further on
    if (order == 0) {
      if (entry->value.Compare(value) == 0) return;
      entry->value = value;
      save();
      return;
    }
  }
  MyAssoc* entry = new (std::nothrow) MyAssoc(key, value);
  if (entry == nullptr) btreeimg::detail::throwMemoryError();
  try {
    Add(entry);
  } catch (...) {
    delete entry;
    throw;
  }
  save();
}

void Env::save() {
  try {
    btreeimg::FileReplacement replacement(kFileName);
    CStdioFile file;
    if (!replacement.open(file, CFile::modeWrite | CFile::typeText)) {
      diagnose("Not Save configuration ENV.VD6 (Open)");
      return;  // the replacement removes the temporary file
    }
    for (void* pos = GetHeadPosition(); pos != nullptr;) {
      auto* entry = static_cast<MyAssoc*>(GetNext(pos));
      CString line;
      line.Format("%s %s\n", entry->key.GetString(), entry->value.GetString());
      if (line.GetLength() > kMaxLineLength) {
        // Read back, it would split into pieces that parse as other entries.
        diagnose("Not Save %s in ENV.VD6", line.GetString());
        continue;
      }
      try {
        file.WriteString(line);
        file.Flush();  // so that a failure is met at its own line
      } catch (CFileException* e) {
        e->Delete();
        diagnose("Not Save %s in ENV.VD6", line.GetString());
        file.Abort();
        return;
      }
    }
    try {
      file.Close();
    } catch (CFileException* e) {
      e->Delete();
      diagnose("Not Save configuration ENV.VD6 (Write)");
      return;
    }
    try {
      replacement.commit();  // flushed to the disk, then renamed
    } catch (CFileException* e) {
      e->Delete();
      diagnose("Not Save configuration ENV.VD6 (Rename)");
    }
  } catch (CFileException* e) {
    // The file is refused (not a regular file, or not writable) or the
    // temporary file could not be created.
    e->Delete();
    diagnose("Not Save configuration ENV.VD6 (Open)");
  }
}
