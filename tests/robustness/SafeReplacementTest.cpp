// Every operation that replaces a file changes only that file's content
// (through links a user would follow, never planted ones); a refused or failed
// save changes nothing; a kill or a concurrent save leaves one whole file.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "SystemCalls.h"
#include "framework/Framework.h"
#include "image/BtreeImg.h"
#include "settings/AsKeyDat.h"
#include "settings/Env.h"
#include "settings/SettingsTestSupport.h"
#include "support/TestFiles.h"
#include "support/ThrownPtr.h"

namespace {

namespace fs = std::filesystem;
using testfiles::readText;

// ---- The operations that replace a file -----------------------------------

struct Operation {
  const char* name;
  const char* target;  // in the current folder, where the settings file lives
  const char* stem;    // the stem of the operation's temporary names
  std::function<void(const std::string& target)> prepare;  // the old content
  // Saves version 0 or 1 of the new content; false on a reported failure.
  std::function<bool(const std::string& target, int version)> save;
};
void PrintTo(const Operation& op, std::ostream* out) { *out << op.name; }

// A 64 x 16 one-plane raw image whose every pixel is `value`.
void writeImage(const std::string& path, int value) {
  BtreeImg image(path.c_str(), 0, 64, 16, 1);
  std::string line(64, static_cast<char>(value));
  for (int y = 0; y < 16; ++y) image.wLinea(line.data(), y, 1);
  image.closeImg();
}

// Rules turning every 5 above a 5 into 10 + version, and an image of fives.
void writeCoverageInputs() {
  testfiles::writeText("rules-0.txt", "COLCOPER 5\nCOLTEST 5\nCOLSOST 10\n");
  testfiles::writeText("rules-1.txt", "COLCOPER 5\nCOLTEST 5\nCOLSOST 11\n");
  writeImage("source.dis", 5);
}

// Whether `f` ran without throwing a framework exception.
bool reported(const std::function<void()>& f) { return !testfiles::throwsPtr<CException>(f); }

void oldBytes(const std::string& target) { testfiles::writeText(target, std::string(700, 'o')); }

std::string rulesOf(int version) { return "rules-" + std::to_string(version) + ".txt"; }

const std::vector<Operation>& operations() {
  static const std::vector<Operation> ops = {
      {"CloseImg", "image.dis", "image.dis.~tmp", oldBytes,
       [](const std::string& target, int version) {
         return reported([&] { writeImage(target, 20 + version); });
       }},
      {"CoverageToAnotherFile", "covered.dis", "covered.dis.~tmp",
       [](const std::string& target) {
         writeCoverageInputs();
         oldBytes(target);
       },
       [](const std::string& target, int version) {
         BtreeImg source("source.dis");
         return source.CoperturaU8(rulesOf(version).c_str(), target.c_str()) == 1;
       }},
      {"CoverageOfItsOwnFile", "woven.dis", "woven.~~T",
       [](const std::string& target) {
         writeCoverageInputs();
         writeImage(target, 5);
       },
       [](const std::string& target, int version) {
         bool covered = false;  // opening fails where the target is no image
         return reported([&] {
                  BtreeImg image(target.c_str());
                  covered = image.CoperturaU8(rulesOf(version).c_str(), target.c_str()) == 1;
                }) &&
                covered;
       }},
      {"EnvSave", "ENV.VD6", "ENV.VD6.~tmp",
       [](const std::string& target) {
         { Env defaults; }  // writes ENV.VD6 with the default entries
         if (target != "ENV.VD6") fs::rename("ENV.VD6", target);
       },
       [](const std::string&, int version) {
         settings_test::CapturedDiagnostics failures;
         Env().putEnv("VD6DEB", version == 0 ? "zero" : "one");
         return failures.texts().empty();
       }},
      {"KeyedListSave", "lists.txt", "lists.txt.~tmp", oldBytes,
       [](const std::string& target, int version) {
         AsKeyDat lists;
         for (int i = 0; i < 20; ++i) {
           CPtrList* values = new CPtrList;
           values->AddTail(new CString(std::to_string(i * 7 + version).c_str()));
           lists.createAsKey(("KEY" + std::to_string(i)).c_str(), values);
         }
         return lists.saveFromFile(target.c_str()) == 1;
       }},
  };
  return ops;
}

// The bytes `op` writes for `version`, made in a folder of their own.
std::string expectedContent(const Operation& op, int version) {
  testfiles::TempDir folder;
  testfiles::ScopedChdir inside(folder.path());
  op.prepare(op.target);
  if (!op.save(op.target, version)) throw std::runtime_error("reference save failed");
  return readText(op.target);
}

// Each entry's mode, owner, group and content (a link's target).
using Entry = std::tuple<unsigned, uid_t, gid_t, std::string>;
using Snapshot = std::map<std::string, Entry>;
Snapshot snapshot(const fs::path& folder = ".") {
  Snapshot all;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    struct stat info;
    if (::lstat(entry.path().c_str(), &info) != 0) continue;
    const std::string data = S_ISREG(info.st_mode)   ? readText(entry.path())
                             : S_ISLNK(info.st_mode) ? fs::read_symlink(entry.path()).string()
                                                     : "";
    all[entry.path().lexically_relative(folder).string()] = {info.st_mode, info.st_uid,
                                                             info.st_gid, data};
  }
  return all;
}

