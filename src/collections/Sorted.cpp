#include "collections/Sorted.h"

#include <cstdint>

Sorted::Sorted() = default;

Sorted::Sorted(const Sorted&) {}

Sorted& Sorted::operator=(const Sorted&) { return *this; }

Sorted::~Sorted() = default;

int Sorted::Compare(long) { return 0; }

int Sorted::Compare(int) { return 0; }

int Sorted::Compare(const char*) { return 0; }

int Sorted::Compare(Sorted* other) {
  const auto self = reinterpret_cast<std::uintptr_t>(this);
  const auto that = reinterpret_cast<std::uintptr_t>(other);
  return self > that ? 1 : 0;
}

void Sorted::dump() {}
