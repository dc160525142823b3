#include "framework/CStringArray.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "framework/Exceptions.h"
#include "support/ThrownPtr.h"

using testfiles::throwsPtr;

namespace {

std::string joined(const CStringArray& array) {
  std::string out;
  for (int i = 0; i < array.GetSize(); ++i) out += array.GetAt(i).str() + ".";
  return out;
}

TEST(CStringArray, EveryAccessInsertRemoveAndResizeOutsideTheArrayThrows) {
  CStringArray array;
  array.Add("a");
  array.Add("d");
  for (int bad : {-1, 2}) {
    SCOPED_TRACE(bad);
    EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { array.GetAt(bad); }));
    EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { array.ElementAt(bad); }));
    EXPECT_TRUE(
        throwsPtr<CInvalidArgException>([&] { array.SetAt(bad, "x"); }));
  }
  array.InsertAt(1, "b");
  array.InsertAt(3, "e");  // at the end
  array.InsertAt(2, "c", 2);
  EXPECT_EQ(joined(array), "a.b.c.c.d.e.");
  array.RemoveAt(1, 2);
  array.SetSize(5);
  EXPECT_EQ(joined(array), "a.c.d.e..");
  array.SetSize(3);
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { array.InsertAt(4, "x"); }));
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { array.RemoveAt(2, 2); }));
  EXPECT_TRUE(throwsPtr<CInvalidArgException>(
      [&] { array.RemoveAt(1, std::numeric_limits<int>::max()); }));
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { array.SetSize(-1); }));
  EXPECT_EQ(joined(array), "a.c.d.");
}

}  // namespace
