// The host application's environment settings: 36 known keys, each with a
// default value, kept in the text file "ENV.VD6" in the current directory.
// The library gives no key a meaning; it stores texts and supplies defaults.
//
// The file is read in the blank-separated form of KeyToStr (see KeyToStr.h):
// "KEY value" per line, "@" comments, empty lines skipped, keys of more than
// 23 characters skipped. It is written as one "%s %s\n" line per entry (key,
// one blank, value), in ascending key order, in text mode (CR LF on disk).
// Comment and empty lines of a file that was read are not written back.
//
// Saving replaces "ENV.VD6" through btreeimg::FileReplacement (a private
// temporary file "ENV.VD6.~tmp-XXXXXX" beside it, flushed and renamed over
// it once complete, the old file's mode kept), so a failed save leaves the
// old file whole. Failures cannot be reported to the caller; the
// texts below go to the diagnostics sink (framework/Diagnostics.h), silent
// by default:
//   "Not Save configuration ENV.VD6 (Open)"   "ENV.VD6" exists but is not a
//                                             regular file or may not be
//                                             written, or the temporary file
//                                             cannot be created; nothing is
//                                             written
//   "Not Save <line> in ENV.VD6"              writing that line failed (the
//                                             save is abandoned), or the line
//                                             is longer than 259 characters
//                                             with its line feed (only that
//                                             line is left out)
//   "Not Save configuration ENV.VD6 (Write)"  completing the file failed; the
//                                             save is abandoned
//   "Not Save configuration ENV.VD6 (Rename)" the new file could not replace
//                                             the old one
//
// Threads: an Env is used by one thread at a time, and two Env objects in one
// directory share the one file.
#ifndef BTREEIMG_SETTINGS_ENV_H_
#define BTREEIMG_SETTINGS_ENV_H_

#include "framework/Export.h"
#include "settings/KeyToStr.h"

class AFX_EXT_CLASS Env : public KeyToStr {
 public:
  // Reads "ENV.VD6", then adds every known key the file lacks with its
  // default, in the table's order, saving the file after each addition. A
  // missing or unreadable file starts an empty table, so every default is
  // added. A complete file is not written.
  Env();
  // The same, but reads `fileName`. Saving still writes "ENV.VD6" in the
  // current directory; the name read from is not remembered.
  explicit Env(const char* fileName);
  Env(const Env&) = default;
  // Copies the collection's members: both objects then share one tree, and
  // only one of them may be destroyed.
  Env& operator=(const Env&) = default;
  // Deletes every entry.
  ~Env();

  // The value of `key` after skipping its leading blanks (" " only), or the
  // missing-value marker "." when the table lacks the key. Never null. The
  // marker is one fixed object of the library: a missing key is told by the
  // returned address, so a stored value "." still counts as present. The
  // text must not be freed or written through.
  char* getEnv(const char* key);
  // Sets `key` (leading blanks skipped) to a copy of `value` and saves the
  // file when that changed anything. The entry changed is the first with an
  // equal key in ascending order; without one, a new entry is added. A null
  // value (or key) changes nothing; an unchanged value writes nothing.
  void putEnv(const char* key, const char* value);
  // Writes the whole table to "ENV.VD6" in the current directory.
  void save();
};

#endif  // BTREEIMG_SETTINGS_ENV_H_
