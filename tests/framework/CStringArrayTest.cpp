#include "framework/CStringArray.h"

#include <gtest/gtest.h>

#include <limits>

#include "framework/Exceptions.h"
#include "support/ThrownPtr.h"

using testfiles::throwsPtr;

namespace {

TEST(CStringArray, EveryElementAccessOutsideTheArrayThrowsInvalidArgument) {
  CStringArray array;
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { array.GetAt(0); }));
  array.Add("zero");
  array.Add("one");
  const CStringArray& constant = array;
  for (int bad : {-1, 2, 1000}) {
    SCOPED_TRACE(bad);
    EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { array.GetAt(bad); }));
    EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { array.ElementAt(bad); }));
    EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { array[bad]; }));
    EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { constant[bad]; }));
    EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { array.SetAt(bad, "x"); }));
  }
  EXPECT_EQ(array.GetSize(), 2);
  EXPECT_EQ(array.GetAt(1), "one");
}

TEST(CStringArray, AddReturnsTheIndexAndElementsAreWritableInPlace) {
  CStringArray array;
  EXPECT_EQ(array.Add("a"), 0);
  EXPECT_EQ(array.Add(CString("b")), 1);
  array.ElementAt(0) += "!";
  array[1] = "c";
  array.SetAt(0, array.GetAt(0) + "?");
  EXPECT_EQ(array.GetAt(0), "a!?");
  EXPECT_EQ(array.GetAt(1), "c");
  EXPECT_EQ(array.GetCount(), 2);
}

TEST(CStringArray, SetSizeAddsEmptyStringsOrDropsTheTail) {
  CStringArray array;
  array.Add("keep");
  array.Add("drop");
  array.SetSize(4);
  EXPECT_EQ(array.GetSize(), 4);
  EXPECT_EQ(array.GetAt(0), "keep");
  EXPECT_TRUE(array.GetAt(3).IsEmpty());
  array.SetSize(1);
  EXPECT_EQ(array.GetSize(), 1);
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { array.GetAt(1); }));
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { array.SetSize(-1); }));
  EXPECT_EQ(array.GetSize(), 1);
  array.RemoveAll();
  EXPECT_TRUE(array.IsEmpty());
}

TEST(CStringArray, InsertAndRemoveCheckTheirRange) {
  CStringArray array;
  array.Add("a");
  array.Add("d");
  array.InsertAt(1, "b");
  array.InsertAt(2, "c");
  array.InsertAt(4, "e");  // at the end
  ASSERT_EQ(array.GetSize(), 5);
  EXPECT_EQ(array.GetAt(2), "c");
  EXPECT_EQ(array.GetAt(4), "e");
  array.RemoveAt(1, 2);
  EXPECT_EQ(array.GetSize(), 3);
  EXPECT_EQ(array.GetAt(1), "d");
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { array.InsertAt(4, "x"); }));
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { array.RemoveAt(2, 2); }));
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { array.RemoveAt(-1); }));
  EXPECT_TRUE(throwsPtr<CInvalidArgException>(
      [&] { array.RemoveAt(1, std::numeric_limits<int>::max()); }));
  EXPECT_EQ(array.GetSize(), 3);
}

TEST(CStringArray, CopiesAreIndependent) {
  CStringArray array;
  array.Add("a");
  CStringArray copy(array);
  copy[0] = "changed";
  copy.Add("more");
  EXPECT_EQ(array.GetSize(), 1);
  EXPECT_EQ(array.GetAt(0), "a");
}

}  // namespace
