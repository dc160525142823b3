#include "settings/KeyToStr.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/Exceptions.h"
#include "settings/AsKeyDat.h"
#include "settings/SettingsTestSupport.h"
#include "support/TestFiles.h"
#include "support/ThrownPtr.h"

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

Entries load(const std::string& path, char separator) {
  std::unique_ptr<KeyToStr> table(separator == 0 ? new KeyToStr(path.c_str())
                                                 : new KeyToStr(path.c_str(), separator));
  return entriesOf(*table);
}

}  // namespace

TEST(KeyToStrFile, LinesReadAsTheirFormSaysInBothForms) {
  const std::string key23(23, 'k'), key24(24, 'l'), key31(31, 'k'), key32(32, 'l');
  const std::string v252(252, 'v');  // "A " + v252: a 254-character read
  const struct {
    char separator;  // 0: the blank-separated form
    std::string text;
    Entries expected;
  } cases[] = {
      // The worked examples.
      {0, "@ colours of the example table\nRED   bright red\nBLUE dark blue\nGREEN\n",
       {{"BLUE", "dark blue"}, {"GREEN", ""}, {"RED", "bright red"}}},
      {'=', "@ menu titles\nTITLE=Main menu\nSUB TITLE=Second level = two\nNOSEPARATOR\n",
       {{"SUB TITLE", "Second level = two"}, {"TITLE", "Main menu"}}},
      // Splitting a line is the line scanner's (tested on its own); a line
      // it finds no entry in is dropped.
      {'=', "A B=c\n===\nK=v\rw\n", {{"A B", "c"}, {"K", "v"}}},
      // Only an at sign as the very first character makes a comment.
      {0, "@RED x\n @RED x\n#HASH y\n\n\r\n", {{"#HASH", "y"}, {"@RED", "x"}}},
      // Windows and Unix line ends read alike; the last line needs none.
      {0, "A one\r\nB two\nC three", {{"A", "one"}, {"B", "two"}, {"C", "three"}}},
      // Keys order by unsigned bytes.
      {0, "\xE0 high\nB b\n", {{"B", "b"}, {"\xE0", "high"}}},
      // A line longer than 254 characters continues as the next line.
      {0, "A " + v252 + "B tail\nC c\n", {{"A", v252}, {"B", "tail"}, {"C", "c"}}},
      // A line whose key is too long for its form is skipped whole.
      {0, key23 + " fits\n" + key24 + " too long\n", {{key23, "fits"}}},
      {'=', key31 + "=fits\n" + key32 + "=too long\n", {{key31, "fits"}}},
  };
  testfiles::TempDir dir;
  const std::string path = dir.file("table.txt");
  for (const auto& c : cases) {
    testfiles::writeText(path, c.text);
    EXPECT_EQ(load(path, c.separator), c.expected) << ::testing::PrintToString(c.text);
  }
}

TEST(KeyToStr, StrOfSkipsLeadingBlanksOnlyIsCaseSensitiveAndKeepsDuplicates) {
  testfiles::TempDir dir;
  testfiles::writeText(dir.file("t.txt"), "RED bright red\nBLUE dark blue\nBLUE dark\n");
  KeyToStr table(dir.file("t.txt").c_str());
  EXPECT_EQ(table.GetCount(), 3);
  EXPECT_STREQ(table.StrOf("  RED"), "bright red");
  for (const char* miss : {"\tRED", "red", static_cast<const char*>(nullptr)})
    EXPECT_EQ(table.StrOf(miss), nullptr) << (miss ? miss : "null");
  // The text is the entry's own, of one of the equal keys.
  auto* entry = static_cast<MyAssoc*>(table.Find("BLUE"));
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(table.StrOf("BLUE"), entry->value.GetString());
  // A null entry sorts first.
  EXPECT_GT(entry->Compare(static_cast<Sorted*>(nullptr)), 0);
}

// A FIFO is not opened (it would wait for a writer), nor is any other file
// that is not regular; the keyed lists refuse it too.
TEST(KeyToStr, AMissingOrIrregularFileGivesAnEmptyTableAndADiagnosticAndAReadErrorThrows) {
  testfiles::TempDir dir;
  settings_test::CapturedDiagnostics diagnostics;
  const std::string path = dir.file("absent.txt"), fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(load(path, 0), Entries{});
  EXPECT_EQ(load(fifo, '='), Entries{});
  EXPECT_EQ(AsKeyDat().createFromFile(fifo.c_str()), 0);
  ASSERT_EQ(diagnostics.texts().size(), 2u);
  EXPECT_EQ(diagnostics.texts()[0], "KeyToStr Error open file  " + path);
  EXPECT_EQ(diagnostics.texts()[1], "KeyToStr Error open file  " + fifo);
  // Reading this file fails at its first byte.
  EXPECT_TRUE(testfiles::throwsPtr<CFileException>([] { KeyToStr table("/proc/self/mem"); }));
}
