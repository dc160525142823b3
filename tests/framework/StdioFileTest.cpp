#include "framework/CStdioFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "framework/CFile.h"
#include "framework/Exceptions.h"
#include "support/TestFiles.h"
#include "support/ThrownPtr.h"

using testfiles::catchPtr;
using testfiles::readText;
using testfiles::throwsPtr;
using testfiles::writeText;

namespace {

using Pieces = std::vector<std::string>;

constexpr UINT kReadText = CFile::modeRead | CFile::typeText;
constexpr UINT kCreateText =
    CFile::modeCreate | CFile::modeWrite | CFile::typeText;

// Every piece ReadString(buffer, maxChars) returns, until it returns null.
Pieces readPieces(const std::string& path, UINT maxChars) {
  CStdioFile file(path.c_str(), kReadText);
  std::vector<char> buffer(maxChars + 1, '#');
  Pieces pieces;
  while (const char* got = file.ReadString(buffer.data(), maxChars)) {
    EXPECT_EQ(got, buffer.data());
    pieces.emplace_back(got);
  }
  return pieces;
}

// Every line ReadString(CString&) returns, until it returns FALSE.
Pieces readLines(const std::string& path) {
  CStdioFile file(path.c_str(), kReadText);
  Pieces lines;
  CString line;
  while (file.ReadString(line)) lines.push_back(line.str());
  EXPECT_TRUE(line.IsEmpty());
  return lines;
}

class StdioFileTest : public ::testing::Test {
 protected:
  // `disk` reads as `pieces` through ReadString(buffer, 255) and as `lines`
  // through ReadString(CString&).
  void expectReads(const char* disk, const Pieces& pieces,
                   const Pieces& lines) {
    writeText(path, disk);
    EXPECT_EQ(readPieces(path, 255), pieces) << disk;
    EXPECT_EQ(readLines(path), lines) << disk;
  }

  testfiles::TempDir dir;
  std::string path = dir.file("lines.txt");
};

TEST_F(StdioFileTest, TextModeWritesCrLfAndReadsCrLfOrLfAsLineFeeds) {
  {
    CStdioFile file(path.c_str(), kCreateText);  // closed by the destructor
    file.WriteString("KEY value\n\nno line feed");
  }
  EXPECT_EQ(readText(path), "KEY value\r\n\r\nno line feed");
  expectReads("one\r\ntwo\r\n\r\nfour\r\n", {"one\n", "two\n", "\n", "four\n"},
              {"one", "two", "", "four"});
  expectReads("one\ntwo\n\nfour\n", {"one\n", "two\n", "\n", "four\n"},
              {"one", "two", "", "four"});
  expectReads("first\r\nlast", {"first\n", "last"}, {"first", "last"});
  expectReads("", {}, {});
  expectReads("a\rb\r\nc\r\r\nend\r", {"a\rb\n", "c\r\n", "end\r"},
              {"a\rb", "c\r", "end\r"});  // lone carriage returns stay
}

TEST_F(StdioFileTest, ReadStringTakesAtMostOneLessThanItsSize) {
  const std::string x300(300, 'x');
  writeText(path, x300 + "\r\nnext\r\n");
  // The library reads lines into 256-byte buffers with a size of 255.
  EXPECT_EQ(readPieces(path, 255),
            (Pieces{x300.substr(46), x300.substr(254) + "\n", "next\n"}));
  writeText(path, "abc\r\n");  // filling the buffer leaves the line feed
  EXPECT_EQ(readPieces(path, 4), (Pieces{"abc", "\n"}));
  char two[2];  // a size of 1 has room for the terminator only
  EXPECT_EQ(CStdioFile(path.c_str(), kReadText).ReadString(two, 1), nullptr);
  // A CR LF pair straddling the 64 KiB read buffer is one line feed.
  const std::string a(64 * 1024 - 1, 'a');
  writeText(path, a + "\r\nb\r\n");
  EXPECT_EQ(readLines(path), (Pieces{a, "b"}));
}

TEST_F(StdioFileTest, FailedOpensReportTheCauseAndLeaveAFileThatThrows) {
  const std::string missing = dir.file("missing.txt");
  const std::string directory = dir.path().string();
  const struct {
    const std::string& name;
    UINT flags;
    int cause;
  } cases[] = {
      {missing, CFile::modeRead, CFileException::fileNotFound},
      {directory, CFile::modeRead, CFileException::accessDenied},
      {directory, CFile::modeCreate | CFile::modeWrite,
       CFileException::accessDenied},
  };
  for (const auto& c : cases) {
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(c.name.c_str(), c.flags, &error));
    EXPECT_EQ(error.m_cause, c.cause);
    EXPECT_EQ(error.m_lOsError == ENOENT,
              c.cause == CFileException::fileNotFound);
    EXPECT_EQ(error.m_strFileName, c.name.c_str());
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Open(c.name.c_str(), c.flags));
    auto thrown = catchPtr<CFileException>(
        [&] { CStdioFile opened(c.name.c_str(), c.flags); });
    ASSERT_NE(thrown, nullptr);
    EXPECT_EQ(thrown->m_cause, c.cause);
  }
  // A file that is not open throws instead of touching anything.
  CStdioFile closed;
  char byte = 0;
  EXPECT_TRUE(throwsPtr<CFileException>([&] { closed.Read(&byte, 1); }));
  EXPECT_TRUE(throwsPtr<CFileException>([&] { closed.Write(&byte, 1); }));
  EXPECT_TRUE(throwsPtr<CFileException>([&] { closed.Seek(0, CFile::begin); }));
  EXPECT_TRUE(throwsPtr<CFileException>([&] { closed.WriteString("x"); }));
  closed.Close();  // closing a closed file is harmless
}

TEST_F(StdioFileTest, BinaryModeTranslatesNothingReadsWhatExistsAndTruncatesOnlyWhenAsked) {
  CStdioFile(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)
      .WriteString("a\nb\r\n\x1A\n");
  EXPECT_EQ(readText(path), "a\nb\r\n\x1A\n");
  CFile file(path.c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeRead);
  EXPECT_EQ(file.Seek(-2, CFile::end), 5u);
  char tail[8] = {};
  EXPECT_EQ(file.Read(tail, sizeof tail), 2u);
  EXPECT_EQ(tail[0], 0x1A);
  EXPECT_TRUE(throwsPtr<CFileException>([&] { file.Seek(-1, CFile::begin); }));
  EXPECT_EQ(CFile(path.c_str(), CFile::modeCreate | CFile::modeWrite).GetLength(), 0u);
  // Text mode on a read-write file: the length is what lies on the disk.
  CStdioFile both(path.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::typeText);
  both.WriteString("ab\ncd\n");
  EXPECT_EQ(both.GetLength(), 8u);  // two CR LF pairs on disk
  both.SeekToBegin();
  CString line;
  ASSERT_TRUE(both.ReadString(line));
  EXPECT_EQ(line, "ab");
}

}  // namespace
