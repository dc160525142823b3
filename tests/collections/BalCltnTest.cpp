#include "collections/BalCltn.h"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "collections/BalTreeCheck.h"
#include "collections/IntElement.h"

using btreeimg::detail::checkedHeight;
using collections_test::IntElement;
using collections_test::valueOf;
using collections_test::walk;
using Ints = std::vector<int>;

namespace {

// The subtree as "value(left,right)", the value marked L or R when the node
// is left- or right-heavy; a leaf is its value alone.
std::string shape(BalNode* n) {
  if (n == nullptr) return "";
  const std::string s = std::to_string(valueOf(n->Key())) + (n->IsLeftHeavy() ? "L" : "") +
                        (n->IsRightHeavy() ? "R" : "");
  if (n->Left() == nullptr && n->Right() == nullptr) return s;
  return s + "(" + shape(n->Left()) + "," + shape(n->Right()) + ")";
}

// A BalCltn that deletes its elements when it goes, even after a failure.
struct OwningTree : BalCltn {
  ~OwningTree() { FreeContents(); }
};

class BalCltnTest : public ::testing::Test {
 protected:
  // Adds the elements from..to, which log their deletion in `deaths`.
  void add(int from, int to) {
    for (int v = from; v <= to; ++v) tree.Add(new IntElement(v, &deaths));
  }
  BalNode* root() { return tree.Right(); }

  Ints deaths;
  OwningTree tree;
};

}  // namespace

TEST_F(BalCltnTest, OneToSevenBuildAPerfectTreeGreaterLeftAndPerformVisitsLeastFirst) {
  add(1, 7);
  ASSERT_EQ(checkedHeight(tree), 3);
  EXPECT_EQ(shape(root()), "4(6(7,5),2(3,1))");
  // Perform visits least first and skips the anchor, which is no node.
  Ints seen;
  tree.Perform([](Sorted* s, void* out, void*) { static_cast<Ints*>(out)->push_back(valueOf(s)); },
               &seen, nullptr);
  EXPECT_EQ(seen, (Ints{1, 2, 3, 4, 5, 6, 7}));
  // (Removals, the root's included, are checked against a model below.)
}

TEST(BalCltn, RemoveHeadAndTailTakeExactlyTheEndsAndNullsAndMissesChangeNothing) {
  BalCltn tree;
  EXPECT_EQ(tree.RemoveHead(), nullptr);
  EXPECT_EQ(tree.RemoveTail(), nullptr);
  IntElement e[3] = {IntElement(1), IntElement(1), IntElement(1)};
  for (IntElement& element : e) tree.Add(&element);
  void* pos = tree.GetHeadPosition();  // equal elements step newest first
  for (int i = 2; i >= 0; --i) EXPECT_EQ(tree.GetNext(pos), &e[i]);
  EXPECT_EQ(pos, nullptr);
  EXPECT_EQ(tree.GetNext(pos), nullptr);
  EXPECT_EQ(tree.GetPrev(pos), nullptr);
  EXPECT_EQ(tree.GetAt(nullptr), nullptr);
  EXPECT_EQ(tree.Add(nullptr), nullptr);
  EXPECT_EQ(tree.Find(static_cast<Sorted*>(nullptr)), nullptr);
  IntElement missing(42);
  EXPECT_EQ(tree.Remove(&missing), &missing);
  EXPECT_EQ(tree.Remove(nullptr), nullptr);
  EXPECT_EQ(tree.RemoveHead(), &e[2]);
  EXPECT_EQ(tree.RemoveTail(), &e[0]);
  EXPECT_GE(checkedHeight(tree), 0);
  EXPECT_EQ(tree.RemoveHead(), &e[1]);
  EXPECT_EQ(tree.GetHeadPosition(), nullptr);
}

TEST_F(BalCltnTest, FreeContentsDeletesGreatestFirstOrAllButOne) {
  add(1, 3);
  tree.FreeContents();
  EXPECT_EQ(deaths, (Ints{3, 2, 1}));
  EXPECT_EQ(tree.GetCount(), 0);
  // TreeFreeContentsExcept spares one element and leaves the count.
  deaths.clear();
  add(1, 5);
  Sorted* keep = tree.Find(2);
  tree.TreeFreeContentsExcept(keep);
  EXPECT_EQ(deaths, (Ints{5, 4, 3, 1}));
  EXPECT_EQ(tree.Right(), nullptr);
  EXPECT_EQ(tree.GetCount(), 5);
  tree.RemoveAll();
  delete keep;
}

