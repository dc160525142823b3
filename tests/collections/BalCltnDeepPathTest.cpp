// Add and Remove record their way down for up to 64 levels; a tree whose
// links were rearranged by hand into a longer chain is left to the
// recursion. These tests build such a chain and check that both operations
// still do their work on it.
#include "collections/BalCltn.h"

#include <gtest/gtest.h>

#include <vector>

#include "collections/IntElement.h"

namespace {

using collections_test::IntElement;
using collections_test::valueOf;

constexpr int kChain = 80;  // longer than the recorded way down

// A collection whose root chain runs down right links only: element i at
// depth i, each sorting before the one above it (values kChain-1 .. 0).
class DeepChain : public ::testing::Test {
 protected:
  void SetUp() override {
    BalNode* above = &tree;
    for (int i = 0; i < kChain; ++i) {
      elements.push_back(new IntElement(kChain - 1 - i));
      auto* node = new BalNode(elements.back());
      node->RightHeavy();
      above->Righ(node);
      above = node;
    }
  }
  void TearDown() override {
    tree.RemoveAll();
    for (IntElement* e : elements) delete e;
  }

  BalCltn tree;
  std::vector<IntElement*> elements;
};

TEST_F(DeepChain, AddBelowTheDeepestNodeStillAddsTheElement) {
  IntElement least(-1);
  void* pos = tree.Add(&least);
  ASSERT_NE(pos, nullptr);
  EXPECT_EQ(tree.GetAt(pos), &least);
  EXPECT_EQ(tree.GetHead(), &least);
  EXPECT_EQ(tree.Find(&least), &least);
  // The element is taken out again before the elements are freed.
  EXPECT_EQ(tree.Remove(&least), &least);
  EXPECT_EQ(tree.Find(&least), nullptr);
}

TEST_F(DeepChain, RemoveOfTheDeepestElementHandsItBack) {
  IntElement probe(0);  // equal to the deepest element, another object
  Sorted* removed = tree.Remove(&probe);
  ASSERT_NE(removed, &probe);
  EXPECT_EQ(valueOf(removed), 0);
  EXPECT_EQ(tree.Find(&probe), nullptr);
}

TEST_F(DeepChain, RemoveOfAMissingElementChangesNothing) {
  IntElement missing(-5);
  EXPECT_EQ(tree.Remove(&missing), &missing);
  IntElement deepest(0);
  EXPECT_NE(tree.Find(&deepest), nullptr);
}

}  // namespace
