#include "settings/KeyToStr.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "framework/Exceptions.h"
#include "settings/CapturedDiagnostics.h"
#include "support/TestFiles.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

// Every entry, head to tail (ascending keys; equal keys newest first).
Entries entriesOf(KeyToStr& table) {
  Entries out;
  for (void* pos = table.GetHeadPosition(); pos != nullptr;) {
    auto* entry = static_cast<MyAssoc*>(table.GetNext(pos));
    out.emplace_back(entry->key.GetString(), entry->value.GetString());
  }
  return out;
}

class KeyToStrFile : public ::testing::Test {
 protected:
  // Writes `text` byte for byte and returns the file's path.
  std::string write(const std::string& text) {
    const std::string path = dir.file("table.txt");
    testfiles::writeText(path, text);
    return path;
  }
  Entries blankForm(const std::string& text) {
    KeyToStr table(write(text).c_str());
    return entriesOf(table);
  }
  Entries separatorForm(const std::string& text, char sep = '=') {
    KeyToStr table(write(text).c_str(), sep);
    return entriesOf(table);
  }

  testfiles::TempDir dir;
};

}  // namespace

TEST_F(KeyToStrFile, BlankFormExampleTable) {
  EXPECT_EQ(blankForm("@ colours of the example table\n"
                      "RED   bright red\n"
                      "BLUE dark blue\n"
                      "GREEN\n"),
            (Entries{{"BLUE", "dark blue"}, {"GREEN", ""}, {"RED", "bright red"}}));
}

TEST_F(KeyToStrFile, SeparatorFormExampleTables) {
  EXPECT_EQ(separatorForm("@ menu titles\n"
                          "TITLE=Main menu\n"
                          "SUB TITLE=Second level = two\n"
                          "NOSEPARATOR\n"),
            (Entries{{"SUB TITLE", "Second level = two"}, {"TITLE", "Main menu"}}));
  EXPECT_EQ(separatorForm("A B=c\nit's=x\nKEY=\n=abc=d\nNOSEP\n"),
            (Entries{{"", "=d"}, {"A B", "c"}, {"KEY", ""}, {"it", "x"}}));
}

TEST_F(KeyToStrFile, SeparatorFormEdgeLines) {
  // A line of separators with its line feed has the line feed as its only
  // token and is dropped; without the line feed it has no token at all.
  EXPECT_EQ(separatorForm("===\n"), Entries{});
  EXPECT_EQ(separatorForm("A=1\n==="), (Entries{{"", ""}, {"A", "1"}}));
  // A line that begins with separators takes its value length(T) + 1 into
  // the line; the value ends at a carriage return.
  EXPECT_EQ(separatorForm("==abc=d\nK=v\rw\n"),
            (Entries{{"", "c=d"}, {"K", "v"}}));
  EXPECT_EQ(separatorForm("K;v=w\n", ';'), (Entries{{"K", "v=w"}}));
}

TEST_F(KeyToStrFile, OnlyAnAtSignAsFirstCharacterMakesAComment) {
  EXPECT_EQ(blankForm("@RED x\n"
                      " @RED x\n"
                      "#HASH y\n"
                      "\n"
                      "\r\n"),
            (Entries{{"#HASH", "y"}, {"@RED", "x"}}));
}

TEST_F(KeyToStrFile, BlanksAndCarriageReturnsInLines) {
  EXPECT_EQ(blankForm("   \n"
                      "   LEAD value\n"
                      "TRAIL kept   \n"
                      "CR abc\rdef\n"
                      "TAB\tx\ty\n"),
            (Entries{{"", ""},
                     {"CR", "abc"},
                     {"LEAD", "value"},
                     {"TAB", "x\ty"},
                     {"TRAIL", "kept   "}}));
}

TEST_F(KeyToStrFile, WindowsAndUnixLineEndsReadAlikeAndTheLastLineNeedsNone) {
  const Entries expected{{"A", "one"}, {"B", "two"}, {"C", "three"}};
  EXPECT_EQ(blankForm("A one\r\nB two\r\nC three"), expected);
  EXPECT_EQ(blankForm("A one\nB two\nC three\n"), expected);
  EXPECT_EQ(separatorForm("A=one\r\nB=two\r\nC=three"), expected);
}

