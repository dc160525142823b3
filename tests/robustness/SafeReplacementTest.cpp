// What every save promises, checked on each operation that replaces a file:
// nothing written through a link planted at a temporary name, the replaced
// file's mode, owner and group kept, a linked target kept a link, the old
// file whole after a failed write or flush, after a kill at any moment and
// beside a second process saving the same file; only regular files the user
// may write replaced, never through a link another user planted in a shared
// folder; names of any length the folder allows saved.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ReplacingOperations.h"
#include "SystemCalls.h"
#include "framework/Framework.h"
#include "image/BtreeImg.h"
#include "support/TestFiles.h"
#include "support/ThrownPtr.h"

namespace {

namespace fs = std::filesystem;
using replacing::Operation;
using testfiles::Bytes;
using testfiles::readFile;

std::set<std::string> entries(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

unsigned modeOf(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0u;
}

// A user and a group other than the test's own (none needs to exist).
constexpr uid_t kOtherUser = 1234;
constexpr gid_t kOtherGroup = 5678;

bool isRoot() { return ::geteuid() == 0; }

std::string messageOf(const CException& e) {
  char text[512];
  e.GetErrorMessage(text, sizeof text);
  return text;
}

// Runs `body` as an ordinary user and returns what it returned: directly
// when the test is not run by the superuser, else in a child process that
// gives up the superuser's rights, `folder` and everything in it given to
// kOtherUser first. -1 when the child could not become that user.
int asOrdinaryUser(const fs::path& folder, const std::function<bool()>& body) {
  if (!isRoot()) return body() ? 1 : 0;
  ::lchown(folder.c_str(), kOtherUser, kOtherGroup);
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    ::lchown(entry.path().c_str(), kOtherUser, kOtherGroup);
  }
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

// Saves with the process's file size limit lowered to `bytes`: a write past
// it fails with EFBIG instead of raising SIGXFSZ.
bool saveUnderSizeLimit(const Operation& op, rlim_t bytes) {
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit lowered = old;
  lowered.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &lowered);
  const bool saved = op.save(op.target, 1);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  return saved;
}

// Each test runs one operation inside a folder of its own, which is also the
// current folder (the settings file lives there).
class SafeReplacement : public ::testing::TestWithParam<Operation> {
 protected:
  SafeReplacement() : inside_(dir_.path()) {}

  const Operation& op() const { return GetParam(); }
  std::string target() const { return op().target; }

