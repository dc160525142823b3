// Key-to-string tables: MyAssoc, a key string with a value string, and
// KeyToStr, a BalCltn of MyAssoc entries filled once from a text file.
//
// Table files are read in text mode (CR LF reads as a line feed), one line
// at a time, at most 254 characters per read: a longer line is split and
// its remainder is read, and parsed, as the next line. A line whose first
// character is "@" is a comment; an empty line is skipped. "#" means
// nothing special. Two line forms exist:
//
// Blank-separated form: the key is the line's first word (after any leading
// white space), the value everything after the white space that follows it,
// up to the line feed, cut at its first carriage return. A key alone gives an
// empty value; a line of white space only gives an entry with an empty key
// and an empty value.
//     RED   bright red        -> RED = "bright red"
//     GREEN                   -> GREEN = ""
//
// Separator form, with separator c: the key is the run of characters at the
// start of the line that are neither c nor an apostrophe (blanks included);
// the value is the text after the first separator, up to the line feed or an
// earlier carriage return. A line without a separator is skipped. For a line
// that begins with c the value follows the rule of the runtime's strtok:
// with T the first run of non-separators, the value starts length(T) + 1
// characters into the line ("=abc=d" gives an empty key and the value "=d").
//     SUB TITLE=Second level = two   -> "SUB TITLE" = "Second level = two"
//     it's=x                         -> "it" = "x"
//
// Key length: a key has at most 23 characters in the blank-separated form
// and at most 31 in the separator form. A line whose key is longer is
// skipped whole, in both forms: no entry is made from it (a cut key could
// silently collide with another key).
//
// Loading never checks for an existing key: a key that occurs on several
// lines gives several entries. Keys compare case-sensitively, byte by byte.
#ifndef BTREEIMG_SETTINGS_KEYTOSTR_H_
#define BTREEIMG_SETTINGS_KEYTOSTR_H_

#include "collections/BalCltn.h"
#include "collections/Sorted.h"
#include "framework/CString.h"
#include "framework/Export.h"

// An element with a key and a value, ordered by key.
class AFX_EXT_CLASS MyAssoc : public Sorted {
 public:
  // Copies both texts (a null text counts as empty).
  MyAssoc(const char* key, const char* value);
  MyAssoc(const MyAssoc& other);
  MyAssoc& operator=(const MyAssoc& other);
  // Frees the key and the value.
  ~MyAssoc() override;

  using Sorted::Compare;
  // Compares the key with `text` byte by byte, case-sensitively: negative
  // when the key sorts before it, 0 when equal, positive after.
  int Compare(const char* text) override;
  // The same against the key of `other`, which must be a MyAssoc. A null
  // `other` sorts before every element (the result is positive).
  int Compare(Sorted* other) override;

  // The key and the value, as loaded or set.
  CString key;
  CString value;
};

// A lookup table from keys to texts. Every element is a MyAssoc that the
// table owns: the destructor deletes them all. Copying or assigning copies
// the collection's members only, so both objects then share one tree, and
// only one of them may be destroyed.
//
// Filling a table inserts through BalCltn::Add; see BalCltn.h for threads.
// Lookups on a table that nobody changes meanwhile are safe from any thread.
class AFX_EXT_CLASS KeyToStr : public BalCltn {
 public:
  // An empty table.
  KeyToStr();
  // An empty table filled from `fileName` in the blank-separated form.
  // A file that cannot be opened leaves the table empty and hands
  // "KeyToStr Error open file  <name>" to the diagnostics sink. A read error
  // throws CFileException* (nothing is left allocated).
  explicit KeyToStr(const char* fileName);
  // The same in the separator form with separator `separator`.
  KeyToStr(const char* fileName, char separator);
  KeyToStr(const KeyToStr&) = default;
  KeyToStr& operator=(const KeyToStr&) = default;
  // Deletes every element (FreeContents), then the tree.
  ~KeyToStr();

  // The value stored for `key` after skipping its leading blanks (" " only),
  // or null when there is none (also for a null key). With a key that occurs
  // more than once, the value of the first equal entry met by the search
  // from the root. The text belongs to the entry: it stays valid until that
  // entry's value changes or the table is destroyed, and must not be freed
  // or written through.
  char* StrOf(const char* key);
};

#endif  // BTREEIMG_SETTINGS_KEYTOSTR_H_