unsigned modeOf(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0u;
}

// A user and a group other than the test's own (none needs to exist).
constexpr uid_t kOtherUser = 1234;
constexpr gid_t kOtherGroup = 5678;

bool isRoot() { return ::geteuid() == 0; }

// Gives `folder` and everything in it to kOtherUser, where the test may.
void giveAway(const fs::path& folder) {
  if (!isRoot()) return;
  ::lchown(folder.c_str(), kOtherUser, kOtherGroup);
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    ::lchown(entry.path().c_str(), kOtherUser, kOtherGroup);
  }
}

// `body`'s result (1 or 0) as an ordinary user: for the superuser in a child
// that became kOtherUser; -1 when it could not.
int asOrdinaryUser(const std::function<bool()>& body) {
  if (!isRoot()) return body() ? 1 : 0;
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kOtherGroup) != 0 || ::setuid(kOtherUser) != 0) {
      ::_exit(2);
    }
    ::_exit(body() ? 1 : 0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) < 2 ? WEXITSTATUS(status) : -1;
}

enum class Saving { plainly, pastASizeLimit, withFailingFlushes, asAnOrdinaryUser };

// The name a save goes through and the file it replaces; none: not applicable.
struct Names {
  std::string through, replaced;
};

Names oldFile(const Operation& op) {
  op.prepare(op.target);
  return {op.target, op.target};
}

// `op`'s old file at designs/real, and a link to it at the target.
Names linkedFile(const Operation& op) {
  fs::create_directory("designs");
  op.prepare("designs/real");
  fs::create_symlink("designs/real", op.target);
  return {op.target, "designs/real"};
}

// A linked target in a shared folder (sticky, world-writable): the kernel
// follows such a link only for the folder's owner and the link's.
Names inSharedFolder(const Operation& op, uid_t linkOwner, uid_t folderOwner) {
  const Names names = linkedFile(op);
  ::lchown(op.target, linkOwner, linkOwner);
  ::chown(".", folderOwner, folderOwner);
  ::chmod(".", 01777);
  return names;
}

const struct Layout {
  const char* what;
  bool needsRoot, fails;
  Saving saving;
  Names (*setUp)(const Operation& op);  // lays out the current folder
  const char* refusal = nullptr;  // its words; "": those of opening it to write
} kLayouts[] = {
    // The superuser may write any file, as `echo > file` shows.
    {"a file of its own mode, owner and group", false, false, Saving::plainly,
     [](const Operation& op) {
       const Names names = oldFile(op);
       if (isRoot()) ::chown(op.target, kOtherUser, kOtherGroup);
       ::chmod(op.target, isRoot() ? 0444 : 0604);
       return names;
     }},
    {"a link to a file in another folder", false, false, Saving::plainly,
     linkedFile},
    // A relative link is followed from its own folder.
    {"a chain of links ending in a dangling one", false, false, Saving::plainly,
     [](const Operation& op) {
       const std::string name = op.name;
       if (name == "CoverageOfItsOwnFile" || name == "EnvSave")
         return Names{};  // read it first
       op.prepare("scratch");
       fs::remove("scratch");
       fs::create_directory("designs");
       fs::create_symlink("designs/new.dis", op.target);
       fs::create_symlink(std::string("../") + op.target, "designs/chain");
       return Names{"designs/chain", "designs/new.dis"};
     }},
    // The fixed name of earlier versions and the first (predictable) random
    // one.
    {"links planted at its temporary names", false, false, Saving::plainly,
     [](const Operation& op) {
       const Names names = oldFile(op);
       testfiles::writeText("thesis.txt", "months of work");
       fs::create_symlink("thesis.txt", op.stem);
       fs::create_symlink("thesis.txt", std::string(op.stem) + "-aaaaaa");
       syscalls::predictableRandom(true);
       return names;
     }},
    {"the longest name allowed", false, false, Saving::plainly,
     [](const Operation& op) {
       if (std::string(op.target) == "ENV.VD6") return Names{};  // a fixed name
       const std::string name = std::string(251, 'n') + ".dis";  // 255 bytes
       op.prepare(name);
       return Names{name, name};
     }},
    {"a link of the shared folder's owner", true, false, Saving::plainly,
     [](const Operation& op) {
       return inSharedFolder(op, kOtherUser, kOtherUser);
     }},
    {"the saver's link in a shared folder", true, false, Saving::plainly,
     [](const Operation& op) { return inSharedFolder(op, 0, kOtherUser); }},
    {"another user's link in a shared folder", true, true, Saving::plainly,
     [](const Operation& op) { return inSharedFolder(op, kOtherUser, 0); },
     "not followed: a symbolic link in a shared sticky folder, owned by "
     "neither this user nor "
     "the folder's owner"},
    {"a link to a FIFO", false, true, Saving::plainly,
     [](const Operation& op) {
       const Names names = oldFile(op);
       fs::remove(op.target);
       fs::create_symlink("fifo", op.target);
       return ::mkfifo("fifo", 0600) == 0 ? names : Names{};
     },
     "not a regular file"},
    {"a read-only file, saved by an ordinary user", false, true,
     Saving::asAnOrdinaryUser,
     [](const Operation& op) {
       const Names names = oldFile(op);
       ::chmod(op.target, 0444);
       giveAway(".");
       return names;
     },
     ""},
    {"a write past the file size limit", false, true, Saving::pastASizeLimit,
     oldFile},
    {"a failed flush", false, true, Saving::withFailingFlushes, oldFile},
};

