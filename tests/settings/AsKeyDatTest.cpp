#include "settings/AsKeyDat.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "settings/SettingsTestSupport.h"
#include "support/TestFiles.h"

namespace {

using Values = std::vector<std::string>;
using Contents = std::vector<std::pair<std::string, Values>>;

Values valuesOf(CPtrList* list) {
  Values out;
  for (POSITION pos = list ? list->GetHeadPosition() : nullptr; pos != nullptr;)
    out.emplace_back(static_cast<CString*>(list->GetNext(pos))->GetString());
  return out;
}

Contents contentsOf(AsKeyDat& lists) {
  Contents out;
  for (int i = 0; i < lists.getCount(); ++i)
    out.emplace_back(lists.getAt(i)->Key().GetString(), valuesOf(lists.getAt(i)->getList()));
  return out;
}

const std::string kExample =
    "@ fruit and vegetables\n"
    "#kitchen list\n"
    "FRUIT apple\n"
    "VEG carrot\n"
    "FRUIT pear\n";
const Contents kExampleContents{{"FRUIT", {"apple", "pear"}}, {"VEG", {"carrot"}}};

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

TEST_F(KeyedLists, FilesLoadUpToTheFirstLineWithoutKeyOrValue) {
  const std::string word25 = "ABCDEFGHIJKLMNOPQRSTUVWXY";
  const struct {
    std::string text;
    int result;
    Contents contents;
  } cases[] = {
      {kExample, 1, kExampleContents},
      {"A 1\nFRUIT\nB 2\n", 0, {{"A", {"1"}}}},
      // Comments and empty lines need their mark as the first character.
      {"@c\n#c\n\r\n\n #HASH one\n\r\rCR two\n", 1, {{"#HASH", {"one"}}}},
      // Keys are cut to 20 characters (the rest begins the value), values to
      // 250; the rest of a 254-character read continues as the next line.
      {word25 + " tail\nK " + std::string(252, 'v') + "NEXT val\r\n", 1,
       {{"ABCDEFGHIJKLMNOPQRST", {"UVWXY tail"}}, {"K", {std::string(250, 'v')}}, {"NEXT", {"val"}}}},
  };
  for (const auto& c : cases) {
    AsKeyDat loaded;
    EXPECT_EQ(loaded.createFromFile(write(c.text).c_str()), c.result) << c.text;
    EXPECT_EQ(contentsOf(loaded), c.contents) << c.text;
  }
  EXPECT_EQ(lists.createFromFile(dir.file("absent").c_str()), 0);
  EXPECT_EQ(lists.getCount(), 0);
}

TEST_F(KeyedLists, LoadingAddsToWhatIsThereLookupsSkipOnlyLeadingBlanksAndMissesGiveNull) {
  const std::string path = write(kExample);
  ASSERT_EQ(lists.createFromFile(path.c_str()), 1);
  ASSERT_EQ(lists.createFromFile(path.c_str()), 1);
  const Contents twice{{"FRUIT", {"apple", "pear", "apple", "pear"}}, {"VEG", {"carrot", "carrot"}}};
  EXPECT_EQ(contentsOf(lists), twice);
  EXPECT_EQ(valuesOf(lists.getListOf("  VEG")), (Values{"carrot", "carrot"}));
  EXPECT_EQ(lists.getListOf("fruit"), nullptr);
  EXPECT_EQ(lists.getListOf("\tFRUIT"), nullptr);
  // Handing out outside the entries, or the list of an entry without one.
  EXPECT_EQ(lists.getAt(2), nullptr);
  EXPECT_EQ(lists.getAtRemove(-1), nullptr);
  lists.createAsKey("EMPTY", nullptr);
  EXPECT_EQ(lists.removeListOf("EMPTY"), nullptr);  // the entry still goes
  CPtrList stranger;
  lists.destroyAsKey(&stranger);
  EXPECT_EQ(contentsOf(lists), twice);

  // A file's values go to the first entry of their key, the one a lookup
  // finds; an entry whose own key starts with a blank is never found.
  AsKeyDat seeded;
  for (const char* key : {" VEG", "VEG", "VEG"}) seeded.createAsKey(key, nullptr);
  ASSERT_EQ(seeded.createFromFile(path.c_str()), 1);
  EXPECT_EQ(contentsOf(seeded),
            (Contents{{" VEG", {}}, {"VEG", {"carrot"}}, {"VEG", {}}, {"FRUIT", {"apple", "pear"}}}));
}

// Saving replaces the file through a temporary one (the robustness tests
// make that fail part way).
TEST_F(KeyedLists, SavingWritesOneLinePerValueOrFailsWithZeroAndSaysSo) {
  ASSERT_EQ(lists.createFromFile(write(kExample).c_str()), 1);
  const std::string saved = write("old content\n", "saved.txt"), folder = dir.file("folder");
  std::filesystem::create_directory(folder);
  settings_test::CapturedDiagnostics diagnostics;
  EXPECT_EQ(lists.saveFromFile(folder.c_str()), 0);  // not a regular file: refused
  EXPECT_TRUE(diagnostics.texts().empty());
  // Writing fails past a lowered file size limit.
  EXPECT_EQ(testfiles::underFileSizeLimit(8, [&] { return lists.saveFromFile(saved.c_str()); }), 0);
  EXPECT_EQ(testfiles::readText(saved), "old content\n");
  EXPECT_EQ(diagnostics.texts(), Values{"Not Save " + saved + " "});
  // Then a save that works, and reads back.
  lists.createAsKey("NOVALUES", nullptr);
  ASSERT_EQ(lists.saveFromFile(saved.c_str()), 1);
  EXPECT_EQ(testfiles::readText(saved), "FRUIT apple\r\nFRUIT pear\r\nVEG carrot\r\n");
  AsKeyDat again;
  ASSERT_EQ(again.createFromFile(saved.c_str()), 1);
  EXPECT_EQ(contentsOf(again), kExampleContents);
  // A collection without values deletes the file, or writes none.
  AsKeyDat none;
  none.createAsKey("NOVALUES", nullptr);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(none.saveFromFile(saved.c_str()), 1);
    EXPECT_FALSE(std::filesystem::exists(saved));
  }
}
