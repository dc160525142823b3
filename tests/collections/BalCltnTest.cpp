#include "collections/BalCltn.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "collections/BalTreeCheck.h"
#include "collections/IntElement.h"

using btreeimg::detail::checkedHeight;
using collections_test::IntElement;
using collections_test::valueOf;

namespace {

// A collection of IntElements that deletes them at the end of the test.
class TreeFixture : public ::testing::Test {
 protected:
  ~TreeFixture() override { tree.FreeContents(); }

  IntElement* add(int v) {
    auto* e = new IntElement(v, &deaths);
    tree.Add(e);
    return e;
  }
  void addRange(int from, int to) {
    for (int v = from; v <= to; ++v) add(v);
  }
  std::vector<int> forward() {
    std::vector<int> out;
    for (void* pos = tree.GetHeadPosition(); pos != nullptr;) {
      out.push_back(valueOf(tree.GetNext(pos)));
    }
    return out;
  }
  std::vector<int> backward() {
    std::vector<int> out;
    for (void* pos = tree.GetTailPosition(); pos != nullptr;) {
      out.push_back(valueOf(tree.GetPrev(pos)));
    }
    return out;
  }
  BalNode* root() { return tree.Right(); }

  std::vector<int> deaths;
  BalCltn tree;
};

using BalCltnTest = TreeFixture;

std::vector<int> range(int from, int to) {
  std::vector<int> out;
  for (int v = from; v <= to; ++v) out.push_back(v);
  return out;
}

}  // namespace

TEST_F(BalCltnTest, AscendingOneToSevenBuildsAPerfectTreeWithGreaterOnTheLeft) {
  addRange(1, 7);
  ASSERT_EQ(checkedHeight(tree), 3);
  BalNode* r = root();
  EXPECT_EQ(valueOf(r->Key()), 4);
  EXPECT_EQ(valueOf(r->Left()->Key()), 6);
  EXPECT_EQ(valueOf(r->Left()->Left()->Key()), 7);
  EXPECT_EQ(valueOf(r->Left()->Right()->Key()), 5);
  EXPECT_EQ(valueOf(r->Right()->Key()), 2);
  EXPECT_EQ(valueOf(r->Right()->Left()->Key()), 3);
  EXPECT_EQ(valueOf(r->Right()->Right()->Key()), 1);
  for (BalNode* n : {r, r->Left(), r->Right(), r->Left()->Left(),
                     r->Left()->Right(), r->Right()->Left(),
                     r->Right()->Right()}) {
    EXPECT_EQ(n->IsEvenHeavy(), 1);
    EXPECT_EQ(n->IsLeftHeavy(), 0);
    EXPECT_EQ(n->IsRightHeavy(), 0);
  }
  EXPECT_EQ(forward(), range(1, 7));
  EXPECT_EQ(backward(), (std::vector<int>{7, 6, 5, 4, 3, 2, 1}));
  // The anchor is no node of the tree.
  EXPECT_EQ(tree.Key(), nullptr);
  EXPECT_EQ(tree.Left(), nullptr);
}

TEST_F(BalCltnTest, RemovingATwoChildNodeMovesTheFollowerIntoIt) {
  addRange(1, 7);
  BalNode* oldRoot = root();
  IntElement probe(4);
  Sorted* removed = tree.Remove(&probe);
  ASSERT_NE(removed, nullptr);
  EXPECT_NE(removed, &probe);
  EXPECT_EQ(valueOf(removed), 4);
  delete removed;
  EXPECT_EQ(root(), oldRoot);  // the node survives, holding 5
  EXPECT_EQ(valueOf(root()->Key()), 5);
  EXPECT_EQ(valueOf(root()->Left()->Key()), 6);
  EXPECT_EQ(root()->Left()->IsLeftHeavy(), 1);
  EXPECT_EQ(root()->Left()->Right(), nullptr);
  EXPECT_EQ(tree.GetCount(), 6);
  EXPECT_GE(checkedHeight(tree), 0);
  EXPECT_EQ(tree.GetAt(oldRoot), root()->Key());
  EXPECT_EQ(forward(), (std::vector<int>{1, 2, 3, 5, 6, 7}));
}