  testfiles::TempDir dir_;
  testfiles::ScopedChdir inside_;
};

// ---- Promise 1: the temporary file is the save's own ----------------------

TEST_P(SafeReplacement, NeverWritesThroughALinkPlantedAtATemporaryName) {
  const Bytes expected = replacing::expectedContent(op(), 1);
  op().prepare(target());
  testfiles::writeText("thesis.txt", "months of work");
  // The fixed name of earlier versions, and the first random name the save
  // will try (the random source is made predictable for this test).
  const std::string stem = op().stem;
  fs::create_symlink("thesis.txt", stem);
  fs::create_symlink("thesis.txt", stem + "-aaaaaa");
  const auto before = entries(dir_.path());
  syscalls::predictableRandom(true);
  const bool saved = op().save(target(), 1);
  syscalls::predictableRandom(false);

  EXPECT_TRUE(saved);
  EXPECT_EQ(testfiles::readText("thesis.txt"), "months of work");
  EXPECT_TRUE(fs::is_symlink(stem));
  EXPECT_TRUE(fs::is_symlink(stem + "-aaaaaa"));
  EXPECT_FALSE(fs::is_symlink(target()));
  EXPECT_EQ(readFile(target()), expected);
  EXPECT_EQ(entries(dir_.path()), before);
}

TEST(TemporaryFile, IsPrivateUntilCommittedAndTakesTheNewFileModeThen) {
  testfiles::TempDir dir;
  const std::string target = dir.file("new.dis");
  const mode_t old = ::umask(022);
  {
    btreeimg::FileReplacement replacement(target.c_str());
    EXPECT_EQ(modeOf(replacement.temporaryPath().GetString()), 0600u);
    replacement.write("abc", 3);
    replacement.commit();
  }
  EXPECT_EQ(modeOf(target), 0644u);
  ::umask(077);
  {
    btreeimg::FileReplacement replacement(dir.file("private.dis").c_str());
    replacement.commit();
  }
  ::umask(old);
  EXPECT_EQ(modeOf(dir.file("private.dis")), 0600u);
  EXPECT_EQ(testfiles::readText(target), "abc");
}

// ---- Promise 2: the replaced file's mode, owner and group survive --------

TEST_P(SafeReplacement, KeepsThePermissionBitsOfTheReplacedFile) {
  for (const unsigned mode : {0600u, 0640u, 0604u}) {
    op().prepare(target());
    ASSERT_EQ(::chmod(target().c_str(), mode), 0);
    ASSERT_TRUE(op().save(target(), 1));
    EXPECT_EQ(modeOf(target()), mode) << std::oct << mode;
  }
}

TEST_P(SafeReplacement, KeepsTheOwnerAndTheGroupOfTheReplacedFile) {
  if (!isRoot()) GTEST_SKIP() << "only the superuser can give a file to another user";
  op().prepare(target());
  ASSERT_EQ(::chown(target().c_str(), kOtherUser, kOtherGroup), 0);
  ASSERT_TRUE(op().save(target(), 1));
  struct stat info;
  ASSERT_EQ(::stat(target().c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, kOtherUser);
  EXPECT_EQ(info.st_gid, kOtherGroup);
}

// ---- Promise 3: a linked target stays a link ------------------------------

TEST_P(SafeReplacement, ReplacesTheFileALinkPointsAtAndKeepsTheLink) {
  const Bytes expected = replacing::expectedContent(op(), 1);
  fs::create_directory("designs");
  op().prepare("designs/real");
  fs::create_symlink("designs/real", target());
  ASSERT_TRUE(op().save(target(), 1));
  ASSERT_TRUE(fs::is_symlink(target()));
  EXPECT_EQ(fs::read_symlink(target()), "designs/real");
  EXPECT_EQ(readFile("designs/real"), expected);
  EXPECT_EQ(entries("designs"), std::set<std::string>{"real"});
}

TEST(LinkedTarget, ADanglingLinkCreatesTheFileItNamesAndAChainIsFollowed) {
  testfiles::TempDir dir;
  testfiles::ScopedChdir inside(dir.path());
  fs::create_directory("designs");
  fs::create_symlink("designs/new.dis", "dangling.dis");
  fs::create_symlink("../dangling.dis", "designs/chain.dis");  // from its own folder
  const Bytes expected = replacing::expectedContent(replacing::operation("CloseImg"), 0);
  ASSERT_TRUE(replacing::operation("CloseImg").save("designs/chain.dis", 0));
  EXPECT_TRUE(fs::is_symlink("dangling.dis"));
  EXPECT_TRUE(fs::is_symlink("designs/chain.dis"));
  EXPECT_EQ(readFile("designs/new.dis"), expected);
}

TEST_P(SafeReplacement, FollowsALinkInASharedFolderOnlyWhereTheKernelWould) {
  if (!isRoot()) GTEST_SKIP() << "only the superuser can give a link to another user";
  fs::create_directory("designs");
  op().prepare("designs/real");
  const Bytes before = readFile("designs/real");
  fs::create_symlink("designs/real", target());
  // Another user's link in a shared folder (sticky, world-writable) of root's.
  ASSERT_EQ(::lchown(target().c_str(), kOtherUser, kOtherGroup), 0);
  ASSERT_EQ(::chmod(".", 01777), 0);
  const auto names = entries(dir_.path());
  EXPECT_FALSE(op().save(target(), 1));
  EXPECT_EQ(readFile("designs/real"), before);
  EXPECT_TRUE(fs::is_symlink(target()));
  EXPECT_EQ(entries(dir_.path()), names);
  EXPECT_EQ(entries("designs"), std::set<std::string>{"real"});

  // Followed where the folder's owner owns the link, or where the one who
  // saves does.
  const Bytes expected = replacing::expectedContent(op(), 1);
  ASSERT_EQ(::chown(".", kOtherUser, kOtherGroup), 0);
  EXPECT_TRUE(op().save(target(), 1));
  EXPECT_EQ(readFile("designs/real"), expected);
  testfiles::writeFile("designs/real", before);
  ASSERT_EQ(::lchown(target().c_str(), 0, 0), 0);
  EXPECT_TRUE(op().save(target(), 1));
  EXPECT_EQ(readFile("designs/real"), expected);
}

TEST(SharedFolder, ALinkThatIsNotFollowedIsRefusedInPlainWords) {
  if (!isRoot()) GTEST_SKIP() << "only the superuser can give a link to another user";
  testfiles::TempDir dir;
  testfiles::writeText(dir.file("passwords"), "kept");
  fs::create_symlink(dir.file("passwords"), dir.file("report.txt"));
  ASSERT_EQ(::lchown(dir.file("report.txt").c_str(), kOtherUser, kOtherGroup), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
  auto error = testfiles::catchPtr<CFileException>(
      [&] { btreeimg::FileReplacement replacement(dir.file("report.txt").c_str()); });
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->m_cause, CFileException::accessDenied);
  EXPECT_EQ(messageOf(*error), dir.file("report.txt") +
                                   ": not followed: a symbolic link in a shared sticky folder, "
                                   "owned by neither this user nor the folder's owner");
  EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"passwords", "report.txt"}));
}

