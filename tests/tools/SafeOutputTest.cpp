// Every output of the tool goes through the library's safe replacement: an
// existing output keeps its permission bits, an output that is a symbolic
// link stays one while the file it points at gets the result, a link
// planted at the temporary name is never written through, and an output
// that is no regular file (a FIFO) is refused. A PNG output may be "-", the
// standard output; inputs that are no regular file are refused, not waited on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ToolTestSupport.h"

namespace {

namespace fs = std::filesystem;
using tooltest::tool;

// A command and its arguments; its output, the last argument, is replaced
// by each test.
struct Command {
  const char* name;
  std::vector<std::string> args;  // files named relative to the test's folder
};

const Command kCommands[] = {
    {"topng", {"topng", "in.dis", "OUT"}},
    {"frompng", {"frompng", "in.png", "OUT"}},
    {"repack", {"repack", "--pack", "1", "in.dis", "OUT"}},
    {"cover", {"cover", "in.dis", "rules.txt", "OUT"}},
};

class SafeOutput : public ::testing::TestWithParam<Command> {
 protected:
  void SetUp() override {
    tooltest::makeImage(dir_.file("in.dis"), 0, 9, 5, 1,
                        [](int, int x, int y) { return static_cast<std::uint8_t>((x + y) % 3); });
    ASSERT_EQ(tool({"topng", dir_.file("in.dis"), dir_.file("in.png")}, dir_).status, 0);
    testfiles::writeText(dir_.file("rules.txt"), "COLCOPER 1\nCOLTEST 2\nCOLSOST 7\n");
  }

  // Runs the command with `output` as its output; returns the exit status.
  int run(const std::string& output) {
    std::vector<std::string> args = GetParam().args;
    for (std::size_t i = 1; i + 1 < args.size(); ++i) {
      if (args[i].find('.') != std::string::npos) args[i] = dir_.file(args[i]);
    }
    args.back() = output;
    return tool(args, dir_).status;
  }

  testfiles::TempDir dir_;
};

TEST_P(SafeOutput, KeepsTheModeOfAnExistingOutputAndTheLinkToIt) {
  // The result the command writes on a fresh output.
  ASSERT_EQ(run(dir_.file("fresh")), 0);
  const testfiles::Bytes expected = testfiles::readFile(dir_.file("fresh"));

  const std::string output = dir_.file("out");
  testfiles::writeText(output, "old");
  ASSERT_EQ(::chmod(output.c_str(), 0640), 0);
  ASSERT_EQ(run(output), 0);
  struct stat info;
  ASSERT_EQ(::stat(output.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(testfiles::readFile(output), expected);

  fs::create_directory(dir_.file("designs"));
  testfiles::writeText(dir_.file("designs/real"), "old");
  fs::create_symlink("designs/real", dir_.file("linked"));
  testfiles::writeText(dir_.file("thesis.txt"), "months of work");
  fs::create_symlink("thesis.txt", dir_.file("linked.~tmp"));
  fs::create_symlink("../thesis.txt", dir_.file("designs/real.~tmp"));
  ASSERT_EQ(run(dir_.file("linked")), 0);
  EXPECT_TRUE(fs::is_symlink(dir_.file("linked")));
  EXPECT_EQ(testfiles::readFile(dir_.file("designs/real")), expected);
  EXPECT_EQ(testfiles::readText(dir_.file("thesis.txt")), "months of work");
  EXPECT_EQ(fs::read_symlink(dir_.file("designs/real.~tmp")), "../thesis.txt");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.file("designs")), {}), 2);  // nothing more
}

TEST_P(SafeOutput, RefusesAnOutputThatIsNoRegularFile) {
  const std::string fifo = dir_.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(run(fifo), 3);
  struct stat info;
  ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

INSTANTIATE_TEST_SUITE_P(EveryOutput, SafeOutput, ::testing::ValuesIn(kCommands),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StandardOutput, TopngAndThumbnailWriteThePngThereAsTheyWouldToAFile) {
  testfiles::TempDir dir;
  tooltest::makeImage(dir.file("in.dis"), 1, 300, 40, 2, tooltest::runs(7));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"topng", dir.file("in.dis")}, {"thumbnail", "-s", "32", dir.file("in.dis")}}) {
    SCOPED_TRACE(args[0]);
    std::vector<std::string> toFile = args, toOutput = args;
    toFile.push_back(dir.file("out.png"));
    toOutput.push_back("-");
    ASSERT_EQ(tool(toFile, dir).status, 0);
    const tooltest::Result run = tool(toOutput, dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out == testfiles::readText(dir.file("out.png")));
    EXPECT_FALSE(fs::exists(dir.file("-")));
  }
}

TEST(IrregularInput, IsRefusedAtOnceInsteadOfWaitedOn) {
  // Reading a FIFO with no writer would wait for ever; `timeout` ends a
  // tool that does.
  testfiles::TempDir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  tooltest::makeImage(dir.file("in.dis"), 0, 4, 4, 1, tooltest::runs(3));
  const std::vector<std::vector<std::string>> commands = {
      {"info", fifo},
      {"check", fifo},
      {"thumbnail", fifo, dir.file("t.png")},
      {"topng", fifo, dir.file("t.png")},
      {"frompng", fifo, dir.file("t.dis")},
      {"cover", dir.file("in.dis"), fifo, dir.file("t.dis")},
      {"info", dir.path().string()},
  };
  for (const auto& args : commands) {
    SCOPED_TRACE(::testing::PrintToString(args));
    std::vector<std::string> words = {"20", BTREEIMG_TOOL};
    words.insert(words.end(), args.begin(), args.end());
    const tooltest::Result run = tooltest::runProgram("timeout", words, dir);
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, ::testing::HasSubstr(args.back() == dir.path().string()
                                                  ? dir.path().string() + ": is a folder, not a regular file"
                                                  : fifo + ": is a FIFO, not a regular file"));
  }
}

}  // namespace
