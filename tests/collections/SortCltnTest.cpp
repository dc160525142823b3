#include "collections/SortCltn.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "collections/IntElement.h"

using collections_test::IntElement;
using collections_test::valueOf;

namespace {

std::vector<int> valuesOf(SortCltn& list) {
  std::vector<int> out;
  for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) {
    out.push_back(valueOf(static_cast<Sorted*>(list.GetNext(pos))));
  }
  return out;
}

// Elements that keep the base class's comparisons.
struct Plain : Sorted {};

}  // namespace

TEST(SortedBase, MatchesEveryKeyAndComparesAddresses) {
  Plain pair[2];
  Sorted& low = pair[0];
  Sorted& high = pair[1];
  EXPECT_EQ(low.Compare(7), 0);
  EXPECT_EQ(low.Compare(7L), 0);
  EXPECT_EQ(low.Compare("anything"), 0);
  EXPECT_EQ(high.Compare(&low), 1);
  EXPECT_EQ(low.Compare(&high), 0);  // never negative
  EXPECT_EQ(low.Compare(&low), 0);
}

TEST(SortCltn, AddKeepsAscendingOrder) {
  SortCltn list;
  for (int v : {3, 1, 2}) list.Add(new IntElement(v));
  EXPECT_EQ(valuesOf(list), (std::vector<int>{1, 2, 3}));
  list.FreeContents();
  EXPECT_EQ(list.GetCount(), 0);
}

TEST(SortCltn, EqualElementsKeepTheirOrderAndTheEarlierOneIsFound) {
  SortCltn list;
  IntElement first(5), second(5), other(1);
  list.Add(&first);
  list.Add(&other);
  list.Add(&second);
  ASSERT_EQ(list.GetCount(), 3);
  POSITION pos = list.FindIndex(1);
  EXPECT_EQ(list.GetAt(pos), &first);
  EXPECT_EQ(list.GetAt(list.FindIndex(2)), &second);
  EXPECT_EQ(list.Find(&second), &first);
  // Remove hands back the stored element, not the argument.
  IntElement probe(5);
  EXPECT_EQ(list.Remove(&probe), &first);
  EXPECT_EQ(list.Remove(&probe), &second);
  EXPECT_EQ(list.Remove(&probe), nullptr);
  EXPECT_EQ(list.GetCount(), 1);
  list.RemoveAll();
}

TEST(SortCltn, EmptyListAppendsAndFindsNothing) {
  SortCltn list;
  IntElement e(4);
  EXPECT_EQ(list.Find(&e), nullptr);
  EXPECT_EQ(list.Find(4), nullptr);
  EXPECT_EQ(list.Find("4"), nullptr);
  EXPECT_EQ(list.Remove(&e), nullptr);
  list.Add(&e);
  EXPECT_EQ(list.GetHead(), &e);
  list.RemoveAll();
}

TEST(SortCltn, KeyFindsUseTheMatchingOverload) {
  SortCltn list;
  for (int v : {10, 20, 30}) list.Add(new IntElement(v));
  EXPECT_EQ(valueOf(list.Find(20)), 20);
  EXPECT_EQ(valueOf(list.Find(30L)), 30);
  EXPECT_EQ(list.Find(25), nullptr);
  // IntElement keeps the base Compare(const char*): every text matches the
  // head element.
  EXPECT_EQ(valueOf(list.Find("zzz")), 10);
  // The base list's pointer search is still there.
  void* head = list.GetHead();
  EXPECT_EQ(list.Find(head), list.GetHeadPosition());
  list.FreeContents();
}

TEST(SortCltn, BaseComparisonInsertsBeforeTheFirstHigherAddress) {
  std::unique_ptr<Plain[]> block(new Plain[3]);
  SortCltn list;
  list.Add(&block[2]);
  list.Add(&block[0]);  // goes before block[2], at a higher address
  list.Add(&block[1]);  // passes block[0], goes before block[2]
  std::vector<Sorted*> order;
  for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) {
    order.push_back(static_cast<Sorted*>(list.GetNext(pos)));
  }
  EXPECT_EQ(order, (std::vector<Sorted*>{&block[0], &block[1], &block[2]}));
  // Every element at a lower or equal address "matches".
  EXPECT_EQ(list.Find(&block[1]), &block[0]);
  list.RemoveAll();
}

TEST(SortCltn, FreeContentsSkipsNullEntriesAndDeletesHeadToTail) {
  std::vector<int> deaths;
  SortCltn list;
  list.Add(new IntElement(2, &deaths));
  list.Add(new IntElement(1, &deaths));
  list.AddTail(static_cast<void*>(nullptr));  // the base list's insertion, out of order
  list.Add(new IntElement(3, &deaths));
  list.FreeContents();
  EXPECT_EQ(deaths, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(list.IsEmpty());
}
