#include "settings/KeyToStr.h"

MyAssoc::MyAssoc(const char* k, const char* v) : key(k), value(v) {}

MyAssoc::MyAssoc(const MyAssoc& other)
    : Sorted(other), key(other.key), value(other.value) {}

MyAssoc& MyAssoc::operator=(const MyAssoc& other) {
  key = other.key;
  value = other.value;
  return *this;
}

MyAssoc::~MyAssoc() = default;

int MyAssoc::Compare(const char* text) { return key.Compare(text); }

int MyAssoc::Compare(Sorted* other) {
  if (other == nullptr) return 1;
  return key.Compare(static_cast<MyAssoc*>(other)->key);
}
