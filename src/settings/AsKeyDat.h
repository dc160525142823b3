// Keyed value lists: AsKeyDat, an ordered collection of entries, and
// MyAsKey, one entry: a key with a list of string values.
//
// File format (text mode: CR LF reads as a line feed, a line feed is written
// as CR LF), one key and one value per line:
//     @ fruit and vegetables      <- "@" or "#" first: a comment
//     FRUIT apple
//     VEG carrot
//     FRUIT pear                  <- FRUIT gets the values apple, pear
// A line is read 254 characters at a time (a longer line continues as the
// next line). Lines whose first character is a carriage return or a line
// feed are skipped. Every other line is split as sscanf's "%20s %250[^\n]s"
// would split it: the key is the first word after any leading white space,
// at most 20 characters (a longer word's other characters begin the value);
// the value is what follows the white space after the key, up to the line
// feed, at most 250 characters. Both must be present. A key that occurs on
// several lines gets one value from each, in file order; entries stand in
// the order their keys first occur. Saving writes "key value" per value:
// entries in collection order, each entry's values in list order.
//
// Ownership: the collection owns its entries; an entry owns its value list
// and the strings in it (deleted with `delete`). An operation that hands out
// an entry or a list (getAtRemove, removeListOf, MyAsKey::removeList) hands
// its ownership to the caller; one that takes one in (createAsKey, AddVal,
// the two-argument MyAsKey constructor) takes it over. Lookups compare keys
// case-sensitively; a key's leading blanks (" " only) are skipped.
//
// Not sorted and unrelated to the sorted collections. No shared state: one
// collection is used by one thread at a time.
#ifndef BTREEIMG_SETTINGS_ASKEYDAT_H_
#define BTREEIMG_SETTINGS_ASKEYDAT_H_

#include "framework/CPtrList.h"
#include "framework/CStdioFile.h"
#include "framework/CString.h"
#include "framework/Export.h"
#include "framework/Types.h"

// One entry: a key and a list of CString* values (null while it has none).
class AFX_EXT_CLASS MyAsKey {
 public:
  // Copies `key`; no values.
  explicit MyAsKey(const char* key);
  // Copies `key` and takes over `values` (null allowed) with its strings.
  MyAsKey(const char* key, CPtrList* values);
  // Copy and assignment copy the key and the *pointer* to the value list:
  // both entries then share one list, and only one of them may be
  // destroyed. Assignment does not destroy the list the entry had before.
  MyAsKey(const MyAsKey& other);
  MyAsKey& operator=(const MyAsKey& other);
  // Deletes every string of the value list, then the list.
  ~MyAsKey();

  // Appends `value`, which the entry takes over; creates the value list
  // (block size 10) on the first value.
  void AddVal(CString* value);
  // The value list, or null; it stays owned by the entry.
  CPtrList* getList();
  // Detaches the value list and returns it (null when there is none); the
  // caller owns it and its strings, and the entry has no values.
  CPtrList* removeList();
  // The entry's key.
  CString& Key();
  // Writes "key value\n" for each value, in list order, to `file` (open for
  // writing). A line whose write throws CFileException* is dropped and
  // "Not Save <file name> " goes to the diagnostics sink; the next value is
  // written. Nothing is written for an entry without values.
  void StoreOn(CStdioFile* file);

 private:
  CString key;
  CPtrList* values;
};

class AFX_EXT_CLASS AsKeyDat {
 public:
  // An empty collection.
  AsKeyDat();
  // Copy and assignment copy the pointer to the entry list: both objects then
  // share one list, and only one of them may be destroyed.
  AsKeyDat(const AsKeyDat& other) = default;
  AsKeyDat& operator=(const AsKeyDat& other) = default;
  // Destroys every entry, with its values, and the entry list.
  ~AsKeyDat();

  // Adds the contents of the file `fileName` to the collection (which is not
  // emptied first). Returns 1 when the whole file was read; 0 when it cannot
  // be opened, or at the first line that lacks its key or its value, the
  // entries and values of the lines before it staying. A read error throws
  // CFileException*; what was read before stays.
  int createFromFile(const char* fileName);
  // Writes the collection to `fileName`, replacing the file through
  // btreeimg::FileReplacement (a temporary file "<name>.~tmp-XXXXXX" beside
  // it, flushed and renamed over it, the old file's mode kept). When no line
  // is written the file is deleted instead. Returns 1 on success; 0, with the
  // old file left as it was, when the file exists but is not a regular file
  // or may not be written, when the temporary file cannot be made, or when
  // writing or renaming fails (then "Not Save <fileName> " also goes to the
  // diagnostics sink).
  int saveFromFile(const char* fileName);
  // Appends an entry with a copy of `key` and `values` (null allowed), which
  // it takes over. An entry with the same key is not looked for.
  void createAsKey(const char* key, CPtrList* values);
  // Removes and destroys, with their values, every entry whose value list is
  // `values` (pointer equality; a null pointer matches the entries that have
  // no values).
  void destroyAsKey(CPtrList* values);
  // The value list of the first entry with `key`, or null when there is no
  // such entry or it has no values. The list stays owned by the entry.
  CPtrList* getListOf(const char* key);
  // Removes the first entry with `key`, destroys it and returns its value
  // list, which the caller then owns with its strings. Null when no entry has
  // the key (nothing changes) or when the entry had no values (the entry is
  // still removed).
  CPtrList* removeListOf(const char* key);
  // The entry at 0-based `index` in collection order (still owned by the
  // collection), or null outside 0 .. getCount()-1.
  MyAsKey* getAt(int index);
  // Removes the entry at `index` and hands it to the caller; null, with
  // nothing changed, outside 0 .. getCount()-1.
  MyAsKey* getAtRemove(int index);
  // The number of entries.
  int getCount();
  // Destroys every entry; the collection stays usable.
  void FreeCltnDat();

 private:
  // Position of the first entry whose key equals `key` after its leading
  // blanks, or null.
  POSITION find(const char* key);

  CPtrList* entries;
};

#endif  // BTREEIMG_SETTINGS_ASKEYDAT_H_
