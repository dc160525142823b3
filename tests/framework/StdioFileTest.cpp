#include "framework/CStdioFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "framework/CFile.h"
#include "framework/Exceptions.h"
#include "support/TestFiles.h"
#include "support/ThrownPtr.h"

using testfiles::catchPtr;
using testfiles::readText;
using testfiles::TempDir;
using testfiles::throwsPtr;
using testfiles::writeText;

namespace {

constexpr UINT kReadText = CFile::modeRead | CFile::typeText;  // 16384
constexpr UINT kCreateText =
    CFile::modeCreate | CFile::modeWrite | CFile::typeText;  // 20481

// Every piece ReadString(buffer, maxChars) returns, until it returns null.
std::vector<std::string> readPieces(const std::string& path, UINT maxChars) {
  CStdioFile file;
  EXPECT_TRUE(file.Open(path.c_str(), kReadText));
  std::vector<char> buffer(maxChars + 1, '#');
  std::vector<std::string> pieces;
  while (const char* got = file.ReadString(buffer.data(), maxChars)) {
    EXPECT_EQ(got, buffer.data());
    pieces.emplace_back(got);
  }
  return pieces;
}

// Every line ReadString(CString&) returns, until it returns FALSE.
std::vector<std::string> readLines(const std::string& path) {
  CStdioFile file(path.c_str(), kReadText);
  std::vector<std::string> lines;
  CString line;
  while (file.ReadString(line)) lines.push_back(line.str());
  EXPECT_TRUE(line.IsEmpty());
  return lines;
}

using Pieces = std::vector<std::string>;

class StdioFileTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.file("lines.txt");
};

TEST_F(StdioFileTest, WrittenLineFeedsBecomeCrLfOnDisk) {
  {
    CStdioFile file;
    ASSERT_TRUE(file.Open(path.c_str(), kCreateText));
    file.WriteString("KEY value\n");
    file.WriteString("\n");
    file.WriteString("no line feed");
    file.Close();
  }
  EXPECT_EQ(readText(path), "KEY value\r\n\r\nno line feed");
}

TEST_F(StdioFileTest, CrLfAndLfFilesReadTheSame) {
  for (const char* disk : {"one\r\ntwo\r\n\r\nfour\r\n", "one\ntwo\n\nfour\n"}) {
    writeText(path, disk);
    EXPECT_EQ(readPieces(path, 255), (Pieces{"one\n", "two\n", "\n", "four\n"}));
    EXPECT_EQ(readLines(path), (Pieces{"one", "two", "", "four"}));
  }
}

TEST_F(StdioFileTest, LastLineWithoutLineFeedIsReadThenTheEndIsNull) {
  writeText(path, "first\r\nlast");
  EXPECT_EQ(readPieces(path, 255), (Pieces{"first\n", "last"}));
  EXPECT_EQ(readLines(path), (Pieces{"first", "last"}));
}

TEST_F(StdioFileTest, EmptyFileReadsNothing) {
  writeText(path, "");
  EXPECT_TRUE(readPieces(path, 255).empty());
  EXPECT_TRUE(readLines(path).empty());
}

TEST_F(StdioFileTest, LoneCarriageReturnsAreKept) {
  writeText(path, "a\rb\r\nc\r\r\nend\r");
  EXPECT_EQ(readPieces(path, 255), (Pieces{"a\rb\n", "c\r\n", "end\r"}));
}

TEST_F(StdioFileTest, ReadStringTakesAtMostOneLessThanItsSize) {
  const std::string longLine(300, 'x');
  writeText(path, longLine + "\r\nnext\r\n");
  // The library reads lines into 256-byte buffers with a size of 255: a
  // 300-character line arrives as 254 characters, then the rest.
  EXPECT_EQ(readPieces(path, 255),
            (Pieces{std::string(254, 'x'), std::string(46, 'x') + "\n", "next\n"}));
  // With the full 256 the split comes one character later.
  EXPECT_EQ(readPieces(path, 256),
            (Pieces{std::string(255, 'x'), std::string(45, 'x') + "\n", "next\n"}));
  // A line that fills the buffer exactly leaves its line feed for the next
  // read.
  writeText(path, "abc\r\n");
  EXPECT_EQ(readPieces(path, 4), (Pieces{"abc", "\n"}));
  // A size of 1 has room for the terminator only: nothing is ever read.
  CStdioFile file(path.c_str(), kReadText);
  char buffer[4] = "zzz";
  EXPECT_EQ(file.ReadString(buffer, 1), nullptr);
}

TEST_F(StdioFileTest, CrLfPairStraddlingTheReadBufferIsOneLineFeed) {
  // The file is read in 64 KiB pieces; put the CR last in the first piece.
  const std::size_t piece = 64 * 1024;
  std::string disk(piece - 1, 'a');
  disk += "\r\nb\r\n";
  writeText(path, disk);
  const Pieces lines = readLines(path);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(piece - 1, 'a'));
  EXPECT_EQ(lines[1], "b");
}

