// Growable array of CString. Every element access is bounds-tested: an
// index outside 0 .. GetSize()-1 throws CInvalidArgException*.
#ifndef BTREEIMG_FRAMEWORK_CSTRINGARRAY_H_
#define BTREEIMG_FRAMEWORK_CSTRINGARRAY_H_

#include <vector>

#include "framework/CObject.h"
#include "framework/CString.h"
#include "framework/Export.h"
#include "framework/Types.h"

class AFX_EXT_CLASS CStringArray : public CObject {
 public:
  CStringArray() = default;
  CStringArray(const CStringArray&) = default;
  CStringArray& operator=(const CStringArray&) = default;
  ~CStringArray() override;

  // The number of elements (GetCount() is the same).
  int GetSize() const { return static_cast<int>(items_.size()); }
  int GetCount() const { return GetSize(); }
  // The last index, GetSize() - 1.
  int GetUpperBound() const { return GetSize() - 1; }
  // TRUE when the array holds no element.
  BOOL IsEmpty() const { return items_.empty(); }
  // Resizes to `newSize` elements (new ones empty). `growBy` is accepted for
  // compatibility; growth is managed by the standard library.
  void SetSize(int newSize, int growBy = -1);

  // The element at `index`, for reading or changing (bounds-tested).
  const CString& GetAt(int index) const;
  // Replaces the element at `index`.
  void SetAt(int index, const CString& text);
  // The element at `index`, for changing; operator[] is ElementAt(), and
  // GetAt() on a const array.
  CString& ElementAt(int index);
  CString& operator[](int index) { return ElementAt(index); }
  const CString& operator[](int index) const { return GetAt(index); }

  // Appends and returns the new element's index.
  int Add(const CString& text);
  // Inserts `count` copies of `text` at `index` (0 .. GetSize()).
  void InsertAt(int index, const CString& text, int count = 1);
  // Removes `count` elements starting at `index`.
  void RemoveAt(int index, int count = 1);
  // Removes every element.
  void RemoveAll() { items_.clear(); }

 private:
  void check(int index) const;

  std::vector<CString> items_;
};

#endif  // BTREEIMG_FRAMEWORK_CSTRINGARRAY_H_
