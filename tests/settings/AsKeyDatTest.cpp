#include "settings/AsKeyDat.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "settings/CapturedDiagnostics.h"
#include "support/TestFiles.h"

namespace {

using Values = std::vector<std::string>;
using Contents = std::vector<std::pair<std::string, Values>>;

Values valuesOf(CPtrList* list) {
  Values out;
  if (list == nullptr) return out;
  for (POSITION pos = list->GetHeadPosition(); pos != nullptr;) {
    out.emplace_back(static_cast<CString*>(list->GetNext(pos))->GetString());
  }
  return out;
}

Contents contentsOf(AsKeyDat& lists) {
  Contents out;
  for (int i = 0; i < lists.getCount(); ++i) {
    MyAsKey* entry = lists.getAt(i);
    out.emplace_back(entry->Key().GetString(), valuesOf(entry->getList()));
  }
  return out;
}

// A value list of copies of `texts`, as the caller of createAsKey makes it.
CPtrList* listOf(const Values& texts) {
  auto* list = new CPtrList(10);
  for (const std::string& text : texts) list->AddTail(new CString(text.c_str()));
  return list;
}

// Releases a list handed out by the collection, strings included.
void destroyList(CPtrList* list) {
  if (list == nullptr) return;
  for (POSITION pos = list->GetHeadPosition(); pos != nullptr;) {
    delete static_cast<CString*>(list->GetNext(pos));
  }
  delete list;
}

const std::string kExample =
    "@ fruit and vegetables\n"
    "#kitchen list\n"
    "FRUIT apple\n"
    "VEG carrot\n"
    "FRUIT pear\n";

class KeyedLists : public ::testing::Test {
 protected:
  std::string write(const std::string& text, const std::string& name = "lists.txt") {
    const std::string path = dir.file(name);
    testfiles::writeText(path, text);
    return path;
  }

  testfiles::TempDir dir;
  AsKeyDat lists;
};

}  // namespace

TEST_F(KeyedLists, ExampleLoadsAsTwoEntriesInOrderOfFirstOccurrence) {
  ASSERT_EQ(lists.createFromFile(write(kExample).c_str()), 1);
  EXPECT_EQ(lists.getCount(), 2);
  EXPECT_EQ(contentsOf(lists), (Contents{{"FRUIT", {"apple", "pear"}},
                                         {"VEG", {"carrot"}}}));
  EXPECT_EQ(valuesOf(lists.getListOf("  FRUIT")), (Values{"apple", "pear"}));
  EXPECT_EQ(lists.getListOf("fruit"), nullptr);
  EXPECT_EQ(lists.getListOf("\tFRUIT"), nullptr);
}

TEST_F(KeyedLists, LoadingAddsToWhatIsThere) {
  const std::string path = write(kExample);
  ASSERT_EQ(lists.createFromFile(path.c_str()), 1);
  ASSERT_EQ(lists.createFromFile(path.c_str()), 1);
  EXPECT_EQ(contentsOf(lists),
            (Contents{{"FRUIT", {"apple", "pear", "apple", "pear"}},
                      {"VEG", {"carrot", "carrot"}}}));
}

TEST_F(KeyedLists, ALineWithoutItsValueStopsTheLoad) {
  EXPECT_EQ(lists.createFromFile(write("A 1\nFRUIT\nB 2\n").c_str()), 0);
  EXPECT_EQ(contentsOf(lists), (Contents{{"A", {"1"}}}));
  AsKeyDat blanks;
  EXPECT_EQ(blanks.createFromFile(write("A 1\n   \nB 2\n").c_str()), 0);
  EXPECT_EQ(blanks.getCount(), 1);
  AsKeyDat missing;
  EXPECT_EQ(missing.createFromFile(dir.file("absent").c_str()), 0);
  EXPECT_EQ(missing.getCount(), 0);
}

TEST_F(KeyedLists, CommentsAndEmptyLinesNeedTheirMarkFirst) {
  ASSERT_EQ(lists.createFromFile(
                write("@c\n#c\n\r\n\n #HASH one\n\r\rCR two\n").c_str()),
            1);
  EXPECT_EQ(contentsOf(lists), (Contents{{"#HASH", {"one"}}}));
}