TEST_F(KeyToStrFile, ALineLongerThan254CharactersContinuesAsTheNextLine) {
  const std::string first = "A " + std::string(252, 'v');  // 254 characters
  EXPECT_EQ(blankForm(first + "B tail\nC c\n"),
            (Entries{{"A", std::string(252, 'v')}, {"B", "tail"}, {"C", "c"}}));
}

TEST_F(KeyToStrFile, LinesWithOverLongKeysAreSkippedInBothForms) {
  const std::string key23(23, 'k'), key24(24, 'l');
  EXPECT_EQ(blankForm(key23 + " fits\n" + key24 + " too long\n"),
            (Entries{{key23, "fits"}}));
  const std::string key31(31, 'k'), key32(32, 'l');
  EXPECT_EQ(separatorForm(key31 + "=fits\n" + key32 + "=too long\n"),
            (Entries{{key31, "fits"}}));
}

TEST_F(KeyToStrFile, DuplicateKeysAreAllKept) {
  KeyToStr table(write("RED one\nRED two\n").c_str());
  EXPECT_EQ(table.GetCount(), 2);
  const std::string found = table.StrOf("RED");
  EXPECT_TRUE(found == "one" || found == "two");
}

TEST_F(KeyToStrFile, StrOfSkipsLeadingBlanksOnlyAndIsCaseSensitive) {
  KeyToStr table(write("RED bright red\nBLUE dark blue\n").c_str());
  EXPECT_STREQ(table.StrOf("RED"), "bright red");
  EXPECT_STREQ(table.StrOf("  RED"), "bright red");
  EXPECT_EQ(table.StrOf("\tRED"), nullptr);
  EXPECT_EQ(table.StrOf("red"), nullptr);
  EXPECT_EQ(table.StrOf("RED "), nullptr);
  EXPECT_EQ(table.StrOf(nullptr), nullptr);
  // The text is the entry's own.
  auto* entry = static_cast<MyAssoc*>(table.Find("BLUE"));
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(table.StrOf("BLUE"), entry->value.GetString());
}

TEST_F(KeyToStrFile, AMissingFileGivesAnEmptyTableAndADiagnostic) {
  settings_test::CapturedDiagnostics diagnostics;
  const std::string path = dir.file("absent.txt");
  KeyToStr table(path.c_str());
  KeyToStr separated(path.c_str(), '=');
  EXPECT_EQ(table.GetCount(), 0);
  EXPECT_EQ(table.StrOf("RED"), nullptr);
  EXPECT_EQ(separated.GetCount(), 0);
  ASSERT_EQ(diagnostics.texts().size(), 2u);
  EXPECT_EQ(diagnostics.texts()[0], "KeyToStr Error open file  " + path);
}

TEST(KeyToStr, AReadErrorThrowsAFileException) {
  // Reading this file fails at its first byte.
  bool thrown = false;
  try {
    KeyToStr table("/proc/self/mem");
  } catch (CFileException* e) {
    thrown = true;
    e->Delete();
  }
  EXPECT_TRUE(thrown);
}

TEST(MyAssoc, ComparesKeysBytewiseAndPutsNullFirst) {
  MyAssoc a("A", "1"), b("B", "2"), high("\xE0", "3");
  EXPECT_LT(a.Compare(&b), 0);
  EXPECT_GT(b.Compare(&a), 0);
  EXPECT_LT(b.Compare(&high), 0);  // unsigned bytes
  EXPECT_EQ(a.Compare("A"), 0);
  EXPECT_GT(a.Compare(static_cast<Sorted*>(nullptr)), 0);
  MyAssoc copy(b);
  copy = a;
  EXPECT_STREQ(copy.key, "A");
  EXPECT_STREQ(copy.value, "1");
  MyAssoc empty(nullptr, nullptr);
  EXPECT_STREQ(empty.key, "");
}
