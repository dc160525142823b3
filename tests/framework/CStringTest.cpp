#include "framework/CString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "framework/Exceptions.h"
#include "support/ThrownPtr.h"

using testfiles::throwsPtr;

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

// '_' lies between the upper and lower case letters: folding to upper case
// puts it after every letter.
TEST(CString, CompareOrdersBytesAsUnsignedAndCompareNoCaseFoldsOnlyAscii) {
  const struct {
    const char *a, *b;
    int compare, noCase;
  } cases[] = {
      {"abc", "abc", 0, 0},    {"abc", "ABC", 1, 0},   {"abc", "ab", 1, 1},
      {"abc", "ABD", 1, -1},   {"\xE0", "z", 1, 1},    {"\xE0", "\xC0", 1, 1},
      {"_", "z", -1, 1},       {"", nullptr, 0, 0},  // null compares as ""
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + (c.b ? c.b : "null"));
    EXPECT_EQ(sign(CString(c.a).Compare(c.b)), c.compare);
    EXPECT_EQ(sign(CString(c.a).CompareNoCase(c.b)), c.noCase);
  }
  CString text("aZ9_\xE0");
  EXPECT_EQ(text.MakeUpper(), "AZ9_\xE0");
  EXPECT_EQ(text.MakeLower(), "az9_\xE0");
}

TEST(CString, ReplaceChangesEveryOccurrenceWithoutRescanningAndCountsThem) {
  const struct {
    const char *text, *from, *to;
    int count;
    const char* result;
  } cases[] = {
      {"a.b.c.", ".", "::", 3, "a::b::c::"},
      {"aaaa", "aa", "b", 2, "bb"},
      {"xax", "a", "aa", 1, "xaax"},
      {"abc", "", "y", 0, "abc"},
  };
  for (const auto& c : cases) {
    CString text(c.text);
    EXPECT_EQ(text.Replace(c.from, c.to), c.count) << c.text;
    EXPECT_EQ(text, c.result);
  }
}

TEST(CString, BuffersFormatAndIndexesStayWithinTheTextAndSubstringsAreClamped) {
  CString text("ab");
  std::strcpy(text.GetBuffer(10), "123456789");
  text.ReleaseBuffer();
  EXPECT_EQ(text, "123456789");
  text.GetBuffer(4)[0] = 'X';
  text.ReleaseBuffer(3);
  EXPECT_EQ(text, "X23");
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { text.GetAt(3); }));
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { text.SetAt(-1, 'x'); }));
  const std::string longText(5000, 'q');  // Format has no length limit
  text.Format("[%s]=%d", longText.c_str(), 512);
  EXPECT_EQ(text.str(), "[" + longText + "]=512");
  text = "abcdef";
  EXPECT_EQ(text.Left(99) + text.Mid(2, 2) + text.Mid(5, 10) + text.Mid(10) +
                text.Right(2) + text.Right(-1),
            "abcdefcdfef");
}

}  // namespace