// Whether FileReplacement refuses `name` as access denied, in `words`.
bool refusedInWords(const std::string& name, const std::string& words) {
  std::string expected = name + ": " + words;
  CFile file;
  CFileException opening;
  if (words.empty() && file.Open(name.c_str(), CFile::modeWrite, &opening)) return false;
  if (words.empty()) expected = btreeimg::describe(&opening).str();
  const auto error =
      testfiles::catchPtr<CFileException>([&] { btreeimg::FileReplacement refused(name.c_str()); });
  return error != nullptr && error->m_cause == CFileException::accessDenied &&
         btreeimg::describe(error.get()).str() == expected;
}

class SafeReplacement : public ::testing::TestWithParam<Operation> {};

TEST_P(SafeReplacement, ASaveChangesOnlyTheFileItReplacesAndAFailedOneNothing) {
  const Operation& op = GetParam();
  const std::string expected = expectedContent(op, 1);
  for (const Layout& layout : kLayouts) {
    if (layout.needsRoot && !isRoot()) continue;
    SCOPED_TRACE(layout.what);
    testfiles::TempDir dir;
    testfiles::ScopedChdir inside(dir.path());
    const Names names = layout.setUp(op);
    if (names.through.empty()) continue;
    Snapshot before = snapshot();
    const auto save = [&] {  // a refusal in other words counts as a save
      if (layout.refusal != nullptr && !refusedInWords(names.through, layout.refusal)) return true;
      return op.save(names.through, 1);
    };
    syscalls::failFlushes(layout.saving == Saving::withFailingFlushes);
    const bool saved = layout.saving == Saving::pastASizeLimit ? testfiles::underFileSizeLimit(100, save)
                       : layout.saving == Saving::asAnOrdinaryUser ? asOrdinaryUser(save) == 1
                                                                   : save();
    syscalls::failFlushes(false);
    syscalls::predictableRandom(false);
    const Snapshot after = snapshot();
    EXPECT_EQ(saved, !layout.fails);
    if (!layout.fails) {
      ASSERT_EQ(after.count(names.replaced), 1u);
      EXPECT_TRUE(std::get<3>(after.at(names.replaced)) == expected);
      auto [at, added] = before.emplace(names.replaced, after.at(names.replaced));
      if (!added) std::get<3>(at->second) = expected;
    }
    EXPECT_EQ(after, before);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, SafeReplacement, ::testing::ValuesIn(operations()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TemporaryFile, IsPrivateUntilCommittedAndTakesTheNewFileModeThen) {
  testfiles::TempDir dir;
  const mode_t old = ::umask(022);
  for (const mode_t mask : {022, 077}) {
    ::umask(mask);
    btreeimg::FileReplacement replacement(dir.file("new.dis").c_str());
    EXPECT_EQ(modeOf(replacement.temporaryPath().GetString()), 0600u);
    replacement.write("abc", 3);
    replacement.commit();
    EXPECT_EQ(modeOf(dir.file("new.dis")), 0666u & ~mask);
    fs::remove(dir.file("new.dis"));
  }
  ::umask(old);
}

// A folder that takes no new file (/sys, even for root) is named, not the file.
TEST(TemporaryFile, AFolderThatTakesNoNewFileIsNamed) {
  if (!fs::is_directory("/sys")) GTEST_SKIP() << "no /sys";
  const auto refused = testfiles::catchPtr<CFileException>(
      [] { btreeimg::FileReplacement replacement("/sys/btreeimg-test.dis"); });
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(refused->m_strFileName, CString("/sys"));
}

TEST(LongName, TheTemporaryNameDropsWholeCharactersBeforeItsMarker) {
  testfiles::TempDir dir;
  std::string e127;  // 127 two-byte characters
  for (int i = 0; i < 127; ++i) e127 += "\xC3\xA9";
  const std::string e121 = e127.substr(0, 242);
  // Both names are 255 bytes: 12 bytes go before ".~tmp-XXXXXX", and where
  // the 12th byte from the end splits a character, that whole character.
  const std::pair<std::string, std::string> cases[] = {{"a" + e127, "a" + e121},
                                                       {e127 + "a", e121}};
  for (const auto& [name, kept] : cases) {
    btreeimg::FileReplacement replacement(dir.file(name).c_str());
    const std::string temporary = fs::path(replacement.temporaryPath().GetString()).filename();
    EXPECT_EQ(temporary.substr(0, temporary.size() - 6), kept + ".~tmp-");
    replacement.write("x", 1);
    replacement.commit();
    EXPECT_EQ(readText(dir.file(name)), "x");
  }
}

TEST(Durability, TheFileIsFlushedBeforeTheRenameAndTheFolderAfter) {
  testfiles::TempDir dir;
  syscalls::startRecording();
  BtreeImg(dir.file("image.dis").c_str(), 0, 8, 8, 1).closeImg();
  EXPECT_EQ(syscalls::stopRecording(),
            (std::vector<std::string>{"fsync file", "rename", "fsync folder"}));
}

TEST(Durability, AFailedCloseImgLeavesTheImageMarkedForSaving) {
  testfiles::TempDir dir;
  const std::string path = dir.file("image.dis");
  BtreeImg image(path.c_str(), 0, 8, 8, 1);
  syscalls::failFlushes(true);
  auto error = testfiles::catchPtr<CFileException>([&] { image.closeImg(); });
  syscalls::failFlushes(false);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->m_cause, CFileException::hardIO);
  EXPECT_NE(error->m_strFileName.Find("image.dis"), -1);
  image.closeImg();  // the retry writes the image
  EXPECT_EQ(BtreeImg(path.c_str()).dimy(1), 8u);
}

// Runs `body` in a child process; returns its pid.
template <class F>
pid_t inChild(F body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    body();
    ::_exit(0);
  }
  return pid;
}