// ---- Promise 4: only regular files the user may write are replaced --------

TEST_P(SafeReplacement, RefusesADeviceNodeDirectlyOrThroughALink) {
  op().prepare(target());
  fs::remove(target());
  if (::mknod(target().c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) {
    GTEST_SKIP() << "no device node can be made here";
  }
  const auto names = entries(dir_.path());
  EXPECT_FALSE(op().save(target(), 1));
  EXPECT_TRUE(fs::is_character_file(target()));
  EXPECT_EQ(entries(dir_.path()), names);

  fs::rename(target(), "null");
  fs::create_symlink("null", target());
  EXPECT_FALSE(op().save(target(), 1));
  EXPECT_TRUE(fs::is_symlink(target()));
  EXPECT_TRUE(fs::is_character_file("null"));
  EXPECT_EQ(entries(dir_.path()).size(), names.size() + 1);
}

TEST(NotARegularFile, AFifoOrAFolderIsRefusedInPlainWords) {
  testfiles::TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  fs::create_directory(dir.file("folder"));
  fs::create_symlink("fifo", dir.file("to-fifo"));
  for (const char* name : {"fifo", "folder", "to-fifo"}) {
    const std::string path = dir.file(name);
    auto error = testfiles::catchPtr<CFileException>(
        [&] { btreeimg::FileReplacement replacement(path.c_str()); });
    ASSERT_NE(error, nullptr) << name;
    EXPECT_EQ(error->m_cause, CFileException::accessDenied);
    EXPECT_EQ(messageOf(*error), path + ": not a regular file");
  }
  EXPECT_TRUE(fs::is_fifo(dir.file("fifo")));
  EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"fifo", "folder", "to-fifo"}));
}

TEST_P(SafeReplacement, RefusesAReadOnlyFileThatOnlyTheSuperuserMayReplace) {
  op().prepare(target());
  ASSERT_EQ(::chmod(target().c_str(), 0444), 0);
  const Bytes before = readFile(target());
  const auto names = entries(dir_.path());
  EXPECT_EQ(asOrdinaryUser(dir_.path(), [&] { return op().save(target(), 1); }), 0);
  EXPECT_EQ(readFile(target()), before);
  EXPECT_EQ(entries(dir_.path()), names);
  if (!isRoot()) return;
  // The superuser may write any file, as `echo > file` shows.
  EXPECT_TRUE(op().save(target(), 1));
  EXPECT_EQ(readFile(target()), replacing::expectedContent(op(), 1));
  EXPECT_EQ(modeOf(target()), 0444u);
}

