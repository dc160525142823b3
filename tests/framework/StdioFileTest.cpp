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

// Every piece ReadString returns until it reports the end: through
// ReadString(buffer, maxChars), or through ReadString(CString&) when
// maxChars is 0.
Pieces readAll(const std::string& path, UINT maxChars = 0) {
  CStdioFile file(path.c_str(), kReadText);
  std::vector<char> buffer(maxChars + 1, '#');
  CString line;
  Pieces pieces;
  while (maxChars != 0 ? file.ReadString(buffer.data(), maxChars) != nullptr
                       : file.ReadString(line) != FALSE)
    pieces.emplace_back(maxChars != 0 ? buffer.data() : line.str());
  return pieces;
}

TEST(StdioFile, TextModeWritesCrLfReadsCrLfOrLfAsLineFeedsAndReadStringTakesOneLessThanItsSize) {
  testfiles::TempDir dir;
  const std::string path = dir.file("lines.txt");
  CStdioFile(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeText)
      .WriteString("KEY value\n\nno line feed");
  EXPECT_EQ(readText(path), "KEY value\r\n\r\nno line feed");
  const struct {
    const char* disk;
    Pieces pieces, lines;  // through ReadString(buffer, 255), and as CString
  } cases[] = {
      {"one\r\ntwo\n\r\nlast", {"one\n", "two\n", "\n", "last"}, {"one", "two", "", "last"}},
      {"", {}, {}},
      // Lone carriage returns stay.
      {"a\rb\r\nc\r\r\nend\r", {"a\rb\n", "c\r\n", "end\r"}, {"a\rb", "c\r", "end\r"}},
  };
  for (const auto& c : cases) {
    writeText(path, c.disk);
    EXPECT_EQ(readAll(path, 255), c.pieces) << c.disk;
    EXPECT_EQ(readAll(path), c.lines) << c.disk;
  }
  // ReadString takes at most one less than its size. (A line longer than the
  // library's 255 continues as the next line: the table tests pin that.)
  writeText(path, "abc\r\n");  // filling the buffer leaves the line feed
  EXPECT_EQ(readAll(path, 4), (Pieces{"abc", "\n"}));
  char two[2];  // a size of 1 has room for the terminator only
  EXPECT_EQ(CStdioFile(path.c_str(), kReadText).ReadString(two, 1), nullptr);
  // A CR LF pair straddling the 64 KiB read buffer is one line feed.
  const std::string a(64 * 1024 - 1, 'a');
  writeText(path, a + "\r\nb\r\n");
  EXPECT_EQ(readAll(path), (Pieces{a, "b"}));
}

TEST(StdioFile, FailedOpensReportTheCauseAFileNotOpenThrowsAndBinaryModeTranslatesNothing) {
  testfiles::TempDir dir;
  auto expectOpenFails = [](const std::string& name, UINT flags, int cause) {
    auto thrown = catchPtr<CFileException>([&] { CStdioFile opened(name.c_str(), flags); });
    ASSERT_NE(thrown, nullptr);
    EXPECT_EQ(thrown->m_cause, cause);
    EXPECT_EQ(thrown->m_lOsError == ENOENT, cause == CFileException::fileNotFound);
    EXPECT_EQ(thrown->m_strFileName, name.c_str());
  };
  expectOpenFails(dir.file("missing.txt"), CFile::modeRead, CFileException::fileNotFound);
  expectOpenFails(dir.path().string(), CFile::modeCreate | CFile::modeWrite,
                  CFileException::accessDenied);
  CStdioFile closed;
  char byte = 0;
  EXPECT_TRUE(throwsPtr<CFileException>([&] { closed.Read(&byte, 1); }));
  EXPECT_TRUE(throwsPtr<CFileException>([&] { closed.WriteString("x"); }));
  closed.Close();  // closing a closed file is harmless
  // Binary mode translates nothing; a file is truncated only when asked.
  const std::string path = dir.file("lines.txt");
  CStdioFile(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary)
      .WriteString("a\nb\r\n\x1A\nend");
  EXPECT_EQ(readText(path), "a\nb\r\n\x1A\nend");
  EXPECT_EQ(CFile(path.c_str(), CFile::modeCreate | CFile::modeNoTruncate).GetLength(), 10u);
  // Text mode on a read-write file: the length is what lies on the disk.
  CStdioFile both(path.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::typeText);
  both.WriteString("ab\ncd\n");
  EXPECT_EQ(both.GetLength(), 8u);  // truncated, then two CR LF pairs
  both.SeekToBegin();
  CString line;
  ASSERT_TRUE(both.ReadString(line));
  EXPECT_EQ(line, "ab");
}

}  // namespace
