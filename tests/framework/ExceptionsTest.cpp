#include "framework/Exceptions.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

std::string message(const CException& e) {
  char text[512];
  EXPECT_TRUE(e.GetErrorMessage(text, sizeof text));
  return text;
}

TEST(Exceptions, MessagesNameTheFileAndTheCause) {
  const std::string missing = message(
      CFileException(CFileException::fileNotFound, ENOENT, "/data/ENV.VD6"));
  EXPECT_EQ(missing, std::string("/data/ENV.VD6: file not found (") +
                         std::strerror(ENOENT) + ")");
  EXPECT_EQ(message(CFileException(CFileException::badSeek)), "bad seek");
  EXPECT_EQ(message(CFileException(CFileException::diskFull, -1, "out.dis")),
            "out.dis: disk full");
  // A message given at the throw replaces the description of the cause.
  EXPECT_EQ(message(CFileException(CFileException::invalidFile, -1, "a.dis",
                                   "plane region crosses the file end")),
            "a.dis: plane region crosses the file end");
  EXPECT_EQ(message(CFileException(99)), "unknown error");
  EXPECT_EQ(message(CMemoryException()), "out of memory");
  EXPECT_EQ(message(CInvalidArgException("index 7")),
            "invalid argument: index 7");
  EXPECT_EQ(message(CException()), "unknown error");
}

TEST(Exceptions, ErrorMessageIsCutToTheBufferAndAlwaysTerminated) {
  const CMemoryException e;
  char text[5] = {'#', '#', '#', '#', '#'};
  EXPECT_TRUE(e.GetErrorMessage(text, sizeof text));
  EXPECT_STREQ(text, "out ");
  EXPECT_TRUE(e.GetErrorMessage(text, 1));
  EXPECT_EQ(text[0], '\0');
  EXPECT_FALSE(e.GetErrorMessage(text, 0));
  EXPECT_FALSE(e.GetErrorMessage(nullptr, 10));
}

}  // namespace