TEST_F(KeyedLists, KeysAndValuesAreCutToTheirWidths) {
  const std::string word25 = "ABCDEFGHIJKLMNOPQRSTUVWXY";
  // A 254-character read: the value's first 250 characters are kept, the
  // rest of the line continues as the next line.
  const std::string longLine = "K " + std::string(252, 'v');
  ASSERT_EQ(lists.createFromFile(
                write(word25 + " tail\n" + longLine + "NEXT val\r\n").c_str()),
            1);
  EXPECT_EQ(contentsOf(lists),
            (Contents{{"ABCDEFGHIJKLMNOPQRST", {"UVWXY tail"}},
                      {"K", {std::string(250, 'v')}},
                      {"NEXT", {"val"}}}));
}

TEST_F(KeyedLists, PositionsOutsideTheCollectionGiveNull) {
  ASSERT_EQ(lists.createFromFile(write(kExample).c_str()), 1);
  EXPECT_EQ(lists.getAt(-1), nullptr);
  EXPECT_EQ(lists.getAt(lists.getCount()), nullptr);
  EXPECT_EQ(lists.getAtRemove(2), nullptr);
  EXPECT_EQ(lists.getAtRemove(-1), nullptr);
  MyAsKey* first = lists.getAtRemove(0);
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->Key(), "FRUIT");
  EXPECT_EQ(lists.getCount(), 1);
  delete first;  // the caller owns it now
}

TEST_F(KeyedLists, RemoveListOfHandsTheListOver) {
  ASSERT_EQ(lists.createFromFile(write(kExample).c_str()), 1);
  CPtrList* fruit = lists.removeListOf("FRUIT");
  EXPECT_EQ(valuesOf(fruit), (Values{"apple", "pear"}));
  EXPECT_EQ(lists.getListOf("FRUIT"), nullptr);
  EXPECT_EQ(lists.getCount(), 1);
  EXPECT_EQ(lists.removeListOf("FRUIT"), nullptr);
  destroyList(fruit);
  lists.createAsKey("EMPTY", nullptr);
  EXPECT_EQ(lists.removeListOf("EMPTY"), nullptr);  // entry still removed
  EXPECT_EQ(lists.getCount(), 1);
}

TEST_F(KeyedLists, CreateAsKeyAppendsEvenForAKeyThatIsThere) {
  CPtrList* one = listOf({"1"});
  CPtrList* two = listOf({"2"});
  lists.createAsKey("K", one);
  lists.createAsKey("K", two);
  EXPECT_EQ(lists.getCount(), 2);
  EXPECT_EQ(lists.getListOf("K"), one);
  CPtrList stranger;
  lists.destroyAsKey(&stranger);
  EXPECT_EQ(lists.getCount(), 2);
  lists.destroyAsKey(one);
  EXPECT_EQ(lists.getCount(), 1);
  EXPECT_EQ(lists.getListOf("K"), two);
}

TEST_F(KeyedLists, SavingWritesOneLinePerValueAndReadsBack) {
  ASSERT_EQ(lists.createFromFile(write(kExample).c_str()), 1);
  lists.createAsKey("NOVALUES", nullptr);
  const std::string saved = dir.file("saved.txt");
  testfiles::writeText(saved, "old content\n");
  ASSERT_EQ(lists.saveFromFile(saved.c_str()), 1);
  EXPECT_EQ(testfiles::readText(saved),
            "FRUIT apple\r\nFRUIT pear\r\nVEG carrot\r\n");
  EXPECT_FALSE(std::filesystem::exists(saved + ".~tmp"));
  AsKeyDat again;
  ASSERT_EQ(again.createFromFile(saved.c_str()), 1);
  EXPECT_EQ(contentsOf(again), (Contents{{"FRUIT", {"apple", "pear"}},
                                         {"VEG", {"carrot"}}}));
}