// Add and Remove record their way down for up to 64 levels; a chain built by
// hand deeper than that is left to the recursion. RemoveAll deletes none of
// the elements, which live in a vector.
TEST(BalCltnDeepPath, AddAndRemoveStillWorkBelowTheRecordedDepth) {
  constexpr int kChain = 80;
  std::vector<IntElement> elements;
  elements.reserve(kChain);
  BalCltn tree;
  BalNode* above = &tree;
  for (int i = 0; i < kChain; ++i) {  // right links only, values kChain-1 .. 0
    auto* node = new BalNode(&elements.emplace_back(kChain - 1 - i));
    node->RightHeavy();
    above->Righ(node);
    above = node;
  }
  IntElement least(-1), missing(-5), probe(0);
  EXPECT_EQ(tree.GetAt(tree.Add(&least)), &least);
  EXPECT_EQ(tree.Remove(&least), &least);
  EXPECT_EQ(tree.Remove(&missing), &missing);
  EXPECT_EQ(tree.Remove(&probe), &elements.back());  // the deepest, handed back
  tree.RemoveAll();
}

RC_GTEST_PROP(BalCltnModel, AgreesWithMultisetAfterAnyOperationSequence, ()) {
  // Each step is (operation, key); operations 0-4 add, 5-7 remove, 8 removes
  // the head, 9 the tail, 10-11 find.
  const auto steps = *rc::gen::container<std::vector<std::pair<int, int>>>(
      rc::gen::pair(rc::gen::inRange(0, 12), rc::gen::inRange(0, 24)));
  OwningTree tree;
  std::multiset<int> model;
  std::map<Sorted*, void*> where;  // the position each element must be at
  for (const auto& [op, key] : steps) {
    IntElement probe(key);
    Sorted* removed = nullptr;
    if (op <= 4) {
      auto* e = new IntElement(key);
      where[e] = tree.Add(e);
      model.insert(key);
    } else if (op <= 7) {
      // Remove searches as GetKeyPosition does, so this node's element is
      // the one removed; with two children the node survives and takes over
      // the element that follows.
      auto* node = static_cast<BalNode*>(tree.GetKeyPosition(&probe));
      Sorted* matched = node != nullptr ? node->Key() : nullptr;
      void* next = node;
      if (node != nullptr && node->Left() != nullptr && node->Right() != nullptr) tree.GetNext(next);
      Sorted* follower = next != node ? tree.GetAt(next) : nullptr;
      removed = tree.Remove(&probe);
      RC_ASSERT((removed != &probe) == (model.count(key) > 0));
      if (removed == &probe) removed = nullptr;
      RC_ASSERT(removed == matched);
      if (follower != nullptr) where[follower] = node;
      if (removed != nullptr) model.erase(model.find(key));
    } else if (op <= 9) {
      removed = op == 8 ? tree.RemoveHead() : tree.RemoveTail();
      RC_ASSERT((removed == nullptr) == model.empty());
      if (removed != nullptr) {
        const auto end = op == 8 ? model.begin() : std::prev(model.end());
        RC_ASSERT(valueOf(removed) == *end);
        model.erase(end);
      }
    } else {
      // Every overload searches the same path from the root.
      Sorted* found = tree.Find(key);
      RC_ASSERT((found != nullptr) == (model.count(key) > 0));
      if (found != nullptr) RC_ASSERT(valueOf(found) == key);
      RC_ASSERT(tree.Find(long{key}) == found);
      RC_ASSERT(tree.Find(&probe) == found);
    }
    if (removed != nullptr) where.erase(removed);
    delete removed;
    RC_ASSERT(checkedHeight(tree) >= 0);
    RC_ASSERT(tree.GetCount() == static_cast<int>(model.size()));
    for (auto& [element, pos] : where) RC_ASSERT(tree.GetAt(pos) == element);
  }
  const std::vector<int> ascending(model.begin(), model.end());
  RC_ASSERT(walk(tree) == ascending);
  RC_ASSERT(walk(tree, false) == std::vector<int>(ascending.rbegin(), ascending.rend()));
  for (int i = 0; i < tree.GetCount(); ++i) {
    RC_ASSERT(valueOf(tree.GetAt(tree.FindIndex(i))) == ascending[static_cast<std::size_t>(i)]);
  }
  RC_ASSERT(!tree.FindIndex(tree.GetCount()));
}
