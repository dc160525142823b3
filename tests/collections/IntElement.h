// Test elements for the sorted collections: an integer value, compared as
// numbers, with an optional log of destructions; and walks over a BalCltn.
#ifndef BTREEIMG_TESTS_COLLECTIONS_INTELEMENT_H_
#define BTREEIMG_TESTS_COLLECTIONS_INTELEMENT_H_

#include <vector>

#include "collections/BalCltn.h"
#include "collections/Sorted.h"

namespace collections_test {

inline int sign(long v) { return v > 0 ? 1 : v < 0 ? -1 : 0; }

struct IntElement : Sorted {
  explicit IntElement(int value, std::vector<int>* deaths = nullptr)
      : value(value), deaths_(deaths) {}
  ~IntElement() override { if (deaths_ != nullptr) deaths_->push_back(value); }
  int Compare(long key) override { return sign(value - key); }
  int Compare(int key) override { return sign(long{value} - key); }
  // Compare(const char*) is left to the base: it matches every text.
  using Sorted::Compare;
  int Compare(Sorted* other) override {
    return sign(long{value} - static_cast<IntElement*>(other)->value);
  }

  int value;
  std::vector<int>* deaths_;
};

inline int valueOf(Sorted* s) { return static_cast<IntElement*>(s)->value; }

// The values met stepping through `tree` from the head, or from the tail.
inline std::vector<int> walk(BalCltn& tree, bool fromHead = true) {
  std::vector<int> out;
  void* pos = fromHead ? tree.GetHeadPosition() : tree.GetTailPosition();
  while (pos != nullptr) {
    out.push_back(valueOf(fromHead ? tree.GetNext(pos) : tree.GetPrev(pos)));
  }
  return out;
}

}  // namespace collections_test

#endif  // BTREEIMG_TESTS_COLLECTIONS_INTELEMENT_H_
