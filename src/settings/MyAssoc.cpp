#include "settings/KeyToStr.h"

#include <cstring>

MyAssoc::MyAssoc(const char* k, const char* v) : key(k), value(v) {}

MyAssoc::MyAssoc(const MyAssoc& other)
    : Sorted(other), key(other.key), value(other.value) {}

MyAssoc& MyAssoc::operator=(const MyAssoc& other) {
  key = other.key;
  value = other.value;
  return *this;
}

MyAssoc::~MyAssoc() = default;

namespace {

// strcmp, with the first characters compared here: in a table's tree most
// comparisons are settled by them, and this is the comparison every
// insertion and lookup makes at each level.
int compareKeys(const char* a, const char* b) {
  const int first = static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b);
  if (first != 0 || *a == '\0') return first;
  return std::strcmp(a + 1, b + 1);
}

}  // namespace

int MyAssoc::Compare(const char* text) {
  return compareKeys(key.GetString(), text != nullptr ? text : "");
}

int MyAssoc::Compare(Sorted* other) {
  if (other == nullptr) return 1;
  return compareKeys(key.GetString(),
                     static_cast<MyAssoc*>(other)->key.GetString());
}