TEST_F(BalCltnTest, EqualElementsStepNewestFirst) {
  IntElement* p = add(1);
  IntElement* q = add(1);
  IntElement* r = add(1);
  EXPECT_EQ(tree.GetCount(), 3);
  void* pos = tree.GetHeadPosition();
  EXPECT_EQ(tree.GetNext(pos), r);
  EXPECT_EQ(tree.GetNext(pos), q);
  EXPECT_EQ(tree.GetNext(pos), p);
  EXPECT_EQ(pos, nullptr);
  // The head and tail removals take exactly the head and the tail even
  // though every element compares equal to them.
  EXPECT_EQ(tree.RemoveHead(), r);
  EXPECT_EQ(tree.RemoveTail(), p);
  EXPECT_EQ(tree.GetHead(), q);
  EXPECT_GE(checkedHeight(tree), 0);
  delete r;
  delete p;
}

TEST_F(BalCltnTest, AddReturnsThePositionThatKeepsTheElement) {
  std::vector<std::pair<void*, IntElement*>> placed;
  for (int v : {50, 20, 80, 10, 30, 25, 27, 26}) {
    auto* e = new IntElement(v, &deaths);
    placed.emplace_back(tree.Add(e), e);
  }
  ASSERT_GE(checkedHeight(tree), 0);
  for (auto& [pos, e] : placed) EXPECT_EQ(tree.GetAt(pos), e);
  IntElement probe(26);
  EXPECT_EQ(tree.GetKeyPosition(&probe), placed.back().first);
  EXPECT_EQ(tree.Add(nullptr), nullptr);
  EXPECT_EQ(tree.GetCount(), 8);
}

TEST_F(BalCltnTest, FindIndexCountsFromTheHead) {
  EXPECT_EQ(tree.FindIndex(0), nullptr);
  EXPECT_EQ(tree.FindIndex(-1), nullptr);
  EXPECT_EQ(tree.FindIndex(5), nullptr);
  addRange(1, 7);
  EXPECT_EQ(tree.FindIndex(0), tree.GetHeadPosition());
  EXPECT_EQ(tree.FindIndex(-3), tree.GetHeadPosition());
  EXPECT_EQ(valueOf(tree.GetAt(tree.FindIndex(3))), 4);
  EXPECT_EQ(tree.FindIndex(6), tree.GetTailPosition());
  EXPECT_EQ(tree.FindIndex(tree.GetCount()), nullptr);
  EXPECT_EQ(tree.FindIndex(100), nullptr);
}

TEST_F(BalCltnTest, SteppingPastEitherEndGivesANullPosition) {
  addRange(1, 3);
  void* pos = tree.GetTailPosition();
  EXPECT_EQ(valueOf(tree.GetNext(pos)), 3);
  EXPECT_EQ(pos, nullptr);
  pos = tree.GetHeadPosition();
  EXPECT_EQ(valueOf(tree.GetPrev(pos)), 1);
  EXPECT_EQ(pos, nullptr);
  EXPECT_EQ(tree.GetNext(pos), nullptr);  // a null position stays null
  EXPECT_EQ(tree.GetAt(nullptr), nullptr);
}

TEST_F(BalCltnTest, LookupsFollowTheirOverloads) {
  addRange(1, 9);
  EXPECT_EQ(valueOf(tree.Find(6)), 6);
  EXPECT_EQ(valueOf(tree.Find(2L)), 2);
  IntElement probe(8);
  EXPECT_EQ(valueOf(tree.Find(&probe)), 8);
  EXPECT_EQ(tree.Find(static_cast<Sorted*>(nullptr)), nullptr);
  EXPECT_EQ(tree.Find(10), nullptr);
  EXPECT_EQ(tree.GetKeyPosition(nullptr), nullptr);
  IntElement missing(0);
  EXPECT_EQ(tree.GetKeyPosition(&missing), nullptr);
  // The base Compare(const char*) matches everything: the root answers.
  EXPECT_EQ(tree.Find("any"), root()->Key());
}

TEST_F(BalCltnTest, RemovingAMissingElementReturnsTheArgument) {
  addRange(1, 5);
  IntElement missing(42);
  EXPECT_EQ(tree.Remove(&missing), &missing);
  EXPECT_EQ(tree.Remove(nullptr), nullptr);
  EXPECT_EQ(tree.GetCount(), 5);
  EXPECT_EQ(forward(), range(1, 5));
}