class WholeFilesOnly : public ::testing::TestWithParam<Operation> {
 protected:
  WholeFilesOnly() : inside_(dir_.path()), op_(GetParam()) {}

  void SetUp() override {
    versions_ = {expectedContent(op_, 0), expectedContent(op_, 1)};
    op_.prepare(op_.target);
    ASSERT_TRUE(op_.save(op_.target, 0));
  }

  bool isOneWholeSave() const {
    const std::string content = readText(op_.target);
    return content == versions_[0] || content == versions_[1];
  }

  testfiles::TempDir dir_;
  testfiles::ScopedChdir inside_;
  const Operation& op_;
  std::vector<std::string> versions_;
};

TEST_P(WholeFilesOnly, AKillAtAnyMomentLeavesTheOldOrTheNewFile) {
  std::mt19937 random(12345);
  for (int round = 0; round < 40; ++round) {
    const pid_t child = inChild([&] {
      for (int i = 0;; ++i) op_.save(op_.target, i % 2);
    });
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(isOneWholeSave()) << "round " << round;
  }
}

TEST_P(WholeFilesOnly, TwoProcessesSavingAtOnceLeaveOneWholeSave) {
  for (const int version : {0, 1}) {
    inChild([&] {
      for (int i = 0; i < 30; ++i) op_.save(op_.target, version);
    });
  }
  int reads = 0;
  for (int done = 0; done < 2;) {
    ASSERT_TRUE(isOneWholeSave()) << "read " << reads;
    ++reads;
    int status = 0;
    while (::waitpid(-1, &status, WNOHANG) > 0) ++done;
  }
  EXPECT_TRUE(isOneWholeSave());
  for (const auto& [name, entry] : snapshot()) {
    EXPECT_EQ(name.find(".~tmp"), std::string::npos) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    ImagesAndSettings, WholeFilesOnly,
    ::testing::Values(operations()[0], operations()[3]));  // CloseImg, EnvSave

}  // namespace
