#include "settings/Env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "settings/SettingsTestSupport.h"
#include "support/TestFiles.h"

namespace {

// The file that Env() leaves behind in an empty folder: every default, in
// ascending key order, CR LF line ends.
const std::string kDefaultFile = [] {
  std::string text;
  for (const char* line :
       {"VD6ABS ..\\ABS", "VD6CNF ..\\EXECW", "VD6CNFCOD MAC.CNF", "VD6CODFD A:",
        "VD6CODHD ..\\COD", "VD6COM 1", "VD6CONFIGCFG ..\\CFG", "VD6CTRL ..\\CTRL", "VD6DEB 0",
        "VD6DISFD A:\\VELDA6\\DEF\\DIS", "VD6DISHD ..\\DIS",
        "VD6DISOVERFD A:\\VELDA6\\DEF\\DISOVER", "VD6DISOVERHD ..\\DISOVER", "VD6FAC ..\\BLKFAC",
        "VD6FLAGCTRL SI", "VD6HLP ..\\HELP", "VD6ICN ..\\ICON", "VD6KHC KOREL", "VD6MCR ..\\MCR",
        "VD6MIS MILLIMETRO", "VD6OLDDSR ..\\EXEC\\OLDSR", "VD6OLDSOK ..\\SOCK",
        "VD6OLDUSR ..\\PREUSR", "VD6PARTRS 28955", "VD6PCMHZ 33",
        "VD6RUNEXE \\VELDA6\\PAINT\\PAINT.EXE", "VD6SELIMG ..\\SELIMG", "VD6SLZ ..\\SLZ",
        "VD6SOKFD A:\\VELDA6\\DEF\\CHAIN", "VD6SOKHD ..\\CHAIN", "VD6SOL ..\\SOL",
        "VD6TAL ..\\TAL", "VD6TALFD A:\\VELDA6\\DEF\\TAL", "VD6TAS ..\\TAS",
        "VD6USRFD A:\\VELDA6\\DEF\\BLKUSR", "VD6USRHD ..\\BLKUSR"})
    text += std::string(line) + "\r\n";
  return text;
}();

// `text` with the line of `key` replaced by `line` (with its CR LF).
std::string withLine(std::string text, const std::string& key,
                     const std::string& line) {
  const std::size_t at = text.find(key + " ");
  const std::size_t end = text.find('\n', at) + 1;
  return text.replace(at, end - at, line);
}

// Each test runs inside its own temporary folder, where "ENV.VD6" lives.
class EnvFile : public ::testing::Test {
 protected:
  EnvFile() : inside(dir.path()) {}

  std::string envText() { return testfiles::readText(envFile); }

  testfiles::TempDir dir;
  testfiles::ScopedChdir inside;
  const std::string envFile = dir.file("ENV.VD6");
};

}  // namespace

TEST_F(EnvFile, ACompleteFileIsNotRewrittenEvenWithEmptyOrFullStopValues) {
  // Comments, blank lines and odd spacing would not survive a rewrite.
  const std::string text =
      "@ settings\n\n" +
      withLine(withLine(withLine(kDefaultFile, "VD6DEB", "VD6DEB\r\n"), "VD6COM", "VD6COM .\r\n"),
               "VD6PCMHZ", "VD6PCMHZ    66\n");
  testfiles::writeText(envFile, text);
  Env env;
  EXPECT_EQ(envText(), text);
  EXPECT_STREQ(env.getEnv("VD6PCMHZ"), "66");
  EXPECT_STREQ(env.getEnv("VD6DEB"), "");
  EXPECT_STREQ(env.getEnv("VD6COM"), ".");
  // A stored "." is not the missing-value marker, which is one shared text.
  EXPECT_NE(env.getEnv("VD6COM"), env.getEnv("NOSUCHKEY"));
  EXPECT_STREQ(env.getEnv("NOSUCHKEY"), ".");
  EXPECT_EQ(env.getEnv(nullptr), env.getEnv("NOSUCHKEY"));
}