TEST(ReadOnlyTarget, IsRefusedInTheWordsOfOpeningItForWriting) {
  testfiles::TempDir dir;
  const std::string path = dir.file("notes.txt");
  testfiles::writeText(path, "kept");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(asOrdinaryUser(dir.path(), [&] {
              CFile file;
              CFileException opening;
              if (file.Open(path.c_str(), CFile::modeWrite, &opening)) return false;
              auto error = testfiles::catchPtr<CFileException>(
                  [&] { btreeimg::FileReplacement replacement(path.c_str()); });
              return error != nullptr && error->m_cause == CFileException::accessDenied &&
                     messageOf(*error) == messageOf(opening);
            }),
            1);
  EXPECT_EQ(testfiles::readText(path), "kept");
}

// ---- Promise 5: any name the folder allows can be saved -------------------

TEST_P(SafeReplacement, SavesATargetWithTheLongestNameAllowed) {
  if (target() == "ENV.VD6") GTEST_SKIP() << "the settings file's name is fixed";
  const std::string name = std::string(251, 'n') + ".dis";  // 255 bytes
  op().prepare(name);
  const auto names = entries(dir_.path());
  ASSERT_TRUE(op().save(name, 1));
  EXPECT_EQ(readFile(name), replacing::expectedContent(op(), 1));
  EXPECT_EQ(entries(dir_.path()), names);
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
    EXPECT_EQ(testfiles::readText(dir.file(name)), "x");
  }
}

// ---- Promise 6: a failed write or flush keeps the old file ----------------

TEST_P(SafeReplacement, AFailedWriteOrFlushIsReportedAndKeepsTheOldFile) {
  op().prepare(target());
  const Bytes before = readFile(target());
  const auto names = entries(dir_.path());
  EXPECT_FALSE(saveUnderSizeLimit(op(), 100)) << "write past the size limit";
  EXPECT_EQ(readFile(target()), before);
  EXPECT_EQ(entries(dir_.path()), names);

  syscalls::failFlushes(true);
  const bool saved = op().save(target(), 1);
  syscalls::failFlushes(false);
  EXPECT_FALSE(saved) << "failed flush";
  EXPECT_EQ(readFile(target()), before);
  EXPECT_EQ(entries(dir_.path()), names);
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
  EXPECT_FALSE(fs::exists(path));
  image.closeImg();  // the retry writes the image
  EXPECT_EQ(BtreeImg(path.c_str()).dimy(1), 8u);
}

// ---- Promises 6 and 7: whole files only, whatever happens meanwhile -------

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

class WholeFilesOnly : public ::testing::TestWithParam<const char*> {
 protected:
  WholeFilesOnly() : inside_(dir_.path()), op_(replacing::operation(GetParam())) {}

  void SetUp() override {
    versions_ = {replacing::expectedContent(op_, 0), replacing::expectedContent(op_, 1)};
    op_.prepare(op_.target);
    ASSERT_TRUE(op_.save(op_.target, 0));
  }

  bool isOneWholeSave(const Bytes& content) const {
    return content == versions_[0] || content == versions_[1];
  }

  testfiles::TempDir dir_;
  testfiles::ScopedChdir inside_;
  const Operation& op_;
  std::vector<Bytes> versions_;
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
    ASSERT_TRUE(isOneWholeSave(readFile(op_.target))) << "round " << round;
  }
}

TEST_P(WholeFilesOnly, TwoProcessesSavingAtOnceLeaveOneWholeSave) {
  constexpr int kSaves = 30;
  for (const int version : {0, 1}) {
    inChild([&] {
      for (int i = 0; i < kSaves; ++i) op_.save(op_.target, version);
    });
  }
  int reads = 0;
  for (int done = 0; done < 2;) {
    ASSERT_TRUE(isOneWholeSave(readFile(op_.target))) << "read " << reads;
    ++reads;
    int status = 0;
    while (::waitpid(-1, &status, WNOHANG) > 0) ++done;
  }
  EXPECT_TRUE(isOneWholeSave(readFile(op_.target)));
  for (const std::string& name : entries(dir_.path())) {
    EXPECT_EQ(name.find(".~tmp"), std::string::npos) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, SafeReplacement,
                         ::testing::ValuesIn(replacing::operations()),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(ImagesAndSettings, WholeFilesOnly,
                         ::testing::Values("CloseImg", "EnvSave"));

}  // namespace