TEST_F(StdioFileTest, BinaryModeTranslatesNothing) {
  {
    CStdioFile file(path.c_str(),
                    CFile::modeCreate | CFile::modeWrite | CFile::typeBinary);
    file.WriteString("a\nb\r\n");
  }
  EXPECT_EQ(readText(path), "a\nb\r\n");
  CStdioFile file(path.c_str(), CFile::modeRead | CFile::typeBinary);
  char buffer[16];
  ASSERT_NE(file.ReadString(buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "a\n");
  ASSERT_NE(file.ReadString(buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "b\r\n");
}

TEST_F(StdioFileTest, DestroyingAnOpenFileKeepsWhatWasWritten) {
  {
    CStdioFile file(path.c_str(), kCreateText);
    file.WriteString("kept\n");
  }
  EXPECT_EQ(readText(path), "kept\r\n");
}

TEST_F(StdioFileTest, ReadWriteFileRoundTripsAndReportsDiskLength) {
  CStdioFile file(path.c_str(),
                  CFile::modeCreate | CFile::modeReadWrite | CFile::typeText);
  file.WriteString("ab\ncd\n");
  EXPECT_EQ(file.GetLength(), 8u);  // two CR LF pairs on disk
  file.SeekToBegin();
  CString line;
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, "ab");
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, "cd");
  EXPECT_FALSE(file.ReadString(line));
}

// ---- CFile -------------------------------------------------------------

TEST_F(StdioFileTest, OpenOfAMissingFileReturnsFalseAndNamesTheCause) {
  const std::string missing = dir.file("missing.txt");
  CFile file;
  CFileException error;
  EXPECT_FALSE(file.Open(missing.c_str(), CFile::modeRead | CFile::typeBinary,
                         &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  EXPECT_EQ(error.m_lOsError, ENOENT);
  EXPECT_EQ(error.m_strFileName, missing.c_str());
  EXPECT_FALSE(file.IsOpen());
  // Without an exception object the failure is only the result.
  EXPECT_FALSE(file.Open(missing.c_str(), CFile::modeRead));
  CStdioFile text;
  EXPECT_FALSE(text.Open(missing.c_str(), kReadText));
}

TEST_F(StdioFileTest, OpenRefusesADirectoryForReadingAndWriting) {
  const std::string directory = dir.path().string();
  for (UINT flags : {UINT{CFile::modeRead}, UINT{CFile::modeReadWrite},
                     UINT{CFile::modeCreate | CFile::modeWrite}}) {
    SCOPED_TRACE(flags);
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(directory.c_str(), flags, &error));
    EXPECT_EQ(error.m_cause, CFileException::accessDenied);
    EXPECT_EQ(error.m_strFileName, directory.c_str());
    EXPECT_FALSE(file.IsOpen());
  }
}

TEST_F(StdioFileTest, OpeningConstructorsThrowTheFileException) {
  const std::string missing = dir.file("missing.txt");
  auto error = catchPtr<CFileException>(
      [&] { CStdioFile file(missing.c_str(), kReadText); });
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->m_cause, CFileException::fileNotFound);
  EXPECT_EQ(error->m_strFileName, missing.c_str());
  EXPECT_TRUE(throwsPtr<CFileException>(
      [&] { CFile file(missing.c_str(), CFile::modeRead); }));
}

TEST_F(StdioFileTest, BinaryFileReadsWritesAndSeeks) {
  const unsigned char bytes[] = {0, 13, 10, 255, 26, 10};
  {
    CFile file(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
    file.Write(bytes, sizeof bytes);
    EXPECT_EQ(file.GetLength(), sizeof bytes);
    EXPECT_EQ(file.Seek(-2, CFile::end), 4u);
    unsigned char tail[8] = {};
    EXPECT_EQ(file.Read(tail, sizeof tail), 2u);  // only what exists
    EXPECT_EQ(tail[0], 26);
    EXPECT_EQ(file.Read(tail, sizeof tail), 0u);
    auto error = catchPtr<CFileException>([&] { file.Seek(-1, CFile::begin); });
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->m_cause, CFileException::badSeek);
    EXPECT_EQ(file.GetPosition(), 6u);
  }
  // modeNoTruncate keeps the content; modeCreate alone empties the file.
  {
    CFile file(path.c_str(), CFile::modeCreate | CFile::modeNoTruncate |
                                 CFile::modeRead);
    EXPECT_EQ(file.GetLength(), sizeof bytes);
  }
  CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
  EXPECT_EQ(file.GetLength(), 0u);
}

TEST_F(StdioFileTest, OperationsOnAClosedFileThrowInsteadOfTouchingAnything) {
  CFile file;
  char byte = 0;
  EXPECT_TRUE(throwsPtr<CFileException>([&] { file.Read(&byte, 1); }));
  EXPECT_TRUE(throwsPtr<CFileException>([&] { file.Write(&byte, 1); }));
  EXPECT_TRUE(throwsPtr<CFileException>([&] { file.Seek(0, CFile::begin); }));
  file.Close();  // closing a closed file is harmless
  CStdioFile text;
  EXPECT_TRUE(throwsPtr<CFileException>([&] { text.WriteString("x"); }));
}

}  // namespace