TEST_F(KeyedLists, SavingNothingDeletesTheFile) {
  const std::string saved = write("old content\n", "saved.txt");
  lists.createAsKey("NOVALUES", nullptr);
  EXPECT_EQ(lists.saveFromFile(saved.c_str()), 1);
  EXPECT_FALSE(std::filesystem::exists(saved));
  EXPECT_EQ(lists.saveFromFile(saved.c_str()), 1);
  EXPECT_FALSE(std::filesystem::exists(saved));
}

TEST_F(KeyedLists, AFailedSaveReturnsZeroAndLeavesTheOldFile) {
  ASSERT_EQ(lists.createFromFile(write(kExample).c_str()), 1);
  const std::string saved = write("old content\n", "saved.txt");
  // A folder in the way of the temporary file.
  std::filesystem::create_directory(saved + ".~tmp");
  EXPECT_EQ(lists.saveFromFile(saved.c_str()), 0);
  std::filesystem::remove(saved + ".~tmp");
  // A folder in the way of the target itself.
  std::filesystem::create_directory(dir.file("folder"));
  EXPECT_EQ(lists.saveFromFile(dir.file("folder").c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.file("folder") + ".~tmp"));
  EXPECT_EQ(lists.saveFromFile(dir.file("no/such/folder.txt").c_str()), 0);
  EXPECT_EQ(testfiles::readText(saved), "old content\n");
}

TEST_F(KeyedLists, AFailedWriteIsReportedAndLeavesNoTemporaryFile) {
  // Values long enough to pass the cap on file sizes set below.
  for (int i = 0; i < 10; ++i) {
    lists.createAsKey("K", listOf({std::string(100, static_cast<char>('a' + i))}));
  }
  const std::string saved = write("old content\n", "saved.txt");
  settings_test::CapturedDiagnostics diagnostics;
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
  rlimit oldLimit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
  rlimit small = oldLimit;
  small.rlim_cur = 300;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int result = lists.saveFromFile(saved.c_str());
  setrlimit(RLIMIT_FSIZE, &oldLimit);
  sigaction(SIGXFSZ, &previous, nullptr);

  EXPECT_EQ(result, 0);
  EXPECT_EQ(testfiles::readText(saved), "old content\n");
  EXPECT_FALSE(std::filesystem::exists(saved + ".~tmp"));
  EXPECT_EQ(diagnostics.texts(), std::vector<std::string>{"Not Save " + saved + " "});
}

TEST_F(KeyedLists, AFileThatMayNotBeWrittenIsNotReplaced) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write any file";
  ASSERT_EQ(lists.createFromFile(write(kExample).c_str()), 1);
  const std::string saved = write("old content\n", "saved.txt");
  std::filesystem::permissions(saved, std::filesystem::perms::owner_read);
  EXPECT_EQ(lists.saveFromFile(saved.c_str()), 0);
  EXPECT_EQ(testfiles::readText(saved), "old content\n");
}

TEST(MyAsKey, OwnsItsValuesUntilItHandsThemOut) {
  MyAsKey entry("KEY");
  EXPECT_EQ(entry.getList(), nullptr);
  EXPECT_EQ(entry.removeList(), nullptr);
  entry.AddVal(new CString("one"));
  entry.AddVal(new CString("two"));
  EXPECT_EQ(valuesOf(entry.getList()), (Values{"one", "two"}));
  CPtrList* taken = entry.removeList();
  EXPECT_EQ(entry.getList(), nullptr);
  destroyList(taken);
  entry.AddVal(new CString("three"));  // freed by the destructor
  entry.Key() = "RENAMED";
  EXPECT_STREQ(entry.Key(), "RENAMED");
}

TEST(MyAsKey, StoreOnWritesKeyBlankValueLines) {
  testfiles::TempDir dir;
  const std::string path = dir.file("out.txt");
  MyAsKey entry("K", listOf({"v 1", "v2"}));
  MyAsKey none("NONE");
  {
    CStdioFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite |
                                            CFile::typeText));
    entry.StoreOn(&file);
    none.StoreOn(&file);
    file.Close();
  }
  EXPECT_EQ(testfiles::readText(path), "K v 1\r\nK v2\r\n");
}