TEST_F(BalCltnTest, RemoveHeadOfTheOnlyElementEmptiesTheCollection) {
  EXPECT_EQ(tree.RemoveHead(), nullptr);
  EXPECT_EQ(tree.RemoveTail(), nullptr);
  IntElement* only = add(1);
  EXPECT_EQ(tree.RemoveHead(), only);
  EXPECT_EQ(tree.GetCount(), 0);
  EXPECT_EQ(tree.IsEmpty(), 1);
  EXPECT_EQ(tree.GetHeadPosition(), nullptr);
  EXPECT_EQ(tree.GetTailPosition(), nullptr);
  EXPECT_EQ(tree.GetHead(), nullptr);
  EXPECT_EQ(tree.GetTail(), nullptr);
  delete only;
}

TEST_F(BalCltnTest, FreeContentsDeletesGreatestFirstAndRemoveAllDeletesNone) {
  addRange(1, 7);
  tree.FreeContents();
  EXPECT_EQ(deaths, (std::vector<int>{7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(tree.GetCount(), 0);
  EXPECT_EQ(tree.Right(), nullptr);

  deaths.clear();
  std::vector<std::unique_ptr<IntElement>> kept;
  for (int v = 1; v <= 5; ++v) {
    kept.push_back(std::make_unique<IntElement>(v, &deaths));
    tree.Add(kept.back().get());
  }
  tree.RemoveAll();
  EXPECT_TRUE(deaths.empty());
  EXPECT_EQ(tree.GetCount(), 0);
  EXPECT_EQ(tree.GetHeadPosition(), nullptr);
  // Still usable afterwards.
  add(3);
  EXPECT_EQ(forward(), (std::vector<int>{3}));
}

TEST_F(BalCltnTest, PerformVisitsLeastFirstAndSkipsTheAnchor) {
  std::vector<int> seen;
  auto collect = [](Sorted* s, void* out, void* tag) {
    static_cast<std::vector<int>*>(out)->push_back(valueOf(s));
    EXPECT_EQ(tag, nullptr);
  };
  tree.Perform(collect, &seen, nullptr);
  EXPECT_TRUE(seen.empty());
  for (int v : {4, 9, 1, 7, 3}) add(v);
  tree.Perform(collect, &seen, nullptr);
  EXPECT_EQ(seen, (std::vector<int>{1, 3, 4, 7, 9}));
}

TEST_F(BalCltnTest, TreeFreeContentsExceptSparesOneElementAndLeavesTheCount) {
  addRange(1, 5);
  Sorted* keep = tree.Find(2);
  tree.TreeFreeContentsExcept(keep);
  EXPECT_EQ(deaths, (std::vector<int>{5, 4, 3, 1}));
  EXPECT_EQ(tree.Right(), nullptr);
  EXPECT_EQ(tree.GetCount(), 5);
  EXPECT_EQ(tree.GetHeadPosition(), nullptr);
  tree.RemoveAll();
  EXPECT_EQ(tree.GetCount(), 0);
  delete keep;
}

TEST(BalNode, StartsEmptyAndEvenAndItsAccessorsTouchOneMemberEach) {
  IntElement e(1);
  BalNode a(&e), b(nullptr);
  EXPECT_EQ(a.Key(), &e);
  EXPECT_EQ(a.Left(), nullptr);
  EXPECT_EQ(a.Right(), nullptr);
  EXPECT_EQ(a.IsEvenHeavy(), 1);
  a.Left(&b);
  a.Righ(&b);
  a.LeftHeavy();
  EXPECT_EQ(a.Left(), &b);
  EXPECT_EQ(a.Right(), &b);
  EXPECT_EQ(a.IsLeftHeavy(), 1);
  a.RightHeavy();
  EXPECT_EQ(a.IsRightHeavy(), 1);
  EXPECT_EQ(a.IsLeftHeavy(), 0);
  a.EvenHeavy();
  EXPECT_EQ(a.IsEvenHeavy(), 1);
  EXPECT_EQ(b.Key(), nullptr);
  a.Key(nullptr);
  EXPECT_EQ(a.Key(), nullptr);
}
