// 8-bit text string of the framework. Holds any bytes except that the
// characters past an embedded NUL are invisible to the C-string view.
// Comparisons are byte-wise (unsigned), like the runtime's strcmp.
#ifndef BTREEIMG_FRAMEWORK_CSTRING_H_
#define BTREEIMG_FRAMEWORK_CSTRING_H_

#include <string>

#include "framework/Export.h"

class AFX_EXT_CLASS CString {
 public:
  CString() = default;
  CString(const char* text);  // NOLINT: implicit, as the framework's
  // The first `length` characters of `text`.
  CString(const char* text, int length);
  // `repeat` times the character `ch`.
  CString(char ch, int repeat = 1);
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  CString& operator=(const CString&) = default;
  CString& operator=(CString&&) noexcept = default;
  // Replace the text by a copy of `text` (null: empty) or by `ch`.
  CString& operator=(const char* text);
  CString& operator=(char ch);
  // Frees the text.
  ~CString();

  // The number of characters.
  int GetLength() const { return static_cast<int>(text_.size()); }
  // True for an empty string.
  bool IsEmpty() const { return text_.empty(); }
  // Makes the string empty.
  void Empty() { text_.clear(); }

  // The text as a C string, valid until the next change of the string.
  operator const char*() const { return text_.c_str(); }  // NOLINT
  const char* GetString() const { return text_.c_str(); }

  // Character at `index`. Throws CInvalidArgException* outside 0..length-1.
  char GetAt(int index) const;
  // Replaces the character at `index`. Throws CInvalidArgException* outside
  // 0..length-1.
  void SetAt(int index, char ch);
  // GetAt(index).
  char operator[](int index) const { return GetAt(index); }

  // Byte-wise comparison: negative, 0 or positive, as strcmp.
  int Compare(const char* other) const;
  // The same after folding ASCII letters to upper case.
  int CompareNoCase(const char* other) const;

  // Fold ASCII letters to upper (lower) case in place; return the string.
  CString& MakeUpper();
  CString& MakeLower();
  // Replaces every occurrence of `from` (non-empty) by `to`; returns the count.
  int Replace(const char* from, const char* to);
  int Replace(char from, char to);
  // Index of the first `sub` at or after `start`, or -1.
  int Find(const char* sub, int start = 0) const;
  int Find(char ch, int start = 0) const;
  // The first `count` characters (all of them when there are fewer).
  CString Left(int count) const;
  // The characters from `first` on, at most `count` of them.
  CString Mid(int first) const;
  CString Mid(int first, int count) const;
  // The last `count` characters (all of them when there are fewer).
  CString Right(int count) const;
  // Remove leading, trailing or both white space characters in place.
  CString& TrimLeft();
  CString& TrimRight();
  CString& Trim();

  // A writable buffer of at least `minLength` characters plus a terminator;
  // valid until the next change of the string. ReleaseBuffer(n) then sets the
  // length to n, or to the position of the first NUL when n is -1.
  char* GetBuffer(int minLength = 0);
  void ReleaseBuffer(int newLength = -1);

  // printf-style formatting into this string.
  void Format(const char* format, ...)
      __attribute__((format(printf, 2, 3)));

  // Appends `other`, `text` or `ch`.
  CString& operator+=(const CString& other);
  CString& operator+=(const char* text);
  CString& operator+=(char ch);

  // The underlying text, for code that prefers the standard library.
  const std::string& str() const { return text_; }

 private:
  std::string text_;
};

// The concatenation of `a` and `b`.
AFX_EXT_CLASS CString operator+(const CString& a, const CString& b);
AFX_EXT_CLASS CString operator+(const CString& a, const char* b);
AFX_EXT_CLASS CString operator+(const char* a, const CString& b);
AFX_EXT_CLASS CString operator+(const CString& a, char b);

// Byte-wise equality, as Compare() == 0.
AFX_EXT_CLASS bool operator==(const CString& a, const CString& b);
AFX_EXT_CLASS bool operator==(const CString& a, const char* b);
AFX_EXT_CLASS bool operator==(const char* a, const CString& b);
// Byte-wise inequality, as Compare() != 0.
AFX_EXT_CLASS bool operator!=(const CString& a, const CString& b);
AFX_EXT_CLASS bool operator!=(const CString& a, const char* b);
AFX_EXT_CLASS bool operator!=(const char* a, const CString& b);
// Byte-wise order, as Compare() < 0.
AFX_EXT_CLASS bool operator<(const CString& a, const CString& b);
AFX_EXT_CLASS bool operator<(const CString& a, const char* b);
AFX_EXT_CLASS bool operator<(const char* a, const CString& b);

#endif  // BTREEIMG_FRAMEWORK_CSTRING_H_
