#include "framework/CStringArray.h"

#include "framework/ThrowHelpers.h"

using btreeimg::detail::throwInvalidArgument;

CStringArray::~CStringArray() = default;

void CStringArray::check(int index) const {
  if (index < 0 || index >= GetSize()) {
    throwInvalidArgument("CStringArray index out of range");
  }
}

void CStringArray::SetSize(int newSize, int) {
  if (newSize < 0) throwInvalidArgument("CStringArray negative size");
  items_.resize(static_cast<std::size_t>(newSize));
}

const CString& CStringArray::GetAt(int index) const {
  check(index);
  return items_[static_cast<std::size_t>(index)];
}

void CStringArray::SetAt(int index, const CString& text) {
  check(index);
  items_[static_cast<std::size_t>(index)] = text;
}

CString& CStringArray::ElementAt(int index) {
  check(index);
  return items_[static_cast<std::size_t>(index)];
}

int CStringArray::Add(const CString& text) {
  items_.push_back(text);
  return GetSize() - 1;
}

void CStringArray::InsertAt(int index, const CString& text, int count) {
  if (index < 0 || index > GetSize() || count < 0) {
    throwInvalidArgument("CStringArray insert position out of range");
  }
  items_.insert(items_.begin() + index, static_cast<std::size_t>(count), text);
}

void CStringArray::RemoveAt(int index, int count) {
  if (index < 0 || count < 0 || index > GetSize() ||
      count > GetSize() - index) {
    throwInvalidArgument("CStringArray remove range out of range");
  }
  items_.erase(items_.begin() + index, items_.begin() + index + count);
}
