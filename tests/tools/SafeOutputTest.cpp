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

namespace tooltest {
namespace {

namespace fs = std::filesystem;

TEST(SafeOutput, EveryOutputKeepsTheModeAndTheLinkAndRefusesAFifoAndNoInputIsWaitedOn) {
  testfiles::TempDir dir;
  auto f = [&dir](const std::string& name) { return dir.file(name); };
  makeImage(f("in.dis"), 0, 9, 5, 1, runs(3));
  ASSERT_EQ(tool({"topng", f("in.dis"), f("in.png")}, dir).status, 0);
  testfiles::writeText(f("rules.txt"), "COLCOPER 1\nCOLTEST 2\nCOLSOST 7\n");
  fs::create_directory(f("designs"));
  testfiles::writeText(f("thesis.txt"), "months of work");
  ASSERT_EQ(::mkfifo(f("fifo").c_str(), 0600), 0);
  const std::vector<std::vector<std::string>> commands = {
      {"topng", f("in.dis")}, {"thumbnail", "-s", "4", f("in.dis")}, {"frompng", f("in.png")},
      {"repack", "--pack", "1", f("in.dis")}, {"cover", f("in.dis"), f("rules.txt")}};
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0]);
    auto run = [&](const std::string& output) {
      std::vector<std::string> args = command;
      args.push_back(output);
      return tool(args, dir);
    };
    ASSERT_EQ(run(f("fresh")).status, 0);  // the result the command writes
    const testfiles::Bytes expected = testfiles::readFile(f("fresh"));
    testfiles::writeText(f("out"), "old");
    ASSERT_EQ(::chmod(f("out").c_str(), 0640), 0);
    ASSERT_EQ(run(f("out")).status, 0);
    struct stat info;
    ASSERT_EQ(::stat(f("out").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(testfiles::readFile(f("out")), expected);

    testfiles::writeText(f("designs/real"), "old");
    fs::create_symlink("designs/real", f("linked"));
    fs::create_symlink("thesis.txt", f("linked.~tmp"));
    fs::create_symlink("../thesis.txt", f("designs/real.~tmp"));
    ASSERT_EQ(run(f("linked")).status, 0);
    EXPECT_TRUE(fs::is_symlink(f("linked")));
    EXPECT_EQ(testfiles::readFile(f("designs/real")), expected);
    EXPECT_EQ(testfiles::readText(f("thesis.txt")), "months of work");
    EXPECT_EQ(fs::read_symlink(f("designs/real.~tmp")), "../thesis.txt");
    EXPECT_EQ(std::distance(fs::directory_iterator(f("designs")), {}), 2);  // nothing more
    for (const char* name : {"linked", "linked.~tmp", "designs/real.~tmp", "fresh"}) fs::remove(f(name));

    EXPECT_EQ(run(f("fifo")).status, 3);
    EXPECT_TRUE(fs::is_fifo(f("fifo")));
    // topng and thumbnail write a PNG to "-" as they would to a file.
    if (command[0] == "topng" || command[0] == "thumbnail") {
      const Result out = run("-");
      EXPECT_EQ(out.status, 0) << out.err;
      EXPECT_TRUE(out.out == std::string(expected.begin(), expected.end()));
      EXPECT_FALSE(fs::exists(f("-")));
    }
  }

  // Inputs that are no regular file are refused at once: reading a FIFO
  // with no writer would wait for ever; `timeout` ends a tool that does.
  const std::string fifo = f("fifo");
  const std::vector<std::vector<std::string>> irregular = {
      {"info", fifo}, {"check", fifo}, {"thumbnail", fifo, f("t.png")}, {"topng", fifo, f("t.png")},
      {"frompng", fifo, f("t.dis")}, {"cover", f("in.dis"), fifo, f("t.dis")}, {"info", f("designs")},
  };
  for (const auto& args : irregular) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const Result run = runProgram(BTREEIMG_TOOL, args, dir, "timeout 20");
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, ::testing::HasSubstr(args.back() == f("designs") ? f("designs") + ": is a folder, not a regular file"
                                                                          : fifo + ": is a FIFO, not a regular file"));
  }
}

}  // namespace
}  // namespace tooltest
