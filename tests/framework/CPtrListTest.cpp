#include "framework/CPtrList.h"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <iterator>
#include <list>
#include <vector>

#include "framework/Exceptions.h"
#include "support/ThrownPtr.h"

using testfiles::throwsPtr;

namespace {

// The list's elements from head to tail, walking with GetNext.
std::vector<void*> forward(const CPtrList& list) {
  std::vector<void*> out;
  for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) {
    out.push_back(list.GetNext(pos));
  }
  return out;
}

// The same from tail to head with GetPrev, reversed: equal to forward() when
// both directions are linked consistently.
std::vector<void*> backward(const CPtrList& list) {
  std::vector<void*> out;
  for (POSITION pos = list.GetTailPosition(); pos != nullptr;) {
    out.insert(out.begin(), list.GetPrev(pos));
  }
  return out;
}

class PtrListTest : public ::testing::Test {
 protected:
  int items[6] = {0, 1, 2, 3, 4, 5};
  void* p(int i) { return &items[i]; }
};

TEST_F(PtrListTest, PositionsStayValidWhileOtherNodesAreRemovedAndAdded) {
  CPtrList list(2);  // small blocks: many node blocks are in play
  POSITION pos[5];
  for (int i = 0; i < 5; ++i) pos[i] = list.AddTail(p(i));

  list.RemoveAt(pos[1]);
  list.RemoveAt(pos[3]);
  list.AddTail(p(5));  // may reuse a freed node
  list.AddHead(p(5));

  // The untouched positions still address their own elements and neighbours.
  EXPECT_EQ(list.GetAt(pos[0]), p(0));
  EXPECT_EQ(list.GetAt(pos[2]), p(2));
  EXPECT_EQ(list.GetAt(pos[4]), p(4));
  POSITION walk = pos[0];
  list.GetNext(walk);
  EXPECT_EQ(walk, pos[2]);
  walk = pos[4];
  list.GetPrev(walk);
  EXPECT_EQ(walk, pos[2]);
  EXPECT_EQ(forward(list), (std::vector<void*>{p(5), p(0), p(2), p(4), p(5)}));
  EXPECT_EQ(backward(list), forward(list));
  EXPECT_EQ(list.GetCount(), 5);
}

TEST_F(PtrListTest, RemovingTheLastNodeLeavesAnEmptyListThatStillWorks) {
  CPtrList list;
  POSITION only = list.AddTail(p(0));
  list.RemoveAt(only);
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.GetHeadPosition(), nullptr);
  EXPECT_EQ(list.GetTailPosition(), nullptr);
  list.AddTail(p(1));
  list.AddHead(p(2));
  EXPECT_EQ(forward(list), (std::vector<void*>{p(2), p(1)}));
}

TEST_F(PtrListTest, FindIndexGivesNullOutsideTheList) {
  CPtrList list;
  EXPECT_EQ(list.FindIndex(0), nullptr);
  for (int i = 0; i < 4; ++i) list.AddTail(p(i));
  for (int i = 0; i < 4; ++i) {
    ASSERT_NE(list.FindIndex(i), nullptr);
    EXPECT_EQ(list.GetAt(list.FindIndex(i)), p(i));
  }
  EXPECT_EQ(list.FindIndex(4), nullptr);
  EXPECT_EQ(list.FindIndex(-1), nullptr);
}

TEST_F(PtrListTest, InsertAtTheEndsMovesHeadAndTail) {
  CPtrList list;
  POSITION middle = list.AddTail(p(1));
  POSITION head = list.InsertBefore(middle, p(0));
  POSITION tail = list.InsertAfter(middle, p(2));
  EXPECT_EQ(list.GetHeadPosition(), head);
  EXPECT_EQ(list.GetTailPosition(), tail);
  // A null position means the head for InsertBefore and the tail for
  // InsertAfter.
  list.InsertBefore(nullptr, p(3));
  list.InsertAfter(nullptr, p(4));
  EXPECT_EQ(list.GetHead(), p(3));
  EXPECT_EQ(list.GetTail(), p(4));
  // Inserting beside the current head or tail makes a new head or tail.
  list.InsertBefore(list.GetHeadPosition(), p(5));
  list.InsertAfter(list.GetTailPosition(), p(5));
  EXPECT_EQ(forward(list),
            (std::vector<void*>{p(5), p(3), p(0), p(1), p(2), p(4), p(5)}));
  EXPECT_EQ(backward(list), forward(list));
}

