#include "framework/CString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "framework/Exceptions.h"
#include "support/ThrownPtr.h"

using testfiles::throwsPtr;

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

TEST(CString, CompareOrdersBytesAsUnsignedLikeStrcmp) {
  const CString word("abc");
  EXPECT_EQ(word.Compare("abc"), 0);
  EXPECT_LT(word.Compare("abd"), 0);
  EXPECT_GT(word.Compare("ab"), 0);
  EXPECT_LT(word.Compare("abcd"), 0);
  // Case matters, and upper case sorts first.
  EXPECT_GT(word.Compare("ABC"), 0);
  // A byte above 0x7F sorts after every ASCII letter.
  EXPECT_GT(CString("\xE0").Compare("z"), 0);
  EXPECT_EQ(sign(CString("\xE0").Compare("z")), sign(std::strcmp("\xE0", "z")));
  // A null text compares as the empty string.
  EXPECT_EQ(CString().Compare(nullptr), 0);
}

TEST(CString, CompareNoCaseFoldsOnlyAsciiLetters) {
  EXPECT_EQ(CString("Key_1").CompareNoCase("KEY_1"), 0);
  EXPECT_LT(CString("abc").CompareNoCase("ABD"), 0);
  EXPECT_GT(CString("abcd").CompareNoCase("ABC"), 0);
  // '_' (0x5F) lies between the upper and lower case letters: folding to
  // upper case puts it after every letter.
  EXPECT_GT(CString("_").CompareNoCase("z"), 0);
  EXPECT_NE(CString("\xE0").CompareNoCase("\xC0"), 0);
}

TEST(CString, MakeUpperAndLowerLeaveOtherBytesAlone) {
  CString text("aZ9_\xE0");
  EXPECT_EQ(text.MakeUpper(), "AZ9_\xE0");
  EXPECT_EQ(text.MakeLower(), "az9_\xE0");
}

TEST(CString, ReplaceChangesEveryOccurrenceAndCountsThem) {
  CString text("a.b.c.");
  EXPECT_EQ(text.Replace(".", "::"), 3);
  EXPECT_EQ(text, "a::b::c::");

  CString overlapping("aaaa");
  EXPECT_EQ(overlapping.Replace("aa", "b"), 2);
  EXPECT_EQ(overlapping, "bb");

  // A replacement that contains the pattern is not scanned again.
  CString growing("xax");
  EXPECT_EQ(growing.Replace("a", "aa"), 1);
  EXPECT_EQ(growing, "xaax");

  CString unchanged("abc");
  EXPECT_EQ(unchanged.Replace("z", "y"), 0);
  EXPECT_EQ(unchanged.Replace("", "y"), 0);
  EXPECT_EQ(unchanged.Replace("b", ""), 1);
  EXPECT_EQ(unchanged, "ac");
}

TEST(CString, GetBufferGivesWritableRoomAndReleaseBufferSetsTheLength) {
  CString text("ab");
  char* buffer = text.GetBuffer(10);
  ASSERT_NE(buffer, nullptr);
  std::strcpy(buffer, "123456789");  // 9 characters and the terminator
  text.ReleaseBuffer();
  EXPECT_EQ(text.GetLength(), 9);
  EXPECT_EQ(text, "123456789");

  buffer = text.GetBuffer(4);
  buffer[0] = 'X';
  text.ReleaseBuffer(3);
  EXPECT_EQ(text, "X23");
}

TEST(CString, FormatHasNoLengthLimit) {
  CString text;
  text.Format("%s=%d", "width", 512);
  EXPECT_EQ(text, "width=512");
  const std::string longText(5000, 'q');
  text.Format("[%s]", longText.c_str());
  EXPECT_EQ(text.GetLength(), 5002);
  EXPECT_EQ(text.str(), "[" + longText + "]");
}

TEST(CString, ConcatenationAndComparisonOperatorsMixWithCharPointers) {
  CString text = "key";
  text += ' ';
  text += CString("value");
  const CString joined = text + "!" + CString("?") + '.';
  EXPECT_EQ(joined, "key value!?.");
  EXPECT_TRUE("key value!?." == joined);
  EXPECT_TRUE(joined != "key");
  EXPECT_TRUE(CString("a") < CString("b"));
  EXPECT_TRUE("a" < CString("b"));
  EXPECT_FALSE(CString("b") < "a");
  EXPECT_STREQ(static_cast<const char*>(joined), "key value!?.");
  CString fromNull(static_cast<const char*>(nullptr));
  EXPECT_TRUE(fromNull.IsEmpty());
}

TEST(CString, IndexedAccessOutsideTheTextThrowsInvalidArgument) {
  CString text("ab");
  EXPECT_EQ(text.GetAt(1), 'b');
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { text.GetAt(2); }));
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { text.GetAt(-1); }));
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { text.SetAt(2, 'x'); }));
  EXPECT_EQ(text, "ab");
}

TEST(CString, SubstringsAreClampedToTheText) {
  const CString text("abcdef");
  EXPECT_EQ(text.Left(2), "ab");
  EXPECT_EQ(text.Left(99), "abcdef");
  EXPECT_EQ(text.Mid(4), "ef");
  EXPECT_EQ(text.Mid(2, 2), "cd");
  EXPECT_EQ(text.Mid(5, 10), "f");
  EXPECT_EQ(text.Mid(10), "");
  EXPECT_EQ(text.Right(2), "ef");
  EXPECT_EQ(text.Right(-1), "");
  EXPECT_EQ(text.Find("cd"), 2);
  EXPECT_EQ(text.Find('z'), -1);
  EXPECT_EQ(text.Find('a', 1), -1);
  CString padded("  x y \t\n");
  EXPECT_EQ(padded.Trim(), "x y");
}

}  // namespace