TEST_F(EnvFile, WithoutAFileEveryDefaultIsWrittenAndPutEnvWritesOnlyWhatChangesAndReadsBack) {
  Env env;
  EXPECT_EQ(envText(), kDefaultFile);
  EXPECT_STREQ(env.getEnv("  VD6ICN"), "..\\ICON");
  std::filesystem::remove(envFile);
  env.putEnv("VD6DEB", nullptr);
  env.putEnv("VD6DEB", "0");
  EXPECT_FALSE(std::filesystem::exists(envFile));
  env.putEnv("  VD6DEB", "1");
  EXPECT_EQ(envText(), withLine(kDefaultFile, "VD6DEB", "VD6DEB 1\r\n"));
  env.putEnv("VD6B", "new");  // a new key in its place
  EXPECT_EQ(envText(), withLine(withLine(kDefaultFile, "VD6DEB", "VD6DEB 1\r\n"), "VD6CNF",
                                "VD6B new\r\nVD6CNF ..\\EXECW\r\n"));
  // Values read back whole, except leading blanks; comment keys do not.
  env.putEnv("VD6RUNEXE", "C:\\Program Files\\paint.exe");
  env.putEnv("VD6MIS", "   indented");
  env.putEnv("@HIDDEN", "x");
  Env again;
  EXPECT_STREQ(again.getEnv("VD6RUNEXE"), "C:\\Program Files\\paint.exe");
  EXPECT_STREQ(again.getEnv("VD6MIS"), "indented");
  EXPECT_STREQ(again.getEnv("@HIDDEN"), ".");
}

TEST_F(EnvFile, AnotherFileIsReadButEnvVd6IsWrittenKeysAreCaseSensitiveAndDuplicatesStay) {
  const std::string other = dir.file("other.cfg");
  const std::string otherText = "VD6COM 7\nvd6deb 1\n@ comment\nVD6COM 8\n";
  testfiles::writeText(other, otherText);
  Env env(other.c_str());
  // A lower-case key does not satisfy its upper-case default.
  EXPECT_STREQ(env.getEnv("VD6DEB"), "0");
  EXPECT_STREQ(env.getEnv("vd6deb"), "1");
  EXPECT_EQ(testfiles::readText(other), otherText);
  EXPECT_EQ(envText(), withLine(kDefaultFile, "VD6COM", "VD6COM 8\r\nVD6COM 7\r\n") + "vd6deb 1\r\n");
}

TEST_F(EnvFile, AFailedSaveOrAnOverLongLineLeavesTheOldFileWholeAndSaysWhy) {
  Env env;
  settings_test::CapturedDiagnostics diagnostics;
  const std::string longest(257 - 6, 'v');  // "VD6MIS " + value + LF = 259
  env.putEnv("VD6MIS", longest.c_str());
  EXPECT_EQ(envText(), withLine(kDefaultFile, "VD6MIS", "VD6MIS " + longest + "\r\n"));
  env.putEnv("VD6MIS", (longest + "w").c_str());
  EXPECT_EQ(envText(), withLine(kDefaultFile, "VD6MIS", ""));
  {
    // No temporary file can be made: for this save, ENV.VD6 is a link into
    // a folder that cannot exist (a path through a plain file).
    std::filesystem::rename(dir.file("ENV.VD6"), dir.file("ENV.VD6.kept"));
    std::filesystem::create_symlink("ENV.VD6.kept/ENV.VD6", dir.file("ENV.VD6"));
    env.putEnv("VD6DEB", "1");
    std::filesystem::remove(dir.file("ENV.VD6"));
    std::filesystem::rename(dir.file("ENV.VD6.kept"), dir.file("ENV.VD6"));
  }
  EXPECT_STREQ(env.getEnv("VD6DEB"), "1");  // changed in memory
  EXPECT_EQ(envText(), withLine(kDefaultFile, "VD6MIS", ""));
  EXPECT_EQ(diagnostics.texts(), (std::vector<std::string>{"Not Save VD6MIS " + longest + "w\n in ENV.VD6",
                                                           "Not Save configuration ENV.VD6 (Open)"}));
}