TEST_F(PtrListTest, FindSearchesAfterTheGivenPosition) {
  CPtrList list;
  POSITION first = list.AddTail(p(1));
  list.AddTail(p(2));
  POSITION second = list.AddTail(p(1));
  EXPECT_EQ(list.Find(p(1)), first);
  EXPECT_EQ(list.Find(p(1), first), second);
  EXPECT_EQ(list.Find(p(1), second), nullptr);
  EXPECT_EQ(list.Find(p(3)), nullptr);
}

TEST_F(PtrListTest, RemoveAllForgetsNodesButNeverTheObjects) {
  CPtrList list;
  int* owned = new int(7);
  list.AddTail(owned);
  list.AddTail(p(0));
  list.RemoveAll();
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(*owned, 7);  // still alive; the sanitizer build checks the rest
  delete owned;
}

TEST_F(PtrListTest, HeadAndTailOperationsOnAnEmptyListThrowInvalidArgument) {
  CPtrList list;
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { list.GetHead(); }));
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { list.GetTail(); }));
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { list.RemoveHead(); }));
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { list.RemoveTail(); }));
  list.AddTail(p(0));
  list.AddTail(p(1));
  EXPECT_EQ(list.RemoveHead(), p(0));
  EXPECT_EQ(list.RemoveTail(), p(1));
  EXPECT_TRUE(list.IsEmpty());
}

TEST_F(PtrListTest, AddingAListToItselfDoublesIt) {
  CPtrList list;
  list.AddTail(p(0));
  list.AddTail(p(1));
  list.AddTail(&list);
  list.AddHead(&list);
  EXPECT_EQ(forward(list).size(), 8u);
  EXPECT_EQ(forward(list),
            (std::vector<void*>{p(0), p(1), p(0), p(1), p(0), p(1), p(0), p(1)}));
}

// Random inserts and removals at random places, mirrored in a std::list:
// after every step both hold the same elements in the same order, in both
// directions, and every position the test still holds addresses its element.
RC_GTEST_PROP(PtrListModel, AgreesWithStdListAfterAnyInsertRemoveSequence,
              (const std::vector<std::pair<int, unsigned>>& steps)) {
  static int values[16];
  CPtrList list(3);
  std::list<void*> model;
  std::vector<std::pair<POSITION, void*>> held;  // positions in list order
  for (const auto& [op, pick] : steps) {
    void* value = &values[pick % 16];
    const std::size_t n = model.size();
    const std::size_t at = n == 0 ? 0 : pick % n;
    switch (((op % 5) + 5) % 5) {
      case 0:
        held.insert(held.begin(), {list.AddHead(value), value});
        model.push_front(value);
        break;
      case 1:
        held.push_back({list.AddTail(value), value});
        model.push_back(value);
        break;
      case 2:
        if (n == 0) break;
        held.insert(held.begin() + at,
                    {list.InsertBefore(held[at].first, value), value});
        model.insert(std::next(model.begin(), at), value);
        break;
      case 3:
        if (n == 0) break;
        held.insert(held.begin() + at + 1,
                    {list.InsertAfter(held[at].first, value), value});
        model.insert(std::next(model.begin(), at + 1), value);
        break;
      default:
        if (n == 0) break;
        list.RemoveAt(held[at].first);
        held.erase(held.begin() + at);
        model.erase(std::next(model.begin(), at));
    }
    RC_ASSERT(list.GetCount() == static_cast<int>(model.size()));
    // (Compared into bools: rapidcheck cannot print untyped pointers.)
    const bool sameOrder =
        forward(list) == std::vector<void*>(model.begin(), model.end());
    RC_ASSERT(sameOrder);
    const bool sameBothWays = backward(list) == forward(list);
    RC_ASSERT(sameBothWays);
    for (std::size_t i = 0; i < held.size(); ++i) {
      const bool positionHoldsItsElement =
          list.GetAt(held[i].first) == held[i].second &&
          list.FindIndex(static_cast<INT_PTR>(i)) == held[i].first;
      RC_ASSERT(positionHoldsItsElement);
    }
  }
}

}  // namespace
