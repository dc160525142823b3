#include "collections/SortCltn.h"

#include <gtest/gtest.h>

#include <vector>

#include "collections/IntElement.h"

using collections_test::IntElement;
using collections_test::valueOf;

namespace {

// Elements that keep the base class's comparisons.
struct Plain : Sorted {};

}  // namespace

TEST(SortCltn, AddKeepsAscendingOrderWithEqualElementsInTheOrderAdded) {
  SortCltn list;
  IntElement first(5), second(5), other(1), last(9);
  EXPECT_EQ(list.Find(&first), nullptr);
  EXPECT_EQ(list.Remove(&first), nullptr);
  for (IntElement* e : {&first, &last, &other, &second}) list.Add(e);
  Sorted* order[] = {&other, &first, &second, &last};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(list.GetAt(list.FindIndex(i)), order[i]);
  EXPECT_EQ(list.GetCount(), 4);
  EXPECT_EQ(list.Find(&second), &first);
  // Remove hands back the stored element, not the argument.
  IntElement probe(5);
  EXPECT_EQ(list.Remove(&probe), &first);
  EXPECT_EQ(list.Remove(&probe), &second);
  EXPECT_EQ(list.Remove(&probe), nullptr);
  EXPECT_EQ(list.GetCount(), 2);
  list.RemoveAll();
}

TEST(SortCltn, KeyFindsUseTheMatchingOverloadAndFreeContentsSkipsNullEntries) {
  std::vector<int> deaths;
  SortCltn list;
  EXPECT_EQ(list.Find(4), nullptr);
  EXPECT_EQ(list.Find("4"), nullptr);
  for (int v : {20, 10, 30}) list.Add(new IntElement(v, &deaths));
  EXPECT_EQ(valueOf(list.Find(20)), 20);
  EXPECT_EQ(valueOf(list.Find(30L)), 30);
  EXPECT_EQ(list.Find(25), nullptr);
  // IntElement keeps the base Compare(const char*): every text matches the
  // head element.
  EXPECT_EQ(valueOf(list.Find("zzz")), 10);
  // The base list's pointer search is still there.
  EXPECT_EQ(list.Find(list.GetHead()), list.GetHeadPosition());
  list.AddTail(static_cast<void*>(nullptr));  // the base list's insertion
  list.FreeContents();  // head to tail
  EXPECT_EQ(deaths, (std::vector<int>{10, 20, 30}));
  EXPECT_TRUE(list.IsEmpty());
}

TEST(SortCltn, TheBaseComparisonMatchesAnyKeyAndOrdersByAddress) {
  Plain block[3];
  Sorted& low = block[0];
  EXPECT_EQ(low.Compare(7), 0);
  EXPECT_EQ(low.Compare(7L), 0);
  EXPECT_EQ(low.Compare("anything"), 0);
  EXPECT_EQ(block[1].Compare(&low), 1);
  EXPECT_EQ(low.Compare(&block[1]), 0);  // never negative
  EXPECT_EQ(low.Compare(&low), 0);
  SortCltn list;
  list.Add(&block[2]);
  list.Add(&block[0]);  // goes before block[2], at a higher address
  list.Add(&block[1]);  // passes block[0], goes before block[2]
  for (int i = 0; i < 3; ++i) EXPECT_EQ(list.GetAt(list.FindIndex(i)), &block[i]);
  // Every element at a lower or equal address "matches".
  EXPECT_EQ(list.Find(&block[1]), &block[0]);
  list.RemoveAll();
}
