// Test elements for the sorted collections: an integer value, compared as
// numbers, with an optional log of destructions.
#ifndef BTREEIMG_TESTS_COLLECTIONS_INTELEMENT_H_
#define BTREEIMG_TESTS_COLLECTIONS_INTELEMENT_H_

#include <vector>

#include "collections/Sorted.h"

namespace collections_test {

inline int sign(long v) { return v > 0 ? 1 : v < 0 ? -1 : 0; }

class IntElement : public Sorted {
 public:
  explicit IntElement(int value, std::vector<int>* deaths = nullptr)
      : value(value), deaths_(deaths) {}
  ~IntElement() override {
    if (deaths_ != nullptr) deaths_->push_back(value);
  }
  int Compare(long key) override { return sign(value - key); }
  int Compare(int key) override { return sign(long{value} - key); }
  // Compare(const char*) is left to the base: it matches every text.
  using Sorted::Compare;
  int Compare(Sorted* other) override {
    return sign(long{value} - static_cast<IntElement*>(other)->value);
  }

  int value;

 private:
  std::vector<int>* deaths_;
};

inline int valueOf(Sorted* s) { return static_cast<IntElement*>(s)->value; }

}  // namespace collections_test

#endif  // BTREEIMG_TESTS_COLLECTIONS_INTELEMENT_H_
