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

TEST(SortCltn, AddKeepsAscendingOrderWithEqualElementsInTheOrderAddedAndFindsByAnyKey) {
  std::vector<int> deaths;
  SortCltn list;
  EXPECT_EQ(list.Find(4), nullptr);
  auto* second = new IntElement(5, &deaths);
  for (int v : {5, 9, 1}) list.Add(new IntElement(v, &deaths));
  list.Add(second);
  EXPECT_EQ(valueOf(list.Find(9)), 9);
  EXPECT_EQ(list.Find(7), nullptr);
  EXPECT_EQ(list.Find(list.GetHead()), list.GetHeadPosition());  // the base list's search
  // Remove hands back the first equal stored element, not the argument.
  IntElement probe(5);
  Sorted* first = list.Find(second);
  EXPECT_NE(first, second);
  EXPECT_EQ(list.Remove(&probe), first);
  EXPECT_EQ(list.Remove(&probe), second);
  EXPECT_EQ(list.Remove(&probe), nullptr);
  list.Add(first);
  list.Add(second);
  list.AddTail(static_cast<void*>(nullptr));  // the base list's insertion
  list.FreeContents();  // head to tail, passing the null entry
  EXPECT_EQ(deaths, (std::vector<int>{1, 5, 5, 9}));
}

TEST(SortCltn, TheBaseComparisonMatchesAnyKeyAndOrdersByAddress) {
  Plain block[3];
  Sorted& low = block[0];
  EXPECT_EQ(low.Compare(7) | low.Compare(7L) | low.Compare("anything"), 0);
  EXPECT_EQ(block[1].Compare(&low), 1);
  EXPECT_EQ(low.Compare(&block[1]), 0);  // never negative
  SortCltn list;
  list.Add(&block[2]);
  list.Add(&block[0]);  // goes before block[2], at a higher address
  list.Add(&block[1]);  // passes block[0], goes before block[2]
  for (int i = 0; i < 3; ++i) EXPECT_EQ(list.GetAt(list.FindIndex(i)), &block[i]);
  // Every element at a lower or equal address "matches".
  EXPECT_EQ(list.Find(&block[1]), &block[0]);
  list.RemoveAll();
}
