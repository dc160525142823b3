#include "framework/Exceptions.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/ThrownPtr.h"

using testfiles::catchPtr;

namespace {

std::string message(const CException& e, UINT size = 512) {
  std::string text(size, '#');
  EXPECT_TRUE(e.GetErrorMessage(text.data(), size));
  return text.c_str();
}

TEST(Exceptions, FileExceptionMessageNamesTheFileAndTheCause) {
  const CFileException missing(CFileException::fileNotFound, ENOENT,
                               "/data/ENV.VD6");
  const std::string text = message(missing);
  EXPECT_EQ(text.rfind("/data/ENV.VD6: file not found", 0), 0u) << text;
  EXPECT_NE(text.find(std::strerror(ENOENT)), std::string::npos) << text;

  EXPECT_EQ(message(CFileException(CFileException::badSeek)), "bad seek");
  EXPECT_EQ(message(CFileException(CFileException::diskFull, -1, "out.dis")),
            "out.dis: disk full");
  // A message given at the throw replaces the description of the cause.
  EXPECT_EQ(message(CFileException(CFileException::invalidFile, -1, "a.dis",
                                   "plane region crosses the file end")),
            "a.dis: plane region crosses the file end");
  EXPECT_EQ(message(CFileException(99)), "unknown error");
}

TEST(Exceptions, OtherExceptionsDescribeThemselves) {
  EXPECT_EQ(message(CMemoryException()), "out of memory");
  EXPECT_EQ(message(CInvalidArgException()), "invalid argument");
  EXPECT_EQ(message(CInvalidArgException("index 7")),
            "invalid argument: index 7");
  EXPECT_EQ(message(CException()), "unknown error");
}

TEST(Exceptions, ErrorMessageIsCutToTheBufferAndAlwaysTerminated) {
  const CMemoryException e;
  char text[5] = {'#', '#', '#', '#', '#'};
  EXPECT_TRUE(e.GetErrorMessage(text, sizeof text));
  EXPECT_STREQ(text, "out ");
  char one[1] = {'#'};
  EXPECT_TRUE(e.GetErrorMessage(one, 1));
  EXPECT_EQ(one[0], '\0');
  EXPECT_FALSE(e.GetErrorMessage(one, 0));
  EXPECT_FALSE(e.GetErrorMessage(nullptr, 10));
}

TEST(Exceptions, AreThrownAsPointersAndCaughtThroughTheirBase) {
  auto error = catchPtr<CException>(
      [] { CFileException::ThrowOsError(ENOENT, "gone.txt"); });
  ASSERT_NE(error, nullptr);
  auto* file = dynamic_cast<CFileException*>(error.get());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->m_cause, CFileException::fileNotFound);
  EXPECT_EQ(file->m_lOsError, ENOENT);
  EXPECT_EQ(file->m_strFileName, "gone.txt");
}

}  // namespace
