// Every operation that replaces a file, made to fail part-way through the
// write (a file size limit) or unable to put its temporary file in place (a
// folder standing at the temporary name): the old file stays byte for byte
// as it was, nothing is left behind, and the failure is reported as each
// operation documents it.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "framework/Framework.h"
#include "image/BtreeImg.h"
#include "settings/AsKeyDat.h"
#include "settings/Env.h"
#include "support/TestFiles.h"
#include "support/ThrownPtr.h"

namespace {

namespace fs = std::filesystem;
using testfiles::Bytes;
using testfiles::readFile;
using testfiles::TempDir;

// Lowers the process's file size limit for its lifetime; a write past it
// fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit lowered = old_;
    lowered.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_{};
  void (*oldHandler_)(int);
};

void collect(const char* text, void* context) {
  static_cast<std::vector<std::string>*>(context)->push_back(text);
}

// A created one-plane image of 64 lines of 256 bytes, not yet saved.
std::unique_ptr<BtreeImg> createdImage(const std::string& path) {
  auto image = std::make_unique<BtreeImg>(path.c_str(), 0, 256, 64, 1);
  std::vector<char> line(256);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 256; ++x) line[x] = static_cast<char>(x ^ y);
    image->wLinea(line.data(), y, 1);
  }
  return image;
}

enum class Obstacle { kSizeLimit, kFolderAtTemporaryName };

class ReplaceFailure : public ::testing::TestWithParam<Obstacle> {
 protected:
  // Runs `replace` against the obstacle of this test; `temporary` is where
  // the operation puts its new content before the rename.
  void withObstacle(const std::string& temporary,
                    const std::function<void()>& replace,
                    rlim_t sizeLimit = 1000) {
    if (GetParam() == Obstacle::kSizeLimit) {
      FileSizeLimit limit(sizeLimit);
      replace();
    } else {
      fs::create_directory(temporary);
      replace();
      EXPECT_TRUE(fs::is_directory(temporary));
      fs::remove(temporary);
    }
    EXPECT_FALSE(fs::exists(temporary));
  }

  std::string oldFile(const std::string& name, std::size_t size) {
    const std::string path = dir_.file(name);
    testfiles::writeText(path, std::string(size, 'o'));
    return path;
  }

  TempDir dir_;
};

TEST_P(ReplaceFailure, CloseImgThrowsKeepsTheOldFileAndCanBeRetried) {
  const std::string path = oldFile("image.dis", 3000);
  const Bytes before = readFile(path);
  auto image = createdImage(path);
  withObstacle(path + ".~tmp", [&] {
    auto error = testfiles::catchPtr<CFileException>([&] { image->closeImg(); });
    ASSERT_NE(error, nullptr);
    EXPECT_NE(error->m_strFileName.Find("image.dis"), -1);
  });
  EXPECT_EQ(readFile(path), before);
  image->closeImg();  // the obstacle is gone: the retry writes the image
  EXPECT_EQ(readFile(path).size(), 1312u + 256u * 64u);
}

TEST_P(ReplaceFailure, EnvSaveKeepsTheOldFileAndTellsTheSink) {
  testfiles::ScopedChdir inside(dir_.path());
  { Env complete; }  // writes the 36 defaults
  const Bytes before = readFile(dir_.file("ENV.VD6"));
  ASSERT_GT(before.size(), 300u);
  std::vector<std::string> texts;
  btreeimg::setDiagnosticSink(collect, &texts);
  {
    Env env;
    withObstacle(dir_.file("ENV.VD6.~tmp"), [&] { env.putEnv("VD6DEB", "1"); },
                 300);
    EXPECT_STREQ(env.getEnv("VD6DEB"), "1");  // the table has the change
  }
  btreeimg::setDiagnosticSink(nullptr, nullptr);
  EXPECT_EQ(readFile(dir_.file("ENV.VD6")), before);
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts[0].rfind("Not Save", 0), 0u) << texts[0];
}

TEST_P(ReplaceFailure, KeyedListSaveReturnsZeroAndKeepsTheOldFile) {
  const std::string path = oldFile("lists.txt", 1500);
  const Bytes before = readFile(path);
  AsKeyDat lists;
  for (int i = 0; i < 200; ++i) {
    CPtrList* values = new CPtrList;
    values->AddTail(new CString("a value long enough to pass the limit"));
    lists.createAsKey(("KEY" + std::to_string(i)).c_str(), values);
  }
  withObstacle(path + ".~tmp", [&] { EXPECT_EQ(lists.saveFromFile(path.c_str()), 0); });
  EXPECT_EQ(readFile(path), before);
}

// The temporary name replaces the image's final ".dis" in any case.
TEST_P(ReplaceFailure, SameFileCoverageReturnsZeroAndKeepsTheImage) {
  const std::string path = dir_.file("woven.Dis");
  createdImage(path)->closeImg();
  const Bytes before = readFile(path);
  testfiles::writeText(dir_.file("rules.txt"), "COLCOPER 1\nCOLTEST 0\nCOLSOST 9\n");
  BtreeImg image(path.c_str());
  withObstacle(dir_.file("woven.~~T"), [&] {
    EXPECT_EQ(image.CoperturaU8(dir_.file("rules.txt").c_str(), path.c_str()), 0);
  });
  EXPECT_EQ(readFile(path), before);
  EXPECT_FALSE(fs::exists(dir_.file("woven.~~T.~tmp")));
}

INSTANTIATE_TEST_SUITE_P(Obstacles, ReplaceFailure,
                         ::testing::Values(Obstacle::kSizeLimit,
                                           Obstacle::kFolderAtTemporaryName),
                         [](const auto& info) {
                           return info.param == Obstacle::kSizeLimit
                                      ? std::string("SizeLimit")
                                      : std::string("FolderAtTemporaryName");
                         });

}  // namespace
