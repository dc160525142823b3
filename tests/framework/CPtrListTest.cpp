#include "framework/CPtrList.h"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <vector>

#include "framework/Exceptions.h"
#include "support/ThrownPtr.h"

using testfiles::throwsPtr;

namespace {

// The list's elements from head to tail, walking with GetNext, or walking
// from the tail with GetPrev and then reversed (the same when both
// directions are linked consistently).
std::vector<void*> walk(const CPtrList& list, bool fromHead = true) {
  std::vector<void*> out;
  for (POSITION pos = fromHead ? list.GetHeadPosition() : list.GetTailPosition(); pos != nullptr;)
    out.insert(fromHead ? out.end() : out.begin(), fromHead ? list.GetNext(pos) : list.GetPrev(pos));
  return out;
}

int item;

TEST(PtrList, EmptyListsThrowAListAddedToItselfDoublesItAndRemoveAllFreesNoObject) {
  CPtrList list;
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { list.GetHead(); }));
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { list.RemoveTail(); }));
  int* owned = new int(7);
  list.AddTail(owned);
  list.AddTail(&item);
  list.AddTail(&list);
  list.AddHead(&list);
  EXPECT_EQ(walk(list), (std::vector<void*>{owned, &item, owned, &item,
                                            owned, &item, owned, &item}));
  list.RemoveAll();
  EXPECT_EQ(*owned, 7);  // still alive; the sanitizer build checks the rest
  delete owned;
}

// Random inserts and removals at random places (a null position inserting at
// the head or the tail), mirrored in a model that keeps each element with
// the position the list gave it: after every step the list holds the
// model's elements in its order, in both directions, every position still
// addresses its element, and Find and FindIndex agree with the model.
RC_GTEST_PROP(PtrListModel, AgreesWithTheModelAfterAnyInsertRemoveSequence,
              (const std::vector<std::pair<int, unsigned>>& steps)) {
  static int values[16];
  CPtrList list(3);  // small blocks: many node blocks are in play
  std::vector<std::pair<POSITION, void*>> held;  // the model, in list order
  for (const auto& [op, pick] : steps) {
    void* value = &values[pick % 16];
    const std::size_t n = held.size();
    const std::size_t at = n == 0 ? 0 : pick % n;
    const bool ends = n == 0 || pick % 7 == 0;  // insert with a null position
    const int kind = ((op % 6) + 6) % 6;
    if (kind < 4) {  // AddHead, AddTail, InsertBefore, InsertAfter
      const bool after = kind % 2 == 1;
      const std::size_t to = (kind < 2 || ends) ? (after ? n : 0) : at + after;
      POSITION where = kind < 2 || ends ? nullptr : held[at].first;
      POSITION got = kind == 0   ? list.AddHead(value)
                     : kind == 1 ? list.AddTail(value)
                     : after     ? list.InsertAfter(where, value)
                                 : list.InsertBefore(where, value);
      held.insert(held.begin() + static_cast<std::ptrdiff_t>(to), {got, value});
    } else if (n > 0 && kind == 4) {
      list.RemoveAt(held[at].first);
      held.erase(held.begin() + static_cast<std::ptrdiff_t>(at));
    } else if (n > 0) {
      const bool head = pick % 2 == 0;
      const bool removedItsElement =
          (head ? list.RemoveHead() : list.RemoveTail()) ==
          (head ? held.front() : held.back()).second;
      RC_ASSERT(removedItsElement);
      held.erase(head ? held.begin() : held.end() - 1);
    }
    std::vector<void*> model;
    for (const auto& h : held) model.push_back(h.second);
    RC_ASSERT(list.GetCount() == static_cast<int>(model.size()));
    // (Compared into bools: rapidcheck cannot print untyped pointers.)
    const bool sameOrderBothWays = walk(list) == model && walk(list, false) == model;
    RC_ASSERT(sameOrderBothWays);
    for (std::size_t i = 0; i < held.size(); ++i) {
      const bool positionHoldsItsElement =
          list.GetAt(held[i].first) == held[i].second &&
          list.FindIndex(static_cast<INT_PTR>(i)) == held[i].first;
      RC_ASSERT(positionHoldsItsElement);
    }
    // Find from the head, and from behind the first match, agrees too.
    std::vector<POSITION> matches;
    for (const auto& h : held)
      if (h.second == value) matches.push_back(h.first);
    matches.push_back(nullptr);
    const bool findAgrees =
        list.Find(value) == matches[0] &&
        (matches[0] == nullptr || list.Find(value, matches[0]) == matches[1]);
    RC_ASSERT(findAgrees);
  }
}

}  // namespace
